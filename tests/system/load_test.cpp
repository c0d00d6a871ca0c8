// SPDX-License-Identifier: MIT
// The real Xorg loads qel from the build: module registration as the server
// reports it. No device exists here, so the server then ends for want of
// screens, which is expected.
#include "testbed.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

using namespace qeltest;

namespace {

class ModuleLoad : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        exited = new ExitedServer(Testbed().withoutDevice().runToExit());
    }
    static void TearDownTestSuite() { delete exited; }
    static ExitedServer *exited;
};

ExitedServer *ModuleLoad::exited = nullptr;

TEST_F(ModuleLoad, ServerLoadsTheModuleFromTheBuild)
{
    EXPECT_NE(exited->log.find("(II) LoadModule: \"qel\""), std::string::npos) << exited->log;
    EXPECT_NE(exited->log.find("src/qel_drv.so"), std::string::npos) << exited->log;
}

TEST_F(ModuleLoad, VersionRecordIsReported)
{
    const std::string &log = exited->log;
    auto at = log.find("Module qel: vendor=\"X.Org Foundation\"");
    ASSERT_NE(at, std::string::npos) << log;
    std::string record = log.substr(at, 300);
    EXPECT_NE(record.find("compiled for 1.21.1.7, module version = 1.2.0"), std::string::npos)
        << record;
    EXPECT_NE(record.find("Module class: X.Org Video Driver"), std::string::npos) << record;
    EXPECT_NE(record.find("ABI class: X.Org Video Driver, version 25.2"), std::string::npos)
        << record;
}

TEST_F(ModuleLoad, IdentifyBannerIsLogged)
{
    EXPECT_NE(exited->log.find("(II) qel: driver for the Kellaventis TX3120 (GE 2D)"),
              std::string::npos)
        << exited->log;
}

TEST_F(ModuleLoad, ServerEndsWithNoScreensWhenNoDeviceExists)
{
    ASSERT_TRUE(WIFEXITED(exited->waitStatus)) << describeStatus(exited->waitStatus);
    EXPECT_NE(WEXITSTATUS(exited->waitStatus), 0);
    EXPECT_NE(exited->log.find("no screens found"), std::string::npos) << exited->log;
    EXPECT_EQ(exited->log.find("Failed to load module \"qel\""), std::string::npos);
}

} // namespace
