#include "import_harness.h"

#include "fpx/fpx_format.h"

#include "io/io_support.h"
#include "oracles/fpx_parse.h"
#include "scoped_env.h"

#include <kxfpx/codes.h>
#include <kxfpx/filter.h>
#include <kxfpx/memory.h>
#include <kxfpx/qorfile.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace kxtest {

namespace {

constexpr int32_t kEscHostReadProc = 81, kEscResolution = 84;

// The filter dlopen'ed as a host loads it, with the loader's path in szDLLName; loaded once and kept. Entries are
// taken by symbol: abi_test checks that the export rows a host reads hold the same addresses.
struct HostFilter {
    void *dl = nullptr;
    decltype(&ImportFile) importFile = nullptr;
    decltype(&xCreateSetup) createSetup = nullptr;
    decltype(&xDestroySetup) destroySetup = nullptr;
    decltype(&xEscapeSetup) escapeSetup = nullptr;
    decltype(&GetFileInfo) getFileInfo = nullptr;
    decltype(&GlobalAlloc) globalAlloc = nullptr;
    decltype(&GlobalLock) globalLock = nullptr;
    decltype(&GlobalUnlock) globalUnlock = nullptr;
    decltype(&GlobalFree) globalFree = nullptr;
    bool ready = false;

    template <typename F> bool sym(F &f, const char *name) { return (f = reinterpret_cast<F>(dlsym(dl, name))); }

    static HostFilter &get()
    {
        static HostFilter f = [] {
            HostFilter f;
            const std::string path = bin_dir() + "/libkx_fpx2.so";
            char *dll = nullptr;
            f.dl = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            f.ready = f.dl && f.sym(dll, "import_szDLLName") && f.sym(f.importFile, "ImportFile") &&
                      f.sym(f.createSetup, "xCreateSetup") && f.sym(f.destroySetup, "xDestroySetup") &&
                      f.sym(f.escapeSetup, "xEscapeSetup") && f.sym(f.getFileInfo, "GetFileInfo") &&
                      f.sym(f.globalAlloc, "GlobalAlloc") && f.sym(f.globalLock, "GlobalLock") &&
                      f.sym(f.globalUnlock, "GlobalUnlock") && f.sym(f.globalFree, "GlobalFree");
            if (f.ready)
                std::snprintf(dll, KX_PATH_SIZE, "%s", path.c_str());
            return f;
        }();
        EXPECT_TRUE(f.ready) << "cannot load " << bin_dir() << "/libkx_fpx2.so";
        return f;
    }

    // One call's input: the host's stream, or a memory handle of the library's own kind
    // holding the file and the non-zero end marker by which the memory reader finds its length.
    struct Input {
        iotest::ImageState stream;
        HGLOBAL block = nullptr;
        decltype(&GlobalFree) free = nullptr;
        Input(const HostFilter &f, const std::string &path, InputSource source, bool withHandle = true)
        {
            if (source == InputSource::callback)
                stream.bytes = iotest::read_file(path);
            if (source != InputSource::memory || !withHandle)
                return;
            std::vector<uint8_t> bytes = iotest::read_file(path);
            bytes.push_back(0xFF);
            block = f.globalAlloc(KX_GHND, uint32_t(bytes.size()));
            std::memcpy(f.globalLock(block), bytes.data(), bytes.size());
            f.globalUnlock(block);
            free = f.globalFree;
        }
        ~Input() { if (block) free(block); }
    };
};

struct HostState { std::vector<int32_t> *errors; std::vector<int32_t> answers; size_t next = 0; };

int32_t status_proc(uint64_t user, int32_t kind, int32_t code, int32_t, int32_t, int32_t, MessageArgs *)
{
    auto *host = reinterpret_cast<HostState *>(user);
    if (kind == KX_STATUS_ERROR)
        host->errors->push_back(code);
    return host->next < host->answers.size() ? host->answers[host->next++] : 0;
}

} // namespace

Lines ImportOutcome::only(const Lines &names, bool keep) const
{
    Lines out;
    for (const std::string &line : calls)
        if (keep == (std::find(names.begin(), names.end(), line.substr(0, line.find(' '))) != names.end()))
            out.push_back(line);
    return out;
}

ImportOutcome import_file(const std::string &path, const ImportRequest &request)
{
    ImportOutcome outcome;
    HostFilter &f = HostFilter::get();
    if (!f.ready)
        return outcome;
    TempDir work;
    const std::string log = work.file("calls.log");
    const std::string png = request.outputName.empty() ? work.file("out.png") : request.outputName;
    ScopedEnv inidir("INIDIR", work.path().c_str());  // no profile: the setup's defaults
    if (request.threads >= 0)
        std::ofstream(work.file("libkx_fpx2.ini"))
            << "[KR_FPX]\n~Mode=Photo\nPhoto=KR_FPX.1\n[Photo]\nDriver=KR_FPX.1\nThreads=" << request.threads
            << "\n";
    HGLOBAL setup = f.createSetup(0, nullptr, nullptr);
    EXPECT_NE(setup, nullptr);
    int16_t choice = request.resolutionChoice;
    f.escapeSetup(setup, kEscResolution, sizeof choice, &choice, nullptr, 0);

    HostFilter::Input input(f, path, request.source, !request.withoutMemoryHandle);
    HostState state{&outcome.errors, request.statusAnswers, 0};
    HostRecord host{};
    host.userValue = reinterpret_cast<uint64_t>(&state);
    host.statusProc = status_proc;
    host.inputBlock = input.block;
    InterpretStructure interp{};
    interp.setup = setup;
    interp.hostRecord = &host;
    if (request.source == InputSource::callback) {
        interp.hostIoHandle = &input.stream;
        f.escapeSetup(setup, kEscHostReadProc, sizeof(void *), reinterpret_cast<void *>(&iotest::image_callback),
                      nullptr, 0);
    }
    {
        ScopedEnv logging("KXFPX_OUTPUT_LOG", log.c_str());
        const std::string from = request.source == InputSource::memory ? "" : path;
        outcome.code = f.importFile(0, "png", png.c_str(), from.c_str(), &interp);
    }
    EXPECT_EQ(f.destroySetup(setup), KX_OK);
    std::ifstream lines(log);
    for (std::string line; std::getline(lines, line);)
        outcome.calls.push_back(line);
    EXPECT_EQ(path_exists(png) ? fpxw::load_png(png, outcome.picture) : std::string(), "");
    return outcome;
}

int32_t file_info(const std::string &path, InputSource source, FileInfo &info)
{
    HostFilter &f = HostFilter::get();
    if (!f.ready)
        return -1;
    HostFilter::Input input(f, path, source);
    if (source == InputSource::callback)
        return f.getFileInfo(path.c_str(), &info, &input.stream, iotest::image_callback);
    return f.getFileInfo(source == InputSource::path ? path.c_str() : "", &info, input.block, nullptr);
}

std::string make_fpx(const TempDir &dir, const std::string &name, const fpxw::WriteOptions &options,
                     const fpxw::Image &image, const Edit &edit)
{
    fpxw::Document doc;
    EXPECT_EQ(fpxw::build_document(options, image, doc), "");
    if (edit)
        edit(doc);
    const std::string path = dir.file(name);
    EXPECT_EQ(fpxw::write_document(doc, path), "");
    return path;
}

ImportOutcome import_fpx(const fpxw::WriteOptions &options, const fpxw::Image &image, const Edit &edit,
                         const ImportRequest &request)
{
    TempDir dir;
    return import_file(make_fpx(dir, "scratch.fpx", options, image, edit), request);
}

Edit edit_tiles(const std::function<void(int, uint8_t *)> &edit)
{
    return [edit](fpxw::Document &doc) {
        std::vector<uint8_t> &h = stream_bytes(doc, kSubimageHeaderPath);
        const size_t table = kxfpx::fpx::kStreamHeaderSize + kxfpx::fpx::kSubimageHeaderLength;
        for (size_t t = 0; table + (t + 1) * kxfpx::fpx::kTileEntrySize <= h.size(); ++t)
            edit(int(t), h.data() + table + t * kxfpx::fpx::kTileEntrySize);
    };
}

fpxw::WriteOptions raw_options(int resolutions, fpxw::ColourSpace colour)
{
    fpxw::WriteOptions o;
    o.colour = colour;
    o.compression = fpxw::Compression::raw;
    o.flat_tiles = fpxw::FlatTiles::never;
    o.resolutions = resolutions;
    return o;
}

size_t property_at(const std::vector<uint8_t> &set, uint32_t id, bool value)
{
    const uint32_t section = fpxtest::le32(set, 44), count = fpxtest::le32(set, section + 4);
    for (size_t pair = section + 8; pair < section + 8 + 8 * size_t(count) && pair + 8 <= set.size(); pair += 8)
        if (fpxtest::le32(set, pair) == id)
            return value ? section + fpxtest::le32(set, pair + 4) + 4 : pair;
    ADD_FAILURE() << "no property 0x" << std::hex << id;
    return 0;
}

std::vector<uint8_t> &stream_bytes(fpxw::Document &doc, const std::string &stream)
{
    const int k = doc.find(stream);
    EXPECT_GE(k, 0) << "no stream " << stream;
    return doc.entries[size_t(std::max(k, 0))].data;
}

Edit renamed(const std::string &path)
{
    return [path](fpxw::Document &doc) {
        const int k = doc.find(path);
        ASSERT_GE(k, 0) << path;
        doc.entries[size_t(k)].name += " gone";
    };
}

void put_u32(std::vector<uint8_t> &bytes, size_t at, uint32_t value)
{
    ASSERT_TRUE(at > 0 && at + 4 <= bytes.size()) << "at " << at;
    std::memcpy(bytes.data() + at, &value, 4);
}

void put_property(fpxw::Document &doc, const std::string &stream, uint32_t id, size_t offset, uint32_t value)
{
    std::vector<uint8_t> &bytes = stream_bytes(doc, stream);
    put_u32(bytes, property_at(bytes, id) + offset, value);
}

fpxw::Image picture(int width, int height, int channels)
{
    const fpxw::Image full = fpxw::make_synthetic(width, height);  // RGBA
    fpxw::Image out{width, height, channels, {}};
    const size_t first = channels == 1 ? 1 : 0;  // grey: the green channel
    for (size_t p = first; p < full.samples.size(); p += 4)
        out.samples.insert(out.samples.end(), full.samples.begin() + long(p), full.samples.begin() + long(p) + channels);
    return out;
}

void expect_same(const fpxw::Image &got, const fpxw::Image &want, const std::string &what)
{
    EXPECT_EQ((std::array{got.width, got.height, got.channels}), (std::array{want.width, want.height, want.channels}))
        << what;
    EXPECT_TRUE(got.samples == want.samples) << what;
}

} // namespace kxtest
