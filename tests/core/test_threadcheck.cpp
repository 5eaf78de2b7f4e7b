// SPDX-License-Identifier: GPL-3.0-or-later
// The GUI-thread checks: they know the GUI thread, and in a checked build a GUI-thread
// function called from elsewhere stops the program, naming the function.
#include <gtest/gtest.h>

#include <thread>

#include "core/threadcheck.h"
#include "core/uiservices.h"

TEST(ThreadCheck, KnowsTheGuiThreadAndStopsCallsFromOthers) {
    EXPECT_TRUE(NvIsGuiThread());
    bool elsewhere = true;
    std::thread([&elsewhere] { elsewhere = NvIsGuiThread(); }).join();
    EXPECT_FALSE(elsewhere);

    if (!NV_THREAD_CHECKS_ENABLED) GTEST_SKIP() << "thread checks are compiled out of this build";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(std::thread([] { SetStatusMessage("from a worker"); }).join(),
                 "SetStatusMessage.*must run on the GUI thread");
}
