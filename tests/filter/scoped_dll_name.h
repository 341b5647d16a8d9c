// Puts a path into import_szDLLName (where the family's loader writes the
// library's path) for one scope and restores the old buffer afterwards.
#pragma once

#include <kxfpx/filter.h>

#include <cstring>

namespace kxtest {

class ScopedDllName {
public:
    explicit ScopedDllName(const char *path)
    {
        std::memcpy(saved_, import_szDLLName, sizeof saved_);
        std::memset(import_szDLLName, 0, sizeof import_szDLLName);
        std::strncpy(import_szDLLName, path, sizeof import_szDLLName - 1);
    }
    ~ScopedDllName() { std::memcpy(import_szDLLName, saved_, sizeof saved_); }
    ScopedDllName(const ScopedDllName &) = delete;
    ScopedDllName &operator=(const ScopedDllName &) = delete;

private:
    char saved_[sizeof import_szDLLName];
};

} // namespace kxtest
