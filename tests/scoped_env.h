// Test helpers that change process state for one test and put it back: a
// temporary directory removed with its contents, an environment variable,
// the current directory.
#pragma once

#include <kxfpx/profile.h>

#include "support.h"

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

namespace kxtest {

class ScopedEnv {
public:
    // A null value unsets the variable for the scope.
    ScopedEnv(const char *name, const char *value) : name_(name)
    {
        if (const char *old = ::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
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
