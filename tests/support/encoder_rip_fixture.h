// Whole rips through the loaded module with the fake encoder behind them:
// an output folder, a folder for everything else (settings, the encoder's
// record of its runs), and the module loaded as a host loads it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake_encoder/run_log.h"
#include "module_host.h"
#include "temp_folder_test.h"
#include "test_support.h"

namespace testing_support {

class EncoderRipTest : public TempFolderTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(NewFolder(out_) && NewFolder(aux_));
        host_.reset(new ModuleHost(ProgramFolder() + ModuleFileName()));
        ASSERT_TRUE(host_->ready());
    }

    // A settings file in aux_.
    std::string WriteSettings(const Settings &settings, const std::string &name = "encbridge.ini") const {
        return testing_support::WriteSettings(aux_ + name, settings);
    }
    std::string Log(const std::string &name = "runs.log") const { return aux_ + name; }
    // A command template for the fake encoder with the given options.
    std::string Fake(const std::string &options, const std::string &log = "runs.log") const {
        return "--log \"" + Log(log) + "\" " + options + " %i% %o%";
    }
    std::vector<fake_encoder::Run> Runs(const std::string &log = "runs.log") const {
        return fake_encoder::ReadRuns(Log(log));
    }

    std::string out_, aux_;
    std::unique_ptr<ModuleHost> host_;
};

}  // namespace testing_support
