// Whole-import target: ImportFile on the document as a host would call it,
// with the output library as a row sink. The first byte is the host's part:
//   bits 0-1  resolution choice (escape 84): 0 lowest, 1 middle, else highest
//   bits 2-3  the progress report at which the host answers "cancel" (0 never)
//   bit  4    an output name that cannot be created (output error 302/269)
//   bits 5-6  the input: 0 a memory handle, 1 the host's I/O procedure, 2 a
//             memory input whose host record has no handle, 3 a memory
//             handle with no output library to be found
//   bit  7    a FAT sector limit of 1 in the interpret structure
// Inputs of odd length run on two threads (a setup whose profile says
// Threads=2), the others on one.
// The target runs outside the binary folder, so that the output library is
// found only through LD_LIBRARY_PATH, which each call sets.
#include "fuzz_input.h"
#include "fuzz_targets.h"

#include <kxfpx/codes.h>
#include <kxfpx/filter.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

namespace kxfuzz {

int32_t last_import_code = 0;

namespace {

constexpr int32_t kEscHostReadProc = 81;
constexpr int32_t kEscResolution = 84;
constexpr char kUnwritableOutput[] = "/nonexistent-kxfpx-fuzz/out.png";

constexpr char kNowhere[] = "/nonexistent-kxfpx-fuzz";

enum Source { kMemory = 0, kCallback = 1, kNoHandle = 2, kNoOutputLibrary = 3 };

// Set once: no profile of the filter's own (INIDIR names no folder), the
// output library as a row sink and without a call log, and kept loaded so
// that each import's load and unload only count references. The threaded
// setup reads a profile written here, removed at exit.
char gProfile[] = "/tmp/kxfpx-fuzz-XXXXXX.ini";

struct Host {
    HGLOBAL setup = nullptr, threaded = nullptr;
    Host()
    {
        setenv("INIDIR", kNowhere, 1);
        setenv("KXFPX_OUTPUT_DISCARD", "1", 1);
        unsetenv("KXFPX_OUTPUT_LOG");
        (void)dlopen(KXFUZZ_OUTPUT_DIR "/libzo_unx2.so", RTLD_NOW | RTLD_LOCAL);
        setup = xCreateSetup(0, nullptr, nullptr);
        const int fd = mkstemps(gProfile, 4);
        if (fd >= 0) {
            static const char kText[] = "[Fuzz]\nDriver=KR_FPX.0\nColorTableSource=FILE\nThreads=2\n";
            if (write(fd, kText, sizeof kText - 1) == ssize_t(sizeof kText - 1))
                threaded = xCreateSetup(0, gProfile, "Fuzz");
            close(fd);
            atexit([] { unlink(gProfile); });
        }
        if (!threaded)
            threaded = setup;
    }
};

struct Answers {
    int cancelAt;      // progress report that gets a non-zero answer; 0 never
    int progress = 0;  // progress reports seen
};

int32_t status_proc(uint64_t user, int32_t kind, int32_t, int32_t, int32_t, int32_t, MessageArgs *)
{
    auto &a = *reinterpret_cast<Answers *>(user);
    if (kind == KX_STATUS_PROGRESS)
        return ++a.progress == a.cancelAt ? 1 : 0;
    // The cancel question that follows a non-zero progress answer: yes.
    return kind == KX_STATUS_QUESTION ? 1 : 0;
}

} // namespace

int import_target(const uint8_t *data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    static Host host;
    Cursor in{data, size};
    const uint8_t control = in.byte();
    int16_t choice = control & 3;
    Answers answers{(control >> 2) & 3};
    const bool unwritable = control & 0x10;
    const int source = (control >> 5) & 3;

    setenv("LD_LIBRARY_PATH", source == kNoOutputLibrary ? kNowhere : KXFUZZ_OUTPUT_DIR, 1);
    HGLOBAL setup = size % 2 ? host.threaded : host.setup;
    (void)xEscapeSetup(setup, kEscResolution, sizeof choice, &choice, nullptr, 0);
    (void)xEscapeSetup(setup, kEscHostReadProc, sizeof(void *),
                       source == kCallback ? reinterpret_cast<void *>(&host_io) : nullptr, nullptr, 0);
    MemoryBlock block(in.data, in.size);
    HostBytes bytes{in.data, static_cast<int64_t>(in.size)};
    HostRecord record{};
    record.userValue = reinterpret_cast<uint64_t>(&answers);
    record.statusProc = status_proc;
    record.inputBlock = source == kNoHandle ? nullptr : block.handle();
    InterpretStructure interp{};
    interp.setup = setup;
    interp.hostRecord = &record;
    interp.hostIoHandle = &bytes;
    interp.fatSectorLimit = control & 0x80 ? 1 : 0;
    const char *path = source == kCallback ? "input.fpx" : "";
    last_import_code = ImportFile(0, "png", unwritable ? kUnwritableOutput : "", path, &interp);
    return 0;
}

} // namespace kxfuzz
