// InputFile: opens the input with qorOpen from a host I/O procedure, a
// memory handle or a path, and closes it (and unlocks the handle) at the
// end of the owner's scope.
#include "fpx/input_source.h"

#include <kxfpx/memory.h>

namespace kxfpx::fpx {

namespace {
constexpr uint32_t kOpenForReading = QOR_READ;
} // namespace

InputFile::~InputFile()
{
    if (file_)
        (void)qorClose(file_);
    if (locked_)
        GlobalUnlock(locked_);
}

void InputFile::opened(QorFile file)
{
    file_ = file;
    if (file_)
        (void)qorSetDataFormat(file_, QOR_LITTLE_ENDIAN, QOR_IEEE_FLOATS);
}

void InputFile::open_callback(const char *path, HostIoProc proc, void *ioHandle)
{
    QorOpenDesc desc{};
    desc.blockPtr = ioHandle;
    desc.ioCallback = proc;
    opened(qorOpen(path, &desc, kOpenForReading));
}

void InputFile::open_memory(HGLOBAL block)
{
    // A null handle has no size to give the descriptor: no file opens.
    if (!block)
        return;
    data_ = GlobalLock(block);
    if (data_)
        locked_ = block;
    QorOpenDesc desc{};
    desc.blockPtr = &data_;
    desc.blockSize = static_cast<int32_t>(GlobalSize(block));
    opened(qorOpen(nullptr, &desc, kOpenForReading));
}

void InputFile::open_path(const char *path) { opened(qorOpen(path, nullptr, kOpenForReading)); }

} // namespace kxfpx::fpx
