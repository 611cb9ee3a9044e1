// A test fixture on one viewer session, its scripted backend at hand.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/viewer_session.h"

namespace pmtest {

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(session.ok()); }

    ViewerSession session;
    ScriptedBackend& backend = session.backend;
};

} // namespace pmtest
