// Writing profiles: WritePrivateProfileString sets a key, removes a key or
// removes a whole section by copying the profile line by line into a
// temporary file (in the profile's own line ends) and copying that back
// over the profile. Every line it was not asked to change is copied as it is.
#include "profile/profile_impl.h"

#include <kxfpx/sharedlib.h>
#include <kxfpx/strings.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <new>

namespace kxfpx::profile {
namespace {

enum class Change { RemoveSection, RemoveKey, SetKey };

// Bytes each line end takes in a file written with a line format: qorWriteLine
// ends a line with CR LF for any format other than CR and LF (-1 included).
std::size_t line_end_size(int32_t format) { return format == QOR_LINE_CR || format == QOR_LINE_LF ? 1 : 2; }

// The key of a line as the writer compares it: the text before the first
// equals sign, cut at a semicolon, spaces trimmed at both ends. Every line of
// the section is compared this way; a blank or comment line has the empty
// key, so it matches only an empty key.
std::string line_key(const std::string &line)
{
    std::string key(line.c_str());
    key.resize(std::strcspn(key.c_str(), "=;"));
    TrimIniChar(key.data(), ' ');
    key.resize(std::strlen(key.c_str()));
    return key;
}

// Writes the new profile into the temporary file and keeps count of the
// bytes it should hold, so that a short write is caught before the profile
// is replaced.
class LineWriter {
public:
    LineWriter(QorFile file, int32_t format) : file_(file), end_size_(line_end_size(format)) {}

    // A line with its line end.
    void put(const std::string &text)
    {
        settle_last();
        write_line(text);
    }

    // A line copied from the profile. The profile's last line may have no
    // line end; it keeps it that way unless more lines follow it.
    void copy(const RawLine &line)
    {
        settle_last();
        if (line.ended) {
            write_line(line.text);
        } else {
            last_ = line.text;
            has_last_ = true;
        }
    }

    // Writes the profile's last line without a line end when nothing
    // followed it; true when every write went through.
    bool finish()
    {
        if (has_last_) {
            has_last_ = false;
            if (!fits(last_) ||
                qorWrite(file_, last_.data(), static_cast<int32_t>(last_.size())) !=
                    static_cast<int32_t>(last_.size()))
                failed_ = true;
            expected_ += last_.size();
        }
        return !failed_;
    }

    std::size_t expected_size() const { return expected_; }

private:
    static bool fits(const std::string &text) { return text.size() <= INT32_MAX; }

    void settle_last()
    {
        if (has_last_) {
            has_last_ = false;
            write_line(last_);
        }
    }

    void write_line(const std::string &text)
    {
        if (!fits(text)) {
            failed_ = true;
            return;
        }
        const auto length = static_cast<int32_t>(text.size());
        const int32_t result = qorWriteLine(file_, text.data(), length);
        // qorWriteLine gives the text write's count, or the failing line
        // end's result; an empty line succeeds with 0.
        if (result < 0 || result != length)
            failed_ = true;
        expected_ += text.size() + end_size_;
    }

    QorFile file_;
    std::size_t end_size_;
    std::string last_;
    bool has_last_ = false;
    bool failed_ = false;
    std::size_t expected_ = 0;
};

// The copy of the profile with one change applied to every section of the
// wanted name.
class SectionRewrite {
public:
    SectionRewrite(LineWriter &out, std::string section, const char *key, const char *value)
        : out_(out), section_(std::move(section)), key_(key ? key : ""),
          change_(!key ? Change::RemoveSection : !value ? Change::RemoveKey : Change::SetKey)
    {
        if (change_ == Change::SetKey)
            key_line_ = key_ + kAssign + value;
    }

    void line(const RawLine &raw)
    {
        if (starts_header(raw.text)) {
            if (in_section_)
                end_section();
            const std::string name = cleaned(raw.text, kCleanHeader);
            if (!name.empty() && stricmp(name.c_str(), section_.c_str()) == 0)
                begin_section(raw);
            else
                out_.copy(raw);
            return;
        }
        if (!in_section_) {
            out_.copy(raw);
            return;
        }
        if (change_ == Change::RemoveSection)
            return;
        const bool match = stricmp(line_key(raw.text).c_str(), key_.c_str()) == 0;
        if (change_ == Change::RemoveKey) {
            if (match)
                return;
            // The first line of the section that stays, whatever it is
            // (blank and comment lines too), brings the header back.
            write_pending_header();
            out_.copy(raw);
            return;
        }
        if (match) {
            out_.put(key_line_);
            key_written_ = true;
        } else {
            out_.copy(raw);
        }
    }

    void end_of_file()
    {
        if (in_section_)
            end_section();
        if (!found_ && change_ == Change::SetKey) {
            // A missing section is appended after a blank line.
            out_.put(std::string());
            out_.put(kHeaderOpen + section_ + kHeaderClose);
            out_.put(key_line_);
        }
    }

private:
    void begin_section(const RawLine &header)
    {
        found_ = in_section_ = true;
        key_written_ = false;
        header_pending_ = false;
        if (change_ == Change::SetKey) {
            out_.copy(header);
        } else if (change_ == Change::RemoveKey) {
            // Written before the first line of the section that stays.
            header_ = header;
            header_pending_ = true;
        }
    }

    void end_section()
    {
        in_section_ = false;
        // A key that was not there goes at the end of the section: after its
        // last line, blank and comment lines included, just before the next
        // header or at the end of the file.
        if (change_ == Change::SetKey && !key_written_)
            out_.put(key_line_);
        // A section none of whose lines stayed (or that had none) goes with
        // its header.
        header_pending_ = false;
    }

    void write_pending_header()
    {
        if (header_pending_) {
            header_pending_ = false;
            out_.copy(header_);
        }
    }

    LineWriter &out_;
    const std::string section_;
    const std::string key_;
    const Change change_;
    std::string key_line_;
    bool found_ = false;
    bool in_section_ = false;
    bool key_written_ = false;
    bool header_pending_ = false;
    RawLine header_;
};

// Deletes a file through the I/O layer (which honours the host's file hook).
void delete_file(const std::string &path) { qorOpen(path.c_str(), nullptr, kOpenDelete); }

// True unless the file on disk is known to hold a different number of bytes
// from what was written (a file the host keeps elsewhere is not checked).
bool size_is(const std::string &path, std::size_t expected)
{
    struct stat status;
    if (::stat(path.c_str(), &status) != 0)
        return true;
    return static_cast<std::size_t>(status.st_size) == expected;
}

void rewrite_profile(const char *fileName, const std::string &section, const char *key,
                     const char *value)
{
    char temp_name[kTempNameSize] = {};
    QORGetTempFileName(0, 0, 0, temp_name);
    temp_name[kTempNameSize - 1] = '\0';

    std::string profile_path = fileName;
    IniFile profile(open_ini(fileName, kOpenRead, profile_path));
    std::string temp_path;
    IniFile temp(open_ini(temp_name, kOpenCreateWrite, temp_path));
    // The temporary file exists from the moment its name was made: it goes
    // on every path, whether or not it could be opened or written.
    struct RemoveTemp {
        const char *made;
        const std::string &opened;
        ~RemoveTemp()
        {
            if (!opened.empty())
                delete_file(opened);
            else if (*made)
                ::unlink(made);
        }
    } remove_temp{temp_name, temp_path};
    if (!temp)
        return;   // the profile stays as it is

    // The new file takes the profile's line format as qorGetLineFormat finds
    // it; for a file without any line end that is -1, which qorWriteLine
    // writes as CR LF. A missing profile leaves the temporary file's own
    // format, LF.
    int32_t format = QOR_LINE_LF;
    if (profile) {
        format = qorGetLineFormat(profile.get());
        qorSetLineFormat(temp.get(), static_cast<int16_t>(format));
    }

    LineWriter out(temp.get(), format);
    bool complete = true;
    try {
        SectionRewrite rewrite(out, section, key, value);
        RawLine line;
        while (profile && read_line(profile.get(), line))
            rewrite.line(line);
        rewrite.end_of_file();
    } catch (const std::bad_alloc &) {
        complete = false;
    }
    complete = out.finish() && complete;
    profile.close();
    complete = temp.close() == 0 && complete && size_is(temp_path, out.expected_size());

    // Nothing replaces the profile unless the new copy was written whole. A
    // missing profile is written all the same: a removal from it leaves an
    // empty file.
    if (!complete)
        return;
    delete_file(profile_path);
    qorCopy(temp_path.c_str(), profile_path.c_str());
}

} // namespace
} // namespace kxfpx::profile

using namespace kxfpx::profile;

extern "C" {

KX_API int32_t WritePrivateProfileString(const char *section, const char *key, const char *value,
                                         const char *fileName)
{
    if (!section || !fileName || !*fileName)
        return 0;
    try {
        const std::string wanted = cleaned(section, kCleanHeader);
        if (!wanted.empty())
            rewrite_profile(fileName, wanted, key, value);
    } catch (const std::bad_alloc &) {
        // Nothing was replaced: rewrite_profile replaces the profile last.
    }
    return 0;
}

KX_API int32_t WriteProfileString(const char *section, const char *key, const char *value)
{
    return WritePrivateProfileString(section, key, value, kDefaultProfile);
}

} // extern "C"
