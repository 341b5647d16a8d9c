// Formatting and appending the lines of the call log. The file is opened in
// append mode for each line, so several contexts, or several processes, can
// share one log without losing lines.
#include "call_log.h"
#include "picture.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace zo {

namespace {

constexpr const char kLogVariable[] = "KXFPX_OUTPUT_LOG";

} // namespace

CallLog::CallLog(const char *name)
{
    const char *path = std::getenv(kLogVariable);
    path_ = path && *path ? path : nullptr;
    if (on())
        line_ = name;
}

CallLog::~CallLog()
{
    if (!on())
        return;
    line_ += '\n';
    if (FILE *f = std::fopen(path_, "a")) {
        std::fwrite(line_.data(), 1, line_.size(), f);
        std::fclose(f);
    }
}

CallLog &CallLog::word(const std::string &text)
{
    if (on()) {
        line_ += ' ';
        line_ += text;
    }
    return *this;
}

CallLog &CallLog::num(int64_t value)
{
    return on() ? word(std::to_string(value)) : *this;
}

CallLog &CallLog::hex(uint64_t value)
{
    if (!on())
        return *this;
    char text[24];
    std::snprintf(text, sizeof text, "0x%016" PRIx64, value);
    return word(text);
}

CallLog &CallLog::real(double value)
{
    if (!on())
        return *this;
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return word(text);
}

// Quotes and backslashes are escaped, other bytes outside printable ASCII
// are written as \xNN, so a line never breaks.
CallLog &CallLog::str(const char *text)
{
    if (!on())
        return *this;
    if (!text)
        return word("null");
    std::string quoted = "\"";
    for (const char *p = text; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20 || c > 0x7E) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            quoted += escape;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    quoted += '"';
    return word(quoted);
}

CallLog &CallLog::rect(const CoordRect *rect)
{
    if (!on())
        return *this;
    if (!rect)
        return word("null");
    return num(low32(rect->x1)).num(low32(rect->y1)).num(low32(rect->x2)).num(low32(rect->y2));
}

CallLog &CallLog::point(const CoordPoint *point)
{
    if (!on())
        return *this;
    if (!point)
        return word("null");
    return word(std::to_string(low32(point->x)) + "," + std::to_string(low32(point->y)));
}

CallLog &CallLog::colour(const ColourRec *colour)
{
    if (!on())
        return *this;
    if (!colour)
        return word("null");
    return word(std::to_string(colour->red) + "," + std::to_string(colour->green) + "," +
                std::to_string(colour->blue));
}

CallLog &CallLog::size(const int32_t *size)
{
    if (!on())
        return *this;
    if (!size)
        return word("null");
    return word(std::to_string(size[0]) + "x" + std::to_string(size[1]));
}

} // namespace zo
