// The stream view's callback: reads and seeks follow docRead and docSeek (a
// read gives min(count, size - position) bytes, a seek is clamped to the
// stream), served from the bytes shown; nothing else is read.
#include "io/stream_view.h"

#include "io/stream_position.h"

#include <cstring>

namespace kxfpx::io {

StreamView::~StreamView()
{
    if (file_)
        (void)qorClose(file_);
}

bool StreamView::open(int16_t byteOrder, int16_t floatFormat)
{
    QorOpenDesc desc{};
    desc.ioCallback = &StreamView::callback;
    desc.ioContext = this;
    file_ = qorOpen(nullptr, &desc, QOR_HANDED);
    if (!file_)
        return false;
    (void)qorSetDataFormat(file_, byteOrder, floatFormat);
    return true;
}

void StreamView::show(const uint8_t *bytes, uint32_t base, uint32_t length, uint32_t streamSize)
{
    bytes_ = bytes;
    base_ = base;
    length_ = length;
    size_ = streamSize;
    position_ = base;
    overran_ = false;
}

int32_t StreamView::read(void *out, int32_t count)
{
    if (count < 0 || (count > 0 && !out))
        return -1;
    const uint32_t left = position_ < size_ ? size_ - position_ : 0;
    const uint32_t n = left < static_cast<uint32_t>(count) ? left : static_cast<uint32_t>(count);
    if (n == 0)
        return 0;
    if (position_ < base_ || uint64_t{position_} + n > uint64_t{base_} + length_) {
        overran_ = true;
        return 0;
    }
    std::memcpy(out, bytes_ + (position_ - base_), n);
    position_ += n;
    return static_cast<int32_t>(n);
}

int64_t StreamView::callback(void *self, int32_t operation, void *data, int64_t count)
{
    auto *view = static_cast<StreamView *>(self);
    switch (operation) {
    case QOR_IO_READ:
        return view->read(data, static_cast<int32_t>(count));
    case QOR_IO_SEEK: {
        if (!data)
            return -1;
        const int64_t target = stream_seek_target(view->position_, view->size_,
                                                  *static_cast<int32_t *>(data),
                                                  static_cast<int32_t>(count));
        if (target < 0)
            return -1;
        view->position_ = static_cast<uint32_t>(target);
        return target;
    }
    case QOR_IO_CLOSE:
        return 0;
    default:
        return -1;  // a view is never written
    }
}

} // namespace kxfpx::io
