// The input of an import or a file-information query, opened one of three
// ways: through the host's I/O procedure, from a memory handle holding the
// whole file, or by path. The owner keeps what the open file reads through
// (the locked memory handle) and releases it after closing the file.
#pragma once

#include <kxfpx/qorfile.h>

namespace kxfpx::fpx {

class InputFile {
public:
    InputFile() = default;
    // Closes the file, then unlocks the memory handle it read from.
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    // Each sets the file to little-endian when it opened; get() is null
    // when it did not.
    void open_callback(const char *path, HostIoProc proc, void *ioHandle);
    void open_memory(HGLOBAL block);
    void open_path(const char *path);

    QorFile get() const { return file_; }

private:
    void opened(QorFile file);

    QorFile file_ = nullptr;
    HGLOBAL locked_ = nullptr;
    // The memory record reads through the address of this pointer, so it
    // lives as long as the file.
    void *data_ = nullptr;
};

} // namespace kxfpx::fpx
