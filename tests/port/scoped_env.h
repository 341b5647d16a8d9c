// Test helpers that change process state for one test and put it back: a
// temporary directory removed with its contents, an environment variable,
// the current directory.
#pragma once

#include <kxfpx/profile.h>

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

namespace kxtest {

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/kxfpx-test-XXXXXX";
        const char *made = ::mkdtemp(pattern);
        path_ = made ? made : "";
    }
    ~TempDir()
    {
        if (!path_.empty())
            ::nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

    // Writes `text` into a file of this directory; returns its path.
    std::string write(const std::string &name, const std::string &text) const
    {
        const std::string full = file(name);
        if (std::FILE *f = std::fopen(full.c_str(), "w")) {
            std::fputs(text.c_str(), f);
            std::fclose(f);
        }
        return full;
    }

private:
    static int remove_entry(const char *path, const struct stat *, int, struct FTW *)
    {
        return ::remove(path);
    }
    std::string path_;
};

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
