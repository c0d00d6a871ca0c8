// SPDX-License-Identifier: MIT
#include "artifacts.h"

#include <cstdlib>
#include <iostream>

namespace qeltest {

std::string artifactsDirForCurrentTest()
{
    const char *root = std::getenv("QEL_ARTIFACTS");
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char &c : name)
        if (c == '/')
            c = '_';
    return (root && *root ? std::string(root) : defaultPaths().buildRoot + "/system-artifacts") +
           "/" + name;
}

void SessionTest::start(const Testbed &testbed)
{
    try {
        session = testbed.start();
    } catch (const XServer::StartFailure &failure) {
        std::string dir = artifactsDirForCurrentTest();
        makeDirs(dir);
        for (const char *name : {"Xorg.log", "Xorg.log.stderr", "xorg.conf"})
            if (pathExists(failure.runDir + "/" + name))
                copyFile(failure.runDir + "/" + name, dir + "/" + name);
        FAIL() << failure.what() << "\nartifacts: " << dir;
    }
}

void SessionTest::TearDown()
{
    if (!session || !HasFailure())
        return;
    std::string dir = artifactsDirForCurrentTest();
    session->saveArtifacts(dir);
    std::cerr << "artifacts of the failed test: " << dir << "\n";
}

} // namespace qeltest
