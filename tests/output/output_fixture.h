// Shared pieces of the output tests: a setup bound to a host record whose
// status procedure records every call and answers from a queue, and the
// output library (the recorder, or the real libzo_unx2.so) loaded through
// the family loader.
#pragma once

#include "support.h"

#include <kxfpx/codes.h>
#include <kxfpx/output.h>
#include <kxfpx/sharedlib.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace kxtest {

struct StatusCall {
    uint64_t user;
    int32_t kind, code, value1, value2, style;
    bool has_args;
    MessageArgs args;
};

// The host side: every status call is recorded; answers come from the
// queue, 0 once it is empty.
struct HostSide {
    static std::vector<StatusCall> calls;
    static std::deque<int32_t> answers;
    static int32_t proc(uint64_t user, int32_t kind, int32_t code, int32_t v1, int32_t v2,
                        int32_t style, MessageArgs *args)
    {
        StatusCall call = {user, kind, code, v1, v2, style, args != nullptr, {}};
        if (args)
            call.args = *args;
        calls.push_back(call);
        if (answers.empty())
            return 0;
        const int32_t answer = answers.front();
        answers.pop_front();
        return answer;
    }
};
inline std::vector<StatusCall> HostSide::calls;
inline std::deque<int32_t> HostSide::answers;

struct SetupDeleter {
    void operator()(FilterSetup *s) const { std::free(s); }
};

// A zero-filled setup as an import sees it, with a host record.
class OutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HostSide::calls.clear();
        HostSide::answers.clear();
        setup_.reset(static_cast<FilterSetup *>(std::calloc(1, sizeof(FilterSetup))));
        host_ = HostRecord{};
        host_.userValue = 0xABCDEF;
        host_.statusProc = &HostSide::proc;
        setup_->hostRecord = &host_;
        setup_->hostValue = 0x1122334455ULL;
        setup_->progressLast = 100;
        std::strcpy(setup_->outputName, "out.png");
        std::strcpy(setup_->deviceName, "PNG");
    }
    void TearDown() override
    {
        if (setup_ && setup_->gdsf)
            CloseGDSF(setup_->gdsf);
    }

    // Loads a library of the family by file name from the binary folder.
    GdsfHandle *open_library(const std::string &file)
    {
        SharedLib *lib = UnxLoadSharedLib((bin_dir() + "/" + file).c_str());
        if (!lib)
            return nullptr;
        setup_->gdsf = OpenGDSF(lib);
        return setup_->gdsf;
    }

    std::vector<StatusCall> errors_reported() const
    {
        std::vector<StatusCall> out;
        for (const StatusCall &c : HostSide::calls)
            if (c.kind == KX_STATUS_ERROR)
                out.push_back(c);
        return out;
    }

    std::unique_ptr<FilterSetup, SetupDeleter> setup_;
    HostRecord host_{};
};

} // namespace kxtest
