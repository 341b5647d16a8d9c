// The filter imported as a host imports it, in a child process: dlopen,
// fltLoadPointers, CreateSetup, ImportFile by path into the output library's
// row sink (the caller sets KXFPX_OUTPUT_DISCARD=1). The child reports the
// import's wall time and the peak memory the import added (VmHWM after it
// less VmRSS before it), so the figures are the filter's own. The thread
// count reaches the filter through a profile's Threads key.
#pragma once

#include <kxfpx/records.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <libgen.h>
#include <limits.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace benchhost {

using ImportFileProc = int32_t (*)(uint64_t, const char *, const char *, const char *,
                                   InterpretStructure *);
using CreateSetupProc = HGLOBAL (*)(uint64_t, const char *, const char *);
using DestroySetupProc = int32_t (*)(HGLOBAL);

struct Result {
    int code = -1;
    double seconds = 0;
    long peak_kb = 0;
};

inline std::string bin_dir()
{
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return ".";
    return dirname(self);
}

inline long status_kb(const char *field)
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

inline void *entry(const SharedLib &lib, const char *name)
{
    for (int i = 0; i < lib.rowCount; ++i)
        if (lib.rows[i].name && std::strcmp(lib.rows[i].name, name) == 0)
            return lib.rows[i].entry;
    return nullptr;
}

// In the child: a profile asking for `threads` (0: one per processor), then
// one import; writes "code seconds kb" to fd.
[[noreturn]] inline void import_child(const std::string &file, int threads, int fd)
{
    Result r;
    char profileDir[] = "/tmp/kxfpx-bench-ini-XXXXXX";
    if (mkdtemp(profileDir)) {
        const std::string ini = std::string(profileDir) + "/libkx_fpx2.ini";
        std::ofstream(ini) << "[KR_FPX]\n~Mode=Bench\nBench=KR_FPX.1\n[Bench]\nDriver=KR_FPX.1\nThreads="
                           << threads << "\n";
        setenv("INIDIR", profileDir, 1);
    }
    const std::string path = bin_dir() + "/libkx_fpx2.so";
    void *handle = dlopen(path.c_str(), RTLD_NOW);
    auto load = handle ? reinterpret_cast<FltLoadPointersProc>(dlsym(handle, "fltLoadPointers")) : nullptr;
    if (load) {
        SharedLib lib = {};
        load(&lib);
        auto create = reinterpret_cast<CreateSetupProc>(entry(lib, "CreateSetup"));
        auto destroy = reinterpret_cast<DestroySetupProc>(entry(lib, "DestroySetup"));
        auto import = reinterpret_cast<ImportFileProc>(entry(lib, "ImportFile"));
        HGLOBAL setup = create(0, nullptr, nullptr);
        HostRecord host = {};
        InterpretStructure interp = {};
        interp.setup = setup;
        interp.hostRecord = &host;
        const long before = status_kb("VmRSS:");
        const auto t0 = std::chrono::steady_clock::now();
        r.code = import(0, "png", "", file.c_str(), &interp);
        const auto t1 = std::chrono::steady_clock::now();
        r.peak_kb = status_kb("VmHWM:") - before;
        r.seconds = std::chrono::duration<double>(t1 - t0).count();
        destroy(setup);
    }
    std::remove((std::string(profileDir) + "/libkx_fpx2.ini").c_str());
    rmdir(profileDir);
    char line[128];
    const int n = std::snprintf(line, sizeof line, "%d %.9f %ld\n", r.code, r.seconds, r.peak_kb);
    if (write(fd, line, size_t(n)) != n)
        _exit(2);
    _exit(0);
}

inline Result run_import(const std::string &file, int threads)
{
    Result r;
    int fds[2];
    if (pipe(fds) != 0)
        return r;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        import_child(file, threads, fds[1]);
    }
    close(fds[1]);
    char buf[128] = {};
    const ssize_t got = read(fds[0], buf, sizeof buf - 1);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (got > 0)
        std::istringstream(buf) >> r.code >> r.seconds >> r.peak_kb;
    return r;
}

} // namespace benchhost
