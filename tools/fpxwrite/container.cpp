// Writes a laid-out Document through the project's Compound File writer:
// the output file opened for creation, the root and sub-storages created in
// document order, each stream written and closed before the next, then the
// storages closed (sub-storages first, the root last) and the file closed.
#include "fpxwrite.h"

#include <kxfpx/qorfile.h>
#include <kxfpx/storage.h>

#include "io/cfb_storage.h"

#include <algorithm>
#include <vector>

namespace fpxw {

namespace {

// Streams are handed to qorWrite in pieces of this size.
constexpr size_t kWriteChunk = 1 << 20;

// Closes what is still open when the write ends early: open stream, then
// storages newest first, then the file.
struct OpenHandles {
    QorFile file = nullptr;
    QorFile stream = nullptr;
    std::vector<QorFile> storages;  // storages[0] is the root

    ~OpenHandles()
    {
        if (stream)
            qorCloseStream(stream);
        for (auto it = storages.rbegin(); it != storages.rend(); ++it)
            if (*it)
                qorCloseStorage(*it);
        if (file)
            qorClose(file);
    }
};

} // namespace

std::string write_document(const Document &doc, const std::string &path)
{
    if (doc.entries.empty() || !doc.entries[0].storage || doc.entries[0].parent != -1)
        return "the document has no root storage";
    OpenHandles h;
    h.file = qorOpen(path.c_str(), nullptr, QOR_WRITE | QOR_CREATE);
    if (!h.file)
        return "cannot create " + path;
    // Storage handle of every document entry that is a storage.
    std::vector<QorFile> handle_of(doc.entries.size(), nullptr);
    for (size_t i = 0; i < doc.entries.size(); ++i) {
        const DocumentEntry &e = doc.entries[i];
        QorFile parent = nullptr;
        if (i > 0) {
            if (e.parent < 0 || size_t(e.parent) >= i || !handle_of[size_t(e.parent)])
                return "entry " + e.name + " has no parent storage before it";
            parent = handle_of[size_t(e.parent)];
        }
        if (e.storage) {
            QorFile s = qorCreateStorage(h.file, parent, e.name.c_str());
            if (!s)
                return "cannot create the storage " + e.name;
            h.storages.push_back(s);
            const bool classed = std::any_of(e.clsid.begin(), e.clsid.end(), [](uint8_t b) { return b != 0; });
            if (classed && !kxfpx::io::set_storage_class(s, e.clsid.data()))
                return "cannot give the storage " + e.name + " its class id";
            handle_of[i] = s;
            continue;
        }
        if (i == 0)
            return "the root must be a storage";
        h.stream = qorCreateStream(parent, e.name.c_str());
        if (!h.stream)
            return "cannot create the stream " + e.name;
        for (size_t done = 0; done < e.data.size();) {
            const size_t piece = std::min(kWriteChunk, e.data.size() - done);
            const int32_t wrote = qorWrite(h.stream, e.data.data() + done, int32_t(piece));
            if (wrote != int32_t(piece))
                return "cannot write the stream " + e.name;
            done += piece;
        }
        const int32_t closed = qorCloseStream(h.stream);
        h.stream = nullptr;
        if (closed < 0)
            return "cannot finish the stream " + e.name;
    }
    // Sub-storages first, the root (which writes the tables) last.
    while (h.storages.size() > 1) {
        qorCloseStorage(h.storages.back());
        h.storages.pop_back();
    }
    const int32_t root = qorCloseStorage(h.storages.back());
    h.storages.clear();
    const int32_t closed = qorClose(h.file);
    h.file = nullptr;
    if (root != 0 || closed != 0)
        return "cannot finish " + path;
    return {};
}

} // namespace fpxw
