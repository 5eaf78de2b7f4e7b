// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTemporaryDir>

#include <fstream>

#include <gtest/gtest.h>

#include "app/commandline.h"
#include "app/crash_detector.h"
#include "core/apppaths.h"
#include "support/recording_ui.h"

TEST(StartupArguments, ProfileIsTakenOutAndEverythingElseKeptInOrder) {
    const auto a = ParseStartupArguments({"navora", "-profile", "t1", "/tmp/a.gpx", "navlink://view?lat=1"});
    EXPECT_EQ(a.profile, "t1");
    EXPECT_EQ(a.files, QStringList({"navora", "/tmp/a.gpx", "navlink://view?lat=1"}));

    // "-profile" as the last argument selects nothing and is not a file either.
    const auto b = ParseStartupArguments({"navora", "x.qct", "-profile"});
    EXPECT_TRUE(b.profile.isEmpty());
    EXPECT_EQ(b.files, QStringList({"navora", "x.qct"}));

    // The last of two profiles wins; the word after "-profile" is never a file.
    const auto c = ParseStartupArguments({"navora", "-profile", "a", "-profile", "b"});
    EXPECT_EQ(c.profile, "b");
    EXPECT_EQ(c.files, QStringList({"navora"}));
}

TEST(ClassifyArgument, LinksFilesAndNoise) {
    QTemporaryDir dir;
    const std::string chart = dir.path().toStdString() + "/Chart.QCT";
    const std::string gpx = dir.path().toStdString() + "/track.gpx";
    std::ofstream(chart) << "x";
    std::ofstream(gpx) << "x";

    auto a = ClassifyArgument(chart);
    EXPECT_EQ(a.kind, ArgumentAction::OpenChart);  // extension compared without case
    EXPECT_EQ(a.query, chart);
    EXPECT_EQ(ClassifyArgument(gpx).kind, ArgumentAction::Import);

    // A link whose path is empty uses its host as the command.
    a = ClassifyArgument("navlink://view?lat=50.1&lon=-1.5&scale=0.01");
    EXPECT_EQ(a.kind, ArgumentAction::Activity);
    EXPECT_EQ(a.command, "view");
    EXPECT_EQ(a.query, "lat=50.1&lon=-1.5&scale=0.01");

    // Otherwise the last path component, lower-cased.
    a = ClassifyArgument("NAVLINK://app/cmds/Mark?name=Buoy");
    EXPECT_EQ(a.kind, ArgumentAction::Activity);
    EXPECT_EQ(a.command, "mark");
    EXPECT_EQ(a.query, "name=Buoy");

    a = ClassifyArgument("file:///home/u/charts/solent.qct");
    EXPECT_EQ(a.command, "open");
    EXPECT_EQ(a.query, "/home/u/charts/solent.qct");

    a = ClassifyArgument("https://charts.example/KVS/a.qct");
    EXPECT_EQ(a.command, "fetch");
    EXPECT_EQ(a.query, "https://charts.example/KVS/a.qct");

    // Missing files, other schemes and junk are ignored without a message.
    EXPECT_EQ(ClassifyArgument("/no/such/file.gpx").kind, ArgumentAction::Ignore);
    EXPECT_EQ(ClassifyArgument("ftp://host/x").kind, ArgumentAction::Ignore);
    EXPECT_EQ(ClassifyArgument("-profile").kind, ArgumentAction::Ignore);
    EXPECT_EQ(ClassifyArgument("").kind, ArgumentAction::Ignore);
    EXPECT_EQ(ClassifyArgument("navlink://").kind, ArgumentAction::Ignore);
}

TEST(ImportFileOfAnyType, TellsTheUserExactlyWhatFailed) {
    RecordingUi ui;
    ClearImportersForTesting();
    CBounds bounds;

    EXPECT_FALSE(importFileOfAnyType(NV_HWND(), "/d/x.doc", bounds));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "Unknown file extension");
    EXPECT_EQ(ui.messages[0].text, "Don't know what this file is: /d/x.doc");

    // An importer that fails gets its own title.
    RegisterImporter("csv", [](const NV_HWND&, const std::string&, CBounds&, std::string&) { return false; });
    ui.Clear();
    EXPECT_FALSE(importFileOfAnyType(NV_HWND(), "/d/x.csv", bounds));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "CSV Import Failed");
    EXPECT_EQ(ui.messages[0].text, "Failed to import file: /d/x.csv");

    // Page files: the importer's reason when it gives one, else a plain read error.
    RegisterImporter("dvpage", [](const NV_HWND&, const std::string&, CBounds&, std::string& reason) {
        reason = "bad magic";
        return false;
    });
    RegisterImporter("pstf", [](const NV_HWND&, const std::string&, CBounds&, std::string&) { return false; });
    ui.Clear();
    importFileOfAnyType(NV_HWND(), "/d/p.dvpage", bounds);
    importFileOfAnyType(NV_HWND(), "/d/p.pstf", bounds);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0].title, "Pages file Failed");
    EXPECT_EQ(ui.messages[0].text, "Reading the .dvpage file failed: bad magic");  // once, not doubled
    EXPECT_EQ(ui.messages[1].text, "Error reading file");

    // A successful importer grows the bounds and says nothing.
    RegisterImporter("gpx", [](const NV_HWND&, const std::string&, CBounds& b, std::string&) {
        b.Add(-1.5, 50.5);
        b.Add(-1.0, 50.9);
        return true;
    });
    ui.Clear();
    EXPECT_TRUE(importFileOfAnyType(NV_HWND(), "/d/a.xml", bounds));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(bounds.IsValid());
    EXPECT_DOUBLE_EQ(bounds.xmin, -1.5);
    ClearImportersForTesting();
}

TEST(CrashDetector, MarkerSurvivesOnlyAnUncleanEndOrAnUnreportedCrash) {
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    {
        CrashDetector first("app", d);
        EXPECT_FALSE(first.crashDetected());
        EXPECT_TRUE(FileExists(d + "/app.crash"));
    }
    EXPECT_FALSE(FileExists(d + "/app.crash"));  // orderly end

    std::ofstream(d + "/app.crash") << "1";  // what a killed run leaves
    {
        CrashDetector second("app", d);
        EXPECT_TRUE(second.crashDetected());
        // Not reported (the window never came up): the next run must still report it.
    }
    EXPECT_TRUE(FileExists(d + "/app.crash"));
    {
        CrashDetector third("app", d);
        ASSERT_TRUE(third.crashDetected());
        third.clearCrashDetected();
    }
    EXPECT_FALSE(FileExists(d + "/app.crash"));
    CrashDetector fourth("app", d);
    EXPECT_FALSE(fourth.crashDetected());
}
