// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/uiservices.h"
#include "support/recording_ui.h"

TEST(UiServices, MessageBoxesCarryTheirExactButtonsAndAnswer) {
    RecordingUi ui;
    bool yes = false, no = false, ok = false;
    MessageBoxOK(NV_HWND(), "Problem", "Disk full", [&] { ok = true; });
    ui.answer = 1;
    MessageBoxYesNo(
        NV_HWND(), "Delete", "Delete it?", [&] { yes = true; }, [&] { no = true; });
    MessageBoxHint(NV_HWND(), "Tap twice");
    int chosen = -1;
    ui.answer = 2;
    MessageBox3(NV_HWND(), "Save", "Save changes?", "Save", "Discard", "Cancel", [&](int b) { chosen = b; });

    ASSERT_EQ(ui.messages.size(), 4u);
    EXPECT_EQ(ui.messages[0].buttons, std::vector<std::string>{"  OK  "});
    EXPECT_EQ(ui.messages[1].buttons, (std::vector<std::string>{"  Yes  ", " No "}));
    EXPECT_EQ(ui.messages[2].title, "Hint");
    EXPECT_EQ(ui.messages[2].text, "Tap twice");
    EXPECT_EQ(ui.messages[3].buttons, (std::vector<std::string>{"Save", "Discard", "Cancel"}));
    EXPECT_TRUE(ok);
    EXPECT_FALSE(yes);
    EXPECT_TRUE(no);
    EXPECT_EQ(chosen, 2);
}

TEST(UiServices, DoneButtonRunsAPreviousCallbackWhenReplaced) {
    RecordingUi ui;
    std::vector<int> ran;
    SetDoneButtonCallback([&] { ran.push_back(1); });
    EXPECT_TRUE(DoneButtonIsActive());
    SetDoneButtonCallback([&] { ran.push_back(2); });  // finishes the first tool's work
    EXPECT_EQ(ran, std::vector<int>{1});
    InvokeDoneButtonCallback();
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_FALSE(DoneButtonIsActive());
    InvokeDoneButtonCallback();  // nothing left to run
    EXPECT_EQ(ran.size(), 2u);

    static int hits = 0;
    SetDoneButtonCallback([](void* ctx) { *static_cast<int*>(ctx) += 1; }, &hits);
    SetDoneButtonCallback(nullptr, nullptr);  // a null pointer clears, after running the old one
    EXPECT_EQ(hits, 1);
    EXPECT_FALSE(DoneButtonIsActive());
    ASSERT_FALSE(ui.doneButton.empty());
    EXPECT_FALSE(ui.doneButton.back());
}

TEST(UiServices, InactivityNestsAndOnlyTheOutermostPairSignals) {
    RecordingUi ui;
    EXPECT_FALSE(isUserInterfaceBusy());
    stopInactivityTimeout();
    stopInactivityTimeout();
    EXPECT_TRUE(isUserInterfaceBusy());
    startInactivityTimeout();
    EXPECT_TRUE(isUserInterfaceBusy());
    startInactivityTimeout();
    EXPECT_FALSE(isUserInterfaceBusy());
    startInactivityTimeout();  // unbalanced: must not go negative
    EXPECT_EQ(inactivityBusyCount(), 0);
    EXPECT_EQ(ui.inactivity, (std::vector<bool>{false, true}));
}
