// Text lines on a QorFile: reading one line whatever its end (LF, CR LF or
// CR alone), writing one with the handle's line end, and guessing a text
// file's line end from its first one.
#include "io/qorfile_rec.h"

#include <algorithm>
#include <cstring>

namespace {

using namespace kxfpx::io;

constexpr char kCr = '\r';
constexpr char kLf = '\n';

bool read_byte(QorFile file, char *c) { return qorRead(file, c, 1) == 1; }

// The bytes of a line that a plain file's read window already holds, taken
// in one scan instead of one qorRead each: copies up to `room` bytes before
// the first CR or LF into `out` and steps the window past them. Returns the
// count copied; 0 whenever the window is empty or the record is read some
// other way (host callback, host object, Compound File stream), which the
// byte-by-byte path then handles exactly as before.
int32_t take_windowed(QorFile file, char *out, int32_t room)
{
    RecordLock rec(file);
    if (!rec || is_callback(*rec) || is_object(*rec) || rec->inCompound || !rec->bufHandle || rec->bufIndex < 0)
        return 0;
    const int64_t available = static_cast<int64_t>(rec->bufLast) - rec->bufIndex + 1;
    if (available <= 0)
        return 0;
    const auto *window = static_cast<const char *>(GlobalLock(rec->bufHandle)) + rec->bufIndex;
    const int32_t limit = static_cast<int32_t>(std::min<int64_t>(available, room));
    int32_t n = 0;
    while (n < limit && window[n] != kCr && window[n] != kLf)
        ++n;
    std::memcpy(out, window, static_cast<size_t>(n));
    rec->bufIndex += n;
    return n;
}

} // namespace

extern "C" {

KX_API int32_t qorSetLineFormat(QorFile file, int16_t lineFormat)
{
    RecordLock rec(file);
    if (rec)
        rec->lineFormat = lineFormat;
    return 0;
}

KX_API int32_t qorGetLineFormat(QorFile file)
{
    int32_t format = -1;
    char c = 0;
    while (read_byte(file, &c)) {
        if (c == kLf) {
            format = kLineLf;
            break;
        }
        if (c == kCr) {
            char next = 0;
            format = read_byte(file, &next) && next == kLf ? kLineCrLf : kLineCr;
            break;
        }
    }
    qorSeek(file, 0, SEEK_SET);
    return format;
}

// A buffer of no room holds no line: size 0 gives 0, a negative size or a
// null buffer -1, and nothing is stored.
KX_API int32_t qorReadLine(QorFile file, char *buffer, int32_t size)
{
    if (!buffer || size < 0)
        return -1;
    if (size == 0)
        return 0;
    buffer[0] = '\0';
    int32_t stored = 0;
    while (stored < size) {
        stored += take_windowed(file, buffer + stored, size - stored);
        if (stored == size)
            break;
        char c = 0;
        if (!read_byte(file, &c)) {
            buffer[stored] = '\0';
            return -1;
        }
        if (c == kLf) {
            buffer[stored] = '\0';
            return stored;
        }
        if (c == kCr) {
            // Only a byte that was actually read is stepped back over: at the
            // end of the file there is nothing to give back, and stepping
            // onto the CR again would return the same empty line forever.
            char next = 0;
            if (read_byte(file, &next) && next != kLf)
                qorSeek(file, -1, SEEK_CUR);
            buffer[stored] = '\0';
            return stored;
        }
        buffer[stored++] = c;
    }
    // The line fills the buffer: no terminator, the rest waits for next time.
    return size;
}

KX_API int32_t qorWriteLine(QorFile file, const char *text, int32_t length)
{
    int16_t format = kLineCrLf;
    {
        RecordLock rec(file);
        if (rec)
            format = rec->lineFormat;
    }
    const int32_t written = qorWrite(file, text, length);
    static const char cr = kCr;
    static const char lf = kLf;
    int32_t end;
    if (format == kLineCr) {
        end = qorWrite(file, &cr, 1);
    } else if (format == kLineLf) {
        end = qorWrite(file, &lf, 1);
    } else {
        end = qorWrite(file, &cr, 1);
        if (end != 1)
            return end;
        end = qorWrite(file, &lf, 1);
    }
    return end == 1 ? written : end;
}

} // extern "C"
