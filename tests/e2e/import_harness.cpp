// The end-to-end harness: the filter as a host loads it (dlopen, the
// fltLoadPointers rows), a host record whose status procedure records every
// call, the three input sources, and the output library's call log.
#include "import_harness.h"

#include <kxfpx/codes.h>
#include <kxfpx/memory.h>
#include <kxfpx/qorfile.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace kxtest {

namespace {

constexpr int32_t kEscHostReadProc = 81;
constexpr int32_t kEscResolution = 84;
constexpr int32_t kPointerSize = 8;
constexpr const char *kDevice = "png";

struct HostFilter {
    SharedLib lib{};
    int32_t (*importFile)(uint64_t, const char *, const char *, const char *, InterpretStructure *) = nullptr;
    HGLOBAL (*createSetup)(uint64_t, const char *, const char *) = nullptr;
    int32_t (*destroySetup)(HGLOBAL) = nullptr;
    int32_t (*escapeSetup)(HGLOBAL, int32_t, int32_t, void *, void *, int32_t) = nullptr;
    int32_t (*getFileInfo)(const char *, FileInfo *, HGLOBAL, HostIoProc) = nullptr;
    HGLOBAL (*globalAlloc)(uint32_t, uint32_t) = nullptr;
    void *(*globalLock)(HGLOBAL) = nullptr;
    int32_t (*globalUnlock)(HGLOBAL) = nullptr;
    HGLOBAL (*globalFree)(HGLOBAL) = nullptr;

    void *row(const char *name) const
    {
        for (int i = 0; i < lib.rowCount; ++i)
            if (std::strcmp(lib.rows[i].name, name) == 0)
                return lib.rows[i].entry;
        return nullptr;
    }
    template <typename F> void sym(F &f, const char *name)
    {
        f = reinterpret_cast<F>(dlsym(lib.dlHandle, name));
    }

    // Loaded once per process and kept, as a host keeps its filters.
    static HostFilter &get()
    {
        static HostFilter filter = [] {
            HostFilter f;
            const std::string path = bin_dir() + "/libkx_fpx2.so";
            f.lib.dlHandle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!f.lib.dlHandle)
                return f;
            auto load = reinterpret_cast<FltLoadPointersProc>(dlsym(f.lib.dlHandle, "fltLoadPointers"));
            if (!load)
                return f;
            load(&f.lib);
            if (char *dll = static_cast<char *>(f.row("szDLLName")))
                std::snprintf(dll, KX_PATH_SIZE, "%s", path.c_str());
            f.importFile = reinterpret_cast<decltype(f.importFile)>(f.row("ImportFile"));
            f.createSetup = reinterpret_cast<decltype(f.createSetup)>(f.row("CreateSetup"));
            f.destroySetup = reinterpret_cast<decltype(f.destroySetup)>(f.row("DestroySetup"));
            f.escapeSetup = reinterpret_cast<decltype(f.escapeSetup)>(f.row("EscapeSetup"));
            f.getFileInfo = reinterpret_cast<decltype(f.getFileInfo)>(f.row("GetFileInfo"));
            f.sym(f.globalAlloc, "GlobalAlloc");
            f.sym(f.globalLock, "GlobalLock");
            f.sym(f.globalUnlock, "GlobalUnlock");
            f.sym(f.globalFree, "GlobalFree");
            return f;
        }();
        return filter;
    }
    bool ready() const
    {
        return importFile && createSetup && destroySetup && escapeSetup && getFileInfo && globalAlloc &&
               globalLock && globalUnlock && globalFree;
    }
};

std::vector<uint8_t> read_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The host's side of callback input: the file's bytes and a position.
struct HostStream {
    std::vector<uint8_t> bytes;
    int64_t pos = 0;
};

int64_t host_io(void *handle, int32_t op, void *data, int64_t count)
{
    auto *s = static_cast<HostStream *>(handle);
    switch (op) {
    case QOR_IO_OPEN:
        return reinterpret_cast<intptr_t>(s);  // the handle of later calls
    case QOR_IO_READ: {
        const int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, int64_t(s->bytes.size()) - s->pos));
        if (n > 0)
            std::memcpy(data, s->bytes.data() + s->pos, size_t(n));
        s->pos += n;
        return n;
    }
    case QOR_IO_SEEK: {
        const int64_t base = count == SEEK_SET ? 0 : count == SEEK_CUR ? s->pos : int64_t(s->bytes.size());
        s->pos = std::max<int64_t>(0, base + *static_cast<int32_t *>(data));
        return s->pos;
    }
    case QOR_IO_CLOSE:
        return 0;
    default:
        return -1;
    }
}

// A memory handle of the filter's own kind holding the whole file and, after
// it, the non-zero end marker by which the memory reader finds the file's
// length (a block written through the I/O layer gets one when it closes).
constexpr uint8_t kEndMarker = 0xFF;

HGLOBAL memory_handle(const HostFilter &f, const std::vector<uint8_t> &bytes)
{
    HGLOBAL h = f.globalAlloc(KX_GHND, uint32_t(bytes.size() + 1));
    if (auto *p = static_cast<uint8_t *>(f.globalLock(h))) {
        std::memcpy(p, bytes.data(), bytes.size());
        p[bytes.size()] = kEndMarker;
        f.globalUnlock(h);
    }
    return h;
}

struct HostState {
    std::vector<StatusEvent> *events;
    std::vector<int32_t> answers;
    size_t next = 0;
};

int32_t status_proc(uint64_t user, int32_t kind, int32_t code, int32_t v1, int32_t v2, int32_t style,
                    MessageArgs *)
{
    auto *host = reinterpret_cast<HostState *>(user);
    host->events->push_back(StatusEvent{kind, code, v1, v2, style});
    return host->next < host->answers.size() ? host->answers[host->next++] : 0;
}

// Sets an environment variable for a scope.
struct EnvVar {
    std::string name;
    EnvVar(const char *n, const std::string &value) : name(n) { setenv(n, value.c_str(), 1); }
    ~EnvVar() { unsetenv(name.c_str()); }
};

} // namespace

std::vector<int32_t> ImportOutcome::reported() const
{
    std::vector<int32_t> codes;
    for (const StatusEvent &e : status)
        if (e.kind == KX_STATUS_ERROR)
            codes.push_back(e.code);
    return codes;
}

std::vector<std::string> ImportOutcome::only(const std::vector<std::string> &names) const
{
    std::vector<std::string> out;
    for (const std::string &line : calls) {
        const std::string first = line.substr(0, line.find(' '));
        for (const std::string &n : names)
            if (first == n)
                out.push_back(line);
    }
    return out;
}

std::vector<std::string> ImportOutcome::output_calls() const
{
    std::vector<std::string> out;
    for (const std::string &line : calls) {
        const std::string first = line.substr(0, line.find(' '));
        if (first != "C_OpenOutput" && first != "C_GetOutputTable" && first != "QueryError" &&
            first != "UnLoadOutput")
            out.push_back(line);
    }
    return out;
}

ImportOutcome import_file(const std::string &path, const ImportRequest &request)
{
    ImportOutcome outcome;
    HostFilter &f = HostFilter::get();
    EXPECT_TRUE(f.ready()) << "cannot load " << bin_dir() << "/libkx_fpx2.so";
    if (!f.ready()) {
        outcome.code = -1;
        return outcome;
    }
    TempDir work;
    const std::string log = work.file("calls.log");
    const std::string png = request.outputName.empty() ? work.file("out.png") : request.outputName;
    // No profile: the setup takes its defaults.
    EnvVar inidir("INIDIR", work.path());
    HGLOBAL setup = f.createSetup(0, nullptr, nullptr);
    EXPECT_NE(setup, nullptr);
    int16_t choice = request.resolutionChoice;
    f.escapeSetup(setup, kEscResolution, sizeof choice, &choice, nullptr, 0);

    HostState state{&outcome.status, request.statusAnswers, 0};
    HostRecord host{};
    host.userValue = reinterpret_cast<uint64_t>(&state);
    host.statusProc = request.withStatusProc ? status_proc : nullptr;
    InterpretStructure interp{};
    interp.setup = setup;
    interp.hostRecord = &host;

    HostStream stream;
    std::string importPath = path;
    if (request.source == InputSource::callback) {
        stream.bytes = read_bytes(path);
        interp.hostIoHandle = &stream;
        f.escapeSetup(setup, kEscHostReadProc, kPointerSize, reinterpret_cast<void *>(&host_io), nullptr, 0);
    } else if (request.source == InputSource::memory) {
        importPath.clear();
        if (!request.withoutMemoryHandle)
            host.inputBlock = memory_handle(f, read_bytes(path));
    }
    {
        EnvVar logging("KXFPX_OUTPUT_LOG", log);
        outcome.code = f.importFile(0, kDevice, png.c_str(), importPath.c_str(), &interp);
    }
    if (host.inputBlock)
        f.globalFree(host.inputBlock);
    EXPECT_EQ(f.destroySetup(setup), KX_OK);

    std::ifstream lines(log);
    for (std::string line; std::getline(lines, line);)
        outcome.calls.push_back(line);
    if (path_exists(png))
        EXPECT_EQ(fpxw::load_png(png, outcome.picture), "");
    return outcome;
}

int32_t file_info(const std::string &path, InputSource source, FileInfo &info)
{
    HostFilter &f = HostFilter::get();
    EXPECT_TRUE(f.ready());
    if (!f.ready())
        return -1;
    if (source == InputSource::path)
        return f.getFileInfo(path.c_str(), &info, nullptr, nullptr);
    if (source == InputSource::callback) {
        HostStream stream{read_bytes(path), 0};
        return f.getFileInfo(path.c_str(), &info, &stream, host_io);
    }
    HGLOBAL h = memory_handle(f, read_bytes(path));
    const int32_t code = f.getFileInfo("", &info, h, nullptr);
    f.globalFree(h);
    return code;
}

std::string make_fpx(const TempDir &dir, const std::string &name, const fpxw::WriteOptions &options,
                     const fpxw::Image &image, const std::function<void(fpxw::Document &)> &edit)
{
    fpxw::Document doc;
    const std::string err = fpxw::build_document(options, image, doc);
    EXPECT_EQ(err, "");
    if (edit)
        edit(doc);
    const std::string path = dir.file(name);
    EXPECT_EQ(fpxw::write_document(doc, path), "");
    return path;
}

namespace {

uint32_t le32_at(const std::vector<uint8_t> &b, size_t at)
{
    uint32_t v = 0;
    if (at + 4 <= b.size())
        std::memcpy(&v, b.data() + at, 4);
    return v;
}

// Offset of the (identifier, offset) pair of `id` in a property set's first section.
size_t pair_at(const std::vector<uint8_t> &set, uint32_t id)
{
    const uint32_t section = le32_at(set, 44), count = le32_at(set, section + 4);
    for (uint32_t k = 0; k < count && section + 16 + 8 * size_t(k) <= set.size(); ++k)
        if (le32_at(set, section + 8 + 8 * size_t(k)) == id)
            return section + 8 + 8 * size_t(k);
    ADD_FAILURE() << "no property 0x" << std::hex << id;
    return 0;
}

std::vector<uint8_t> *stream_bytes(fpxw::Document &doc, const std::string &stream)
{
    const int k = doc.find(stream);
    EXPECT_GE(k, 0) << "no stream " << stream;
    return k < 0 ? nullptr : &doc.entries[size_t(k)].data;
}

} // namespace

size_t property_value_at(const std::vector<uint8_t> &set, uint32_t id)
{
    const size_t pair = pair_at(set, id);
    return pair == 0 ? 0 : le32_at(set, 44) + le32_at(set, pair + 4) + 4;
}

void put_u32_at(fpxw::Document &doc, const std::string &stream, size_t at, uint32_t value)
{
    std::vector<uint8_t> *bytes = stream_bytes(doc, stream);
    ASSERT_TRUE(bytes && at + 4 <= bytes->size()) << stream << " at " << at;
    std::memcpy(bytes->data() + at, &value, 4);
}

void put_property(fpxw::Document &doc, const std::string &stream, uint32_t id, size_t offset, uint32_t value)
{
    if (std::vector<uint8_t> *bytes = stream_bytes(doc, stream))
        if (const size_t at = property_value_at(*bytes, id))
            put_u32_at(doc, stream, at + offset, value);
}

void renumber_property(fpxw::Document &doc, const std::string &stream, uint32_t id, uint32_t newId)
{
    if (std::vector<uint8_t> *bytes = stream_bytes(doc, stream))
        if (const size_t pair = pair_at(*bytes, id))
            std::memcpy(bytes->data() + pair, &newId, 4);
}

fpxw::Image picture(int width, int height, bool grey)
{
    fpxw::Image full = fpxw::make_synthetic(width, height);
    fpxw::Image out;
    out.width = width;
    out.height = height;
    out.channels = grey ? 1 : 3;
    for (size_t p = 0; p < size_t(width) * size_t(height); ++p) {
        const uint8_t *px = full.samples.data() + p * size_t(full.channels);
        if (grey)
            out.samples.push_back(uint8_t((px[0] * 77 + px[1] * 150 + px[2] * 29) >> 8));
        else
            out.samples.insert(out.samples.end(), px, px + 3);
    }
    return out;
}

} // namespace kxtest
