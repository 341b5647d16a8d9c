// Output tests' setup: a recording host status procedure and an output library loaded by name.
#pragma once

#include "support.h"
#include "output/gdsf.h"

#include <kxfpx/codes.h>
#include <kxfpx/output.h>
#include <kxfpx/sharedlib.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace kxtest {

struct StatusCall {
    uint64_t user;
    int32_t kind, code, value1, value2, style;
    bool has_args;
    MessageArgs args;
    auto fields() const { return std::make_tuple(user, kind, code, value1, value2, style); }
};

struct HostSide {
    static inline std::vector<StatusCall> calls;
    static inline std::deque<int32_t> answers; // 0 once empty
    static int32_t proc(uint64_t user, int32_t kind, int32_t code, int32_t v1, int32_t v2,
                        int32_t style, MessageArgs *args)
    {
        calls.push_back({user, kind, code, v1, v2, style, args != nullptr, args ? *args : MessageArgs{}});
        if (answers.empty())
            return 0;
        const int32_t answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

class OutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        HostSide::calls.clear();
        HostSide::answers.clear();
        setup_ = std::make_unique<FilterSetup>();
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
    GdsfHandle *open_library(const std::string &file)
    {
        SharedLib *lib = UnxLoadSharedLib((bin_dir() + "/" + file).c_str());
        return lib ? (setup_->gdsf = OpenGDSF(lib)) : nullptr;
    }
    // The codes of the errors reported to the host, in order.
    std::vector<int32_t> errors() const
    {
        std::vector<int32_t> out;
        for (const StatusCall &c : HostSide::calls)
            if (c.kind == KX_STATUS_ERROR)
                out.push_back(c.code);
        return out;
    }

    std::unique_ptr<FilterSetup> setup_;
    HostRecord host_{};
};

} // namespace kxtest
