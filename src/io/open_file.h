// An owner of an open QorFile: closes it when the scope ends, or earlier
// through close(), which gives qorClose's result. Shared by qorCopy and the
// profile reader and writer.
#pragma once

#include <kxfpx/qorfile.h>

#include <cstdint>

namespace kxfpx::io {

class OpenFile {
public:
    explicit OpenFile(QorFile file) : file_(file) {}
    ~OpenFile() { close(); }
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;

    QorFile get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }
    // qorClose's result; 0 when nothing was open.
    int32_t close()
    {
        const int32_t result = file_ ? qorClose(file_) : 0;
        file_ = nullptr;
        return result;
    }

private:
    QorFile file_;
};

} // namespace kxfpx::io
