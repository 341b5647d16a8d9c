// Reading whole streams of a written file through the project's Compound
// File reader, for the fpxwrite tests.
#include "oracles/fpx_parse.h"

#include <kxfpx/qorfile.h>
#include <kxfpx/storage.h>

#include <sstream>

namespace fpxtest {

std::vector<uint8_t> read_stream(const std::string &file, const std::string &path, bool &ok)
{
    ok = false;
    std::vector<std::string> parts;
    std::stringstream ss(path);
    std::string part;
    while (std::getline(ss, part, '/'))
        parts.push_back(part);
    if (parts.empty())
        return {};
    QorFile f = qorOpen(file.c_str(), nullptr, QOR_READ);
    if (!f)
        return {};
    std::vector<QorFile> storages;
    storages.push_back(qorOpenStorage(f, "Root Entry"));
    for (size_t k = 0; k + 1 < parts.size() && storages.back(); ++k)
        storages.push_back(qorOpenStorage(storages.back(), parts[k].c_str()));
    std::vector<uint8_t> bytes;
    if (storages.back()) {
        QorFile s = qorOpenStream(storages.back(), parts.back().c_str());
        if (s) {
            const int32_t size = qorSeek(s, 0, 2);
            if (size >= 0 && qorSeek(s, 0, 0) == 0) {
                bytes.resize(size_t(size));
                ok = size == 0 || qorRead(s, bytes.data(), size) == size;
            }
            qorCloseStream(s);
        }
    }
    for (auto it = storages.rbegin(); it != storages.rend(); ++it)
        if (*it)
            qorCloseStorage(*it);
    qorClose(f);
    return bytes;
}

} // namespace fpxtest
