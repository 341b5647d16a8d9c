// Typed reads and writes on a QorFile: 16-, 32- and 64-bit values in the
// handle's byte order, 32-bit floats as IEEE singles or 16.16 fixed point.
// An array read is one qorRead followed by an in-place conversion; writes go
// element by element. Also the data-format fields and qorNativeToLE/BE.
#include "io/qorfile_rec.h"

#include <climits>
#include <cmath>
#include <cstring>

namespace {

using namespace kxfpx::io;

constexpr double kFixedOne = 65536.0; // 1.0 in 16.16 fixed point

struct DataFormat {
    int16_t byteOrder = 0;
    int16_t floatFormat = 0;
};

DataFormat data_format(QorFile file)
{
    RecordLock rec(file);
    DataFormat format;
    if (rec) {
        format.byteOrder = rec->dataFormat;
        format.floatFormat = rec->floatFormat;
    }
    return format;
}

void reverse_bytes(uint8_t *p, size_t size)
{
    for (size_t i = 0, j = size - 1; i < j; i++, j--) {
        const uint8_t t = p[i];
        p[i] = p[j];
        p[j] = t;
    }
}

void reverse_each(uint8_t *p, int32_t count, size_t size)
{
    for (int32_t i = 0; i < count; i++, p += size)
        reverse_bytes(p, size);
}

// One qorRead of count elements; all or nothing. The byte order is applied
// only after a complete read, so a short read leaves the raw bytes. The
// handle's format is handed back for a conversion that follows.
int32_t read_elements(QorFile file, void *dest, int32_t count, size_t size, DataFormat &format)
{
    if (count <= 0 || count > INT32_MAX / static_cast<int32_t>(size))
        return 0;
    const int32_t bytes = count * static_cast<int32_t>(size);
    if (qorRead(file, dest, bytes) != bytes)
        return 0;
    format = data_format(file);
    if (format.byteOrder == kBigEndian)
        reverse_each(static_cast<uint8_t *>(dest), count, size);
    return count;
}

int32_t read_plain(QorFile file, void *dest, int32_t count, size_t size)
{
    DataFormat format;
    return read_elements(file, dest, count, size, format);
}

// One qorWrite per element, each already in the file's order. Stops at the
// first write that does not succeed and returns its result.
template <typename Encode>
int32_t write_elements(QorFile file, const void *src, int32_t count, size_t size, Encode encode)
{
    if (count <= 0 || !src)
        return 0;
    const uint8_t *in = static_cast<const uint8_t *>(src);
    uint8_t element[8];
    int32_t last = 0;
    for (int32_t i = 0; i < count; i++, in += size) {
        encode(in, element);
        last = qorWrite(file, element, static_cast<int32_t>(size));
        if (last <= 0)
            return last;
    }
    return count;
}

int32_t write_plain(QorFile file, const void *src, int32_t count, size_t size)
{
    const bool swap = data_format(file).byteOrder == kBigEndian;
    return write_elements(file, src, count, size, [size, swap](const uint8_t *in, uint8_t *out) {
        std::memcpy(out, in, size);
        if (swap)
            reverse_bytes(out, size);
    });
}

// value x 65536 truncated toward zero; out-of-range values saturate and NaN
// gives 0, where a plain conversion would be undefined.
int32_t to_fixed(float value)
{
    const double scaled = static_cast<double>(value) * kFixedOne;
    if (std::isnan(scaled))
        return 0;
    if (scaled >= static_cast<double>(INT32_MAX))
        return INT32_MAX;
    if (scaled <= static_cast<double>(INT32_MIN))
        return INT32_MIN;
    return static_cast<int32_t>(scaled);
}

} // namespace

extern "C" {

KX_API int32_t qorReadChar(QorFile file, void *dest, int32_t count) { return qorRead(file, dest, count); }

KX_API int32_t qorReadShort(QorFile file, void *dest, int32_t count)
{
    return read_plain(file, dest, count, sizeof(int16_t));
}

KX_API int32_t qorReadLong(QorFile file, void *dest, int32_t count)
{
    return read_plain(file, dest, count, sizeof(int32_t));
}

KX_API int32_t qorReadFloat(QorFile file, void *dest, int32_t count)
{
    DataFormat format;
    const int32_t result = read_elements(file, dest, count, sizeof(float), format);
    if (result > 0 && format.floatFormat == kFixedPoint) {
        uint8_t *p = static_cast<uint8_t *>(dest);
        for (int32_t i = 0; i < count; i++, p += sizeof(float)) {
            int32_t fixed;
            std::memcpy(&fixed, p, sizeof fixed);
            const float value = static_cast<float>(static_cast<double>(fixed) / kFixedOne);
            std::memcpy(p, &value, sizeof value);
        }
    }
    return result;
}

KX_API int32_t qorReadDouble(QorFile file, void *dest, int32_t count)
{
    return read_plain(file, dest, count, sizeof(double));
}

KX_API int32_t qorWriteChar(QorFile file, const void *src, int32_t count)
{
    return qorWrite(file, src, count);
}

KX_API int32_t qorWriteShort(QorFile file, const void *src, int32_t count)
{
    return write_plain(file, src, count, sizeof(int16_t));
}

KX_API int32_t qorWriteLong(QorFile file, const void *src, int32_t count)
{
    return write_plain(file, src, count, sizeof(int32_t));
}

KX_API int32_t qorWriteFloat(QorFile file, const void *src, int32_t count)
{
    const DataFormat format = data_format(file);
    if (format.floatFormat != kFixedPoint)
        return write_plain(file, src, count, sizeof(float));
    const bool swap = format.byteOrder == kBigEndian;
    return write_elements(file, src, count, sizeof(float), [swap](const uint8_t *in, uint8_t *out) {
        float value;
        std::memcpy(&value, in, sizeof value);
        const int32_t fixed = to_fixed(value);
        std::memcpy(out, &fixed, sizeof fixed);
        if (swap)
            reverse_bytes(out, sizeof fixed);
    });
}

KX_API int32_t qorWriteDouble(QorFile file, const void *src, int32_t count)
{
    return write_plain(file, src, count, sizeof(double));
}

// A null handle is accepted and ignored: callers may set the format before
// they check that the open succeeded.
KX_API int32_t qorSetDataFormat(QorFile file, int16_t byteOrder, int16_t floatFormat)
{
    RecordLock rec(file);
    if (rec) {
        rec->dataFormat = byteOrder;
        rec->floatFormat = floatFormat;
    }
    return 0;
}

// A null handle has no format: -1, and nothing is stored.
KX_API int32_t qorGetDataFormat(QorFile file, int16_t *byteOrder, int16_t *floatFormat)
{
    RecordLock rec(file);
    if (!rec)
        return -1;
    if (byteOrder)
        *byteOrder = rec->dataFormat;
    if (floatFormat)
        *floatFormat = rec->floatFormat;
    return 0;
}

KX_API void qorNativeToLE(void *buffer, uint32_t value, int32_t count)
{
    uint8_t *out = static_cast<uint8_t *>(buffer);
    for (int32_t i = 0; out && i < count; i++)
        out[i] = i < 4 ? static_cast<uint8_t>(value >> (8 * i)) : 0;
}

KX_API void qorNativeToBE(void *buffer, uint32_t value, int32_t count)
{
    uint8_t *out = static_cast<uint8_t *>(buffer);
    for (int32_t i = 0; out && i < count; i++)
        out[count - 1 - i] = i < 4 ? static_cast<uint8_t>(value >> (8 * i)) : 0;
}

} // extern "C"
