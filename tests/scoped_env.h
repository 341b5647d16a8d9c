// Process state changed for one scope and put back: an environment variable
// (a null value unsets it) and the current directory.
#pragma once

#include "support.h"

#include <optional>

namespace kxtest {

class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name)
    {
        if (const char *old = ::getenv(name))
            old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_.c_str(), old_->c_str(), 1) : ::unsetenv(name_.c_str()); }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

class ScopedCwd {
public:
    explicit ScopedCwd(const std::string &dir)
    {
        char buffer[4096];
        if (::getcwd(buffer, sizeof buffer))
            old_ = buffer;
        ok_ = ::chdir(dir.c_str()) == 0;
    }
    ~ScopedCwd()
    {
        if (!old_.empty() && ::chdir(old_.c_str()) != 0)
            std::perror("chdir");
    }
    ScopedCwd(const ScopedCwd &) = delete;
    ScopedCwd &operator=(const ScopedCwd &) = delete;
    bool ok() const { return ok_; }

private:
    std::string old_;
    bool ok_ = false;
};

} // namespace kxtest
