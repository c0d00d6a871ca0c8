// SPDX-License-Identifier: MIT
// GoogleTest glue: a fixture whose failed tests leave the server's log, the
// simulator's counters and a PNG of the panel in
// $QEL_ARTIFACTS/<suite>.<test>/ (default <build>/system-artifacts).
#pragma once

#include "session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace qeltest {

std::string artifactsDirForCurrentTest();

class SessionTest : public ::testing::Test {
protected:
    // Starts the server; when it does not come up, its log goes to the
    // artifacts and the test fails fatally (check HasFatalFailure()).
    void start(const Testbed &testbed);
    void TearDown() override;
    std::unique_ptr<Session> session;
};

} // namespace qeltest
