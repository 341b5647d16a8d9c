// Profile lines: cleaning a line of brackets, quotes and comments, trimming,
// reading whole lines through qorReadLine, and opening a profile by its name
// or in the INIDIR directory. The reader and the writer both build on these.
#include "profile/profile_impl.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace kxfpx::profile {
namespace {

// Removes every `c` from `text`. For the double quote, two in a row leave one.
void remove_all(char *text, char c)
{
    char *out = text;
    for (const char *in = text; *in;) {
        if (*in != c) {
            *out++ = *in++;
        } else if (c == kQuote && in[1] == kQuote) {
            *out++ = kQuote;
            in += 2;
        } else {
            ++in;
        }
    }
    *out = '\0';
}

} // namespace

QorFile open_ini(const char *name, uint32_t mode, std::string &opened)
{
    // An empty name would make the INIDIR candidate the directory itself.
    if (!name || !*name)
        return nullptr;
    if (QorFile file = qorOpen(name, nullptr, mode)) {
        opened = name;
        return file;
    }
    const char *dir = std::getenv(kIniDirVariable);
    const std::size_t dir_length = dir ? std::strlen(dir) : 0;
    if (dir_length == 0 || dir_length >= kIniDirLimit)
        return nullptr;
    std::string path(dir, dir_length);
    if (path.back() != '/')
        path += '/';
    path += name;
    QorFile file = qorOpen(path.c_str(), nullptr, mode);
    if (file)
        opened = std::move(path);
    return file;
}

bool read_line(QorFile file, RawLine &line)
{
    line.text.clear();
    line.ended = true;
    char chunk[kLineChunk + 1];
    for (;;) {
        const int32_t got = qorReadLine(file, chunk, kLineChunk);
        if (got >= kLineChunk) {
            // A full chunk: the line goes on in the next call.
            line.text.append(chunk, kLineChunk);
            continue;
        }
        if (got >= 0) {
            line.text.append(chunk, static_cast<std::size_t>(got));
            return true;
        }
        // The end of the file (or a failed read) before a line end: what was
        // read so far is the file's last line, when there is any.
        chunk[kLineChunk] = '\0';
        line.text.append(chunk, ::strnlen(chunk, kLineChunk));
        line.ended = false;
        return !line.text.empty();
    }
}

std::string cleaned(const std::string &text, int32_t flags)
{
    std::string copy(text.c_str());
    CleanIniLine(copy.data(), flags);
    copy.resize(std::strlen(copy.c_str()));
    return copy;
}

} // namespace kxfpx::profile

using namespace kxfpx::profile;

extern "C" {

KX_API void CleanIniLine(char *text, int32_t flags)
{
    if (!text)
        return;
    for (const char c : {'\r', '\n', kQuote, kHeaderOpen, kHeaderClose}) {
        const bool is_bracket = c == kHeaderOpen || c == kHeaderClose;
        if ((is_bracket && (flags & kCleanKeepBrackets)) || (c == kQuote && (flags & kCleanKeepQuotes)))
            continue;
        remove_all(text, c);
    }
    if (char *comment = std::strchr(text, kComment))
        *comment = '\0';
    TrimIniChar(text, ' ');
}

KX_API void TrimIniChar(char *text, int32_t character)
{
    const char c = static_cast<char>(character);
    if (!text || c == '\0')
        return;
    std::size_t length = std::strlen(text);
    std::size_t start = 0;
    if (c == kQuote) {
        // At most one double quote at each end.
        if (length > 0 && text[0] == c)
            start = 1;
        if (length > start && text[length - 1] == c)
            --length;
    } else {
        while (start < length && text[start] == c)
            ++start;
        while (length > start && text[length - 1] == c)
            --length;
    }
    std::memmove(text, text + start, length - start);
    text[length - start] = '\0';
}

KX_API QorFile INIopen(char *name, int16_t length, uint32_t mode)
{
    std::string opened;
    QorFile file = open_ini(name, mode, opened);
    // The path found is copied back only when it fits the caller's buffer
    // with its terminator: a cut path would name another file.
    if (file && length > 0 && opened.size() < static_cast<std::size_t>(length) &&
        opened != name)
        std::strncpy(name, opened.c_str(), static_cast<std::size_t>(length));
    return file;
}

KX_API int32_t INIclose(QorFile file) { return file ? qorClose(file) : 0; }

} // extern "C"
