// SPDX-License-Identifier: MIT
// The Debian package on the real Xorg as a board without any xorg.conf runs
// it: the .deb unpacked into a private root, the server's modules from
// there, and the package's xorg.conf.d as the only configuration snippets
// (no Device section and no Driver line anywhere). The server itself must
// choose qel for the TX3120's kernel driver, and modesetting for any other.
//
// QEL_DEB names the .deb (scripts/test builds it with scripts/build-deb);
// without it the tests are skipped.
#include "artifacts.h"
#include "command.h"
#include "eventually.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using namespace qeltest;

namespace {

class Package : public SessionTest {
protected:
    static void SetUpTestSuite()
    {
        const char *deb = std::getenv("QEL_DEB");
        if (!deb || !*deb)
            return;
        root = new TempDir("qel-package");
        unpacked = runCommand({"dpkg-deb", "-x", deb, root->path()});
    }
    static void TearDownTestSuite()
    {
        delete root;
        root = nullptr;
    }

    void SetUp() override
    {
        if (!root)
            GTEST_SKIP() << "QEL_DEB does not name a package (scripts/build-deb makes one)";
        ASSERT_TRUE(unpacked.succeeded()) << unpacked.describe();
    }

    // The server as the package sets it up: modules and snippets from the
    // unpacked root; the simulated device as the board's.
    static Testbed packaged()
    {
        Paths paths = defaultPaths();
        paths.moduleDir = *root / "usr/lib/xorg/modules/drivers";
        return Testbed()
            .paths(paths)
            .driverChosenByServer()
            .configDir(*root / "usr/share/X11/xorg.conf.d")
            // modesetting's glamor on Mesa's software renderer, should the
            // server choose it.
            .serverEnv("GBM_ALWAYS_SOFTWARE", "1")
            .serverEnv("GALLIUM_DRIVER", "softpipe");
    }

    static bool contains(const std::string &log, const std::string &text)
    {
        return log.find(text) != std::string::npos;
    }

    static TempDir *root;
    static CommandResult unpacked;
};

TempDir *Package::root = nullptr;
CommandResult Package::unpacked;

TEST_F(Package, ServerChoosesQelForTheTx3120WithoutConfiguration)
{
    start(packaged());
    if (HasFatalFailure())
        return;
    std::string log = session->log();
    EXPECT_TRUE(contains(log, "Matched qel as autoconfigured driver 0")) << log;
    EXPECT_TRUE(contains(log, "Loading " + *root / "usr/lib/xorg/modules/drivers/qel_drv.so"))
        << log;
    EXPECT_TRUE(contains(log, "QEL(0): Using DRM device /dev/dri/card0")) << log;
    EXPECT_FALSE(contains(log, "modeset(0)")) << log;
    EXPECT_TRUE(eventually([&] { return session->sim().crtcs().at(0).active; }))
        << "qel set no mode";
}

TEST_F(Package, ServerKeepsModesettingForAnotherKernelDriver)
{
    start(packaged().kernelDriver("other-kms"));
    if (HasFatalFailure())
        return;
    std::string log = session->log();
    EXPECT_TRUE(contains(log, "Matched modesetting as autoconfigured driver 0")) << log;
    EXPECT_FALSE(contains(log, "LoadModule: \"qel\"")) << log;
    EXPECT_TRUE(contains(log, "modeset(0): ")) << log;
}

} // namespace
