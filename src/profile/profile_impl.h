// Shared pieces of the profile (INI) code: the numbers of the text format,
// the owner that closes a QorFile, whole-line reading over qorReadLine and
// the open that falls back to the INIDIR directory.
#pragma once

#include "io/open_file.h"

#include <kxfpx/profile.h>
#include <kxfpx/qorfile.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kxfpx::profile {

// qorReadLine hands a line over in pieces of at most this many characters.
constexpr int32_t kLineChunk = 256;
// Environment variable naming the second directory where profiles are
// looked for; a value this long or longer is not used.
constexpr const char *kIniDirVariable = "INIDIR";
constexpr std::size_t kIniDirLimit = 256;
// The default profile of GetProfileString, GetProfileInt, WriteProfileString.
constexpr const char *kDefaultProfile = "QOR.INI";
// Size of a temporary file name buffer (QORGetTempFileName's callers).
constexpr std::size_t kTempNameSize = KX_PATH_SIZE;

// CleanIniLine flags: keep the brackets, keep the double quotes.
constexpr int32_t kCleanKeepBrackets = 1;
constexpr int32_t kCleanKeepQuotes = 4;
constexpr int32_t kCleanHeader = 0;
constexpr int32_t kCleanKeyLine = kCleanKeepBrackets | kCleanKeepQuotes;

constexpr char kHeaderOpen = '[';
constexpr char kHeaderClose = ']';
constexpr char kQuote = '"';
constexpr char kComment = ';';
constexpr char kAssign = '=';

// Open modes used here.
constexpr uint32_t kOpenRead = QOR_READ;
constexpr uint32_t kOpenCreateWrite = QOR_CREATE | QOR_WRITE;   // 0x1001
constexpr uint32_t kOpenDelete = QOR_DELETE;                    // 0x200

// The owner of an open profile or temporary file.
using IniFile = kxfpx::io::OpenFile;

// Opens `name` with `mode`, else INIDIR + '/' + name; on success `opened`
// receives the path that opened. Null when neither opens.
QorFile open_ini(const char *name, uint32_t mode, std::string &opened);

// One line of a profile as it stands in the file, without its line end.
struct RawLine {
    std::string text;
    bool ended = true;   // false for a last line that has no line end
};

// Reads the next whole line, whatever its length: the pieces qorReadLine
// hands over for a line longer than one chunk are joined, so a long line is
// one line and is never split into pieces that could pass for a header or a
// key. A last line without a line end is a line too. False at the end.
bool read_line(QorFile file, RawLine &line);

// `text` cleaned by CleanIniLine with `flags`, up to its first NUL.
std::string cleaned(const std::string &text, int32_t flags);

// A header for the writer and the end of a section for the reader: a line
// whose first character is an opening bracket.
inline bool starts_header(const std::string &line)
{
    return !line.empty() && line[0] == kHeaderOpen;
}

} // namespace kxfpx::profile
