// Writing profiles: WritePrivateProfileString sets a key, removes a key or
// removes a whole section by copying the profile line by line into a
// temporary file (in the profile's own line ends) and copying that back
// over the profile. Every line it was not asked to change is copied as it is.
#include "port/profile_impl.h"

#include <kxfpx/sharedlib.h>
#include <kxfpx/strings.h>

#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace kxfpx::profile {
namespace {

enum class Change { RemoveSection, RemoveKey, SetKey };

// Bytes each line end takes in a file written with a line format.
std::size_t line_end_size(int32_t format) { return format == kLineCr || format == kLineLf ? 1 : 2; }

// A comment for the writer: a line that holds nothing once cleaned as a key
// line (blank, or a semicolon before any text).
bool is_comment(const std::string &line) { return cleaned(line, kCleanKeyLine).empty(); }

// The key of a line as the writer compares it: the text before the first
// equals sign, cut at a semicolon, spaces trimmed at both ends.
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

    bool wrote_anything() const { return expected_ > 0 || has_last_; }
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
        if (is_comment(raw.text)) {
            // Held back until the section's next key line (or its end), so
            // that a new key goes after the last key rather than after the
            // blank lines that separate sections.
            held_.push_back(raw);
            return;
        }
        const bool match = stricmp(line_key(raw.text).c_str(), key_.c_str()) == 0;
        if (change_ == Change::RemoveKey) {
            if (match) {
                removed_any_ = true;
                return;
            }
            write_pending_header();
            release_held();
            out_.copy(raw);
            return;
        }
        release_held();
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
        removed_any_ = key_written_ = false;
        held_.clear();
        header_pending_ = false;
        if (change_ == Change::SetKey) {
            out_.copy(header);
        } else if (change_ == Change::RemoveKey) {
            // Written before the first key line that stays.
            header_ = header;
            header_pending_ = true;
        }
    }

    void end_section()
    {
        in_section_ = false;
        if (change_ == Change::SetKey && !key_written_)
            out_.put(key_line_);
        // A section whose keys were all removed goes with its header; one
        // from which nothing was removed keeps it even when it has no keys.
        if (change_ == Change::RemoveKey && !removed_any_)
            write_pending_header();
        header_pending_ = false;
        release_held();
    }

    void write_pending_header()
    {
        if (header_pending_) {
            header_pending_ = false;
            out_.copy(header_);
        }
    }

    void release_held()
    {
        for (const RawLine &line : held_)
            out_.copy(line);
        held_.clear();
    }

    LineWriter &out_;
    const std::string section_;
    const std::string key_;
    const Change change_;
    std::string key_line_;
    bool found_ = false;
    bool in_section_ = false;
    bool removed_any_ = false;
    bool key_written_ = false;
    bool header_pending_ = false;
    RawLine header_;
    std::vector<RawLine> held_;
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
    if (!temp)
        return;   // the profile stays as it is

    // The new file keeps the profile's line ends; a profile without any
    // (empty, missing, or one unended line) is written with LF.
    int32_t format = kLineLf;
    if (profile) {
        const int32_t found = qorGetLineFormat(profile.get());
        if (found == kLineCrLf || found == kLineCr || found == kLineLf)
            format = found;
    }
    qorSetLineFormat(temp.get(), static_cast<int16_t>(format));

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
    const bool existed = static_cast<bool>(profile);
    profile.close();
    complete = temp.close() == 0 && complete && size_is(temp_path, out.expected_size());

    // Nothing replaces the profile unless the new copy was written whole.
    // A removal from a missing profile creates no file.
    if (!complete || (!existed && !out.wrote_anything())) {
        delete_file(temp_path);
        return;
    }
    delete_file(profile_path);
    // When the copy back fails the temporary file is kept: it then holds
    // the only whole copy of the profile.
    if (qorCopy(temp_path.c_str(), profile_path.c_str()) == 0 &&
        size_is(profile_path, out.expected_size()))
        delete_file(temp_path);
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
