// Record format strings ("64C1S2C3L16C1L2D2L2C", "3L{4C}"): whole records
// moved between a QorFile, where the fields lie packed, and a memory image
// laid out like a naturally aligned structure. One walker serves the reader
// and the writer; GetPadWidth and GetUnionSize give alignments and sizes.
#include "io/qorfile_rec.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace {

constexpr int64_t kMaxCount = 0x0FFFFFFF;        // largest count a record may give
constexpr uint64_t kMaxOffset = 0xFFFFFFFFull;   // the running offset stays within 32 bits
constexpr int32_t kDoubleAlign = 8;              // a "D" ends the alignment scan

enum : char {
    kChar = 'C',
    kShort = 'S',
    kLong = 'L',
    kFloat = 'F',
    kDouble = 'D',
    kPointer = 'P',
    kSkipOpen = '[',
    kSkipClose = ']',
    kGroupOpen = '{',
    kGroupClose = '}',
    kUnionOpen = '(',
    kUnionBar = '|',
    kUnionClose = ')'
};

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

using ReadFn = int32_t (*)(QorFile, void *, int32_t);
using WriteFn = int32_t (*)(QorFile, const void *, int32_t);

struct FieldKind {
    int32_t size; // bytes per element, in the file and in memory
    ReadFn read;
    WriteFn write;
};

// The fields; each is aligned in memory to its own size.
const FieldKind *field_kind(char c)
{
    static const FieldKind kinds[] = {
        {1, qorReadChar, qorWriteChar},  {2, qorReadShort, qorWriteShort},
        {4, qorReadLong, qorWriteLong},  {4, qorReadFloat, qorWriteFloat},
        {8, qorReadDouble, qorWriteDouble},
    };
    switch (c) {
    case kChar: return &kinds[0];
    case kShort: return &kinds[1];
    case kLong: return &kinds[2];
    case kFloat: return &kinds[3];
    case kDouble: return &kinds[4];
    default: return nullptr;
    }
}

struct Count {
    int64_t value = 1;
    bool given = false;
};

// An optional decimal count. Digits past what a count may hold are still
// consumed, but the value stops growing once it exceeds kMaxCount, so any
// number of digits parses without overflow.
const char *parse_count(const char *p, Count &count)
{
    count = Count();
    if (!is_digit(*p))
        return p;
    int64_t value = 0;
    for (; is_digit(*p); p++) {
        if (value <= kMaxCount)
            value = value * 10 + (*p - '0');
    }
    count.value = value;
    count.given = true;
    return p;
}

int64_t align_up(int64_t offset, int64_t alignment) { return (offset + alignment - 1) / alignment * alignment; }

// Walks `count` records of `format` over the memory image `mem`, reading the
// fields into it or writing them from it.
class RecordWalker {
public:
    RecordWalker(QorFile file, const char *format, uint8_t *mem, bool reading)
        : file_(file), format_(format), mem_(mem), reading_(reading)
    {
    }

    int32_t run(int32_t count)
    {
        const int32_t record_align = GetPadWidth(format_);
        int32_t completed = 0;
        for (int32_t r = 0; r < count; r++) {
            bool flawed = false;
            int32_t status = 1;
            for (const char *p = format_; *p && status > 0;)
                p = item(p, flawed, status);
            if (status <= 0)
                return status;
            // The record ends on its own alignment.
            if (!pad_to(record_align, true))
                return -1;
            if (!flawed)
                completed++;
        }
        return completed;
    }

private:
    // Handles the item at p; returns where the next one starts. status
    // becomes the failing field's result (< 1), or -1 for a count or offset
    // out of range.
    const char *item(const char *p, bool &flawed, int32_t &status)
    {
        Count count;
        p = parse_count(p, count);
        if (!*p)
            return p; // a trailing count names nothing
        const char *at = p++;
        const char c = upper(*at);
        if (is_letter(c)) {
            // The writer refuses an explicit 0 or an absurd count at once;
            // the reader refuses absurd counts too, since it would read that
            // much into the caller's record.
            if ((count.given && count.value == 0 && !reading_) || count.value > kMaxCount) {
                status = -1;
                return p;
            }
        }
        if (const FieldKind *kind = field_kind(c)) {
            // The padding before a 16-bit field is left as it was.
            if (!pad_to(kind->size, c != kShort)) {
                status = -1;
                return p;
            }
            const int32_t n = static_cast<int32_t>(count.value);
            if (!skipping_) {
                const int32_t got = reading_ ? kind->read(file_, mem_ + offset_, n)
                                             : kind->write(file_, mem_ + offset_, n);
                if (got < 1) {
                    status = got;
                    return p;
                }
            }
            if (!advance(static_cast<int64_t>(kind->size) * n))
                status = -1;
            return p;
        }
        switch (c) {
        case kSkipOpen:
            skipping_ = true;
            break;
        case kSkipClose:
            skipping_ = false;
            break;
        case kGroupOpen:
            if (!pad_to(GetPadWidth(at), true))
                status = -1;
            break;
        case kGroupClose:
            break; // no trailing padding after a group
        case kUnionOpen:
            if (!reading_) {
                flawed = true;
                break;
            }
            {
                // Laid out but not read: align, then step over the union.
                int32_t size = 0;
                if (!pad_to(GetPadWidth(at), true)) {
                    status = -1;
                    break;
                }
                const char *close = GetUnionSize(at, &size);
                if (!advance(size))
                    status = -1;
                return *close ? close + 1 : close;
            }
        case kUnionBar:
            break;
        case kUnionClose:
        case kPointer:
            if (!reading_)
                flawed = true;
            break;
        default:
            flawed = true; // unknown character: the record does not count
            break;
        }
        return p;
    }

    // Rounds the running offset up; the reader zeroes the padding (unless
    // told to leave it), the writer skips it.
    bool pad_to(int32_t alignment, bool zero)
    {
        const int64_t target = align_up(offset_, alignment);
        if (static_cast<uint64_t>(target) > kMaxOffset)
            return false;
        if (reading_ && zero && target > offset_)
            std::memset(mem_ + offset_, 0, static_cast<size_t>(target - offset_));
        offset_ = target;
        return true;
    }

    bool advance(int64_t bytes)
    {
        if (static_cast<uint64_t>(offset_ + bytes) > kMaxOffset)
            return false;
        offset_ += bytes;
        return true;
    }

    QorFile file_;
    const char *format_;
    uint8_t *mem_;
    bool reading_;
    bool skipping_ = false;
    int64_t offset_ = 0; // never reset between records
};

int32_t walk(QorFile file, const char *format, uint8_t *mem, int32_t count, bool reading)
{
    if (count <= 0)
        return 0;
    if (!format || !mem)
        return -1;
    return RecordWalker(file, format, mem, reading).run(count);
}

} // namespace

extern "C" {

KX_API int32_t GetPadWidth(const char *format)
{
    if (!format)
        return 1;
    // A scan that starts at an opener ends at its closer; any other ends at
    // the closer of the group it stands in, or at the end of the string.
    const bool from_opener = *format == kGroupOpen || *format == kUnionOpen;
    int32_t depth = 0;
    int32_t width = 1;
    for (const char *p = format; *p; p++) {
        switch (upper(*p)) {
        case kChar:
            break;
        case kShort:
            width = width < 2 ? 2 : width;
            break;
        case kLong:
        case kFloat:
            width = width < 4 ? 4 : width;
            break;
        case kDouble:
            return kDoubleAlign;
        case kGroupOpen:
        case kUnionOpen:
            depth++;
            break;
        case kGroupClose:
        case kUnionClose:
            depth--;
            if (from_opener ? depth == 0 : depth < 0)
                return width;
            break;
        default:
            break;
        }
    }
    return width;
}

// Each alternative is laid out from offset 0; the union is as large as its
// largest alternative. The alternative before ")" counts as well as those
// before a bar, as in a C union, so the fields after a union never overlap
// any of its members. Nested unions are kept on an explicit stack, so deep
// nesting cannot exhaust the call stack.
KX_API const char *GetUnionSize(const char *format, int32_t *size)
{
    if (!format)
        return format;
    struct Level {
        int64_t offset;
        int64_t largest;
    };
    std::vector<Level> levels{{0, 0}};
    // Offsets and sizes saturate at the largest signed 32-bit value.
    const auto saturated = [](int64_t value) { return std::min<int64_t>(value, INT32_MAX); };
    const auto finish = [&saturated](const Level &level) {
        return saturated(std::max(level.offset, level.largest));
    };
    const char *p = *format == kUnionOpen ? format + 1 : format;
    while (*p) {
        Count count;
        p = parse_count(p, count);
        if (!*p)
            break;
        const char c = upper(*p);
        Level &level = levels.back();
        if (const FieldKind *kind = field_kind(c)) {
            level.offset = saturated(align_up(level.offset, kind->size) + kind->size * count.value);
        } else if (c == kGroupOpen) {
            level.offset = align_up(level.offset, GetPadWidth(p));
        } else if (c == kUnionOpen) {
            level.offset = align_up(level.offset, GetPadWidth(p));
            levels.push_back({0, 0});
        } else if (c == kUnionBar) {
            level.largest = finish(level);
            level.offset = 0;
        } else if (c == kUnionClose) {
            const int64_t inner = finish(level);
            levels.pop_back();
            if (levels.empty()) {
                if (size)
                    *size = static_cast<int32_t>(inner);
                return p;
            }
            Level &outer = levels.back();
            outer.offset = saturated(outer.offset + inner);
        }
        p++;
    }
    // No closing ")": the union runs to the end of the format.
    if (size)
        *size = static_cast<int32_t>(finish(levels.front()));
    return p;
}

KX_API int32_t qorReadStruct(QorFile file, const char *format, void *dest, int32_t count)
{
    return walk(file, format, static_cast<uint8_t *>(dest), count, true);
}

KX_API int32_t qorWriteStruct(QorFile file, const char *format, const void *src, int32_t count)
{
    // The writer only reads the image; the walker's memory pointer is shared
    // with the reader, which writes it.
    return walk(file, format, static_cast<uint8_t *>(const_cast<void *>(src)), count, false);
}

} // extern "C"
