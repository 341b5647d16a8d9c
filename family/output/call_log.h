// The call log: when KXFPX_OUTPUT_LOG names a file, every call the library
// receives is appended to it as one line, the slot name followed by its
// decoded arguments separated by spaces.
#pragma once

#include <kxfpx/output.h>

#include <string>

namespace zo {

class CallLog {
public:
    explicit CallLog(const char *name);
    ~CallLog();
    CallLog(const CallLog &) = delete;
    CallLog &operator=(const CallLog &) = delete;

    bool on() const { return path_ != nullptr; }
    CallLog &num(int64_t value);
    CallLog &hex(uint64_t value);
    CallLog &real(double value);
    CallLog &str(const char *text);        // quoted; null as null
    CallLog &word(const std::string &text); // as it stands
    CallLog &rect(const CoordRect *rect);   // four numbers
    CallLog &point(const CoordPoint *point); // x,y
    CallLog &colour(const ColourRec *colour); // r,g,b
    CallLog &size(const int32_t *size);     // columnsxrows

private:
    const char *path_;
    std::string line_;
};

} // namespace zo
