// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool track-replay: records an NMEA log into tracks through the GPS feed and the
// track manager, on the log's own clock, and prints each track's statistics. With
// --journal-dir it records into a profile folder as the application does (tracks.nvtf
// and its journal), and with --rate it does so at the pace of a live receiver, so that
// the program can be killed in the middle and the folder checked afterwards.
//
// navora-tool track-list: the tracks of a folder as the application would load them
// (tracks.nvtf plus whatever its journal holds), without changing anything.

#include <QStringList>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/apppaths.h"
#include "overlays/trackmanager.h"
#include "tools/replay_harness.h"
#include "tools/tool_command.h"

namespace {

int Fail(const char* command, const std::string& message) {
    std::fprintf(stderr, "navora-tool %s: %s\n", command, message.c_str());
    return 1;
}

double Round(double v, double unit) {
    return std::round(v / unit) * unit;
}

// One track: its statistics over the stored points and, when asked, the points.
std::string TrackLine(COverlayTrack& t, bool withPoints) {
    const CTrackStats st = t.StoredStats();
    CEventLine line;
    line.Add("name", t.getName());
    line.Add("points", t.getTotalPoints());
    line.Add("sections", t.getSectionCount());
    line.Add("distance_m", Round(st.distance, 0.01));
    line.Add("moving_s", Round(st.moving, 0.001));
    line.Add("stopped_s", Round(std::max(0.0, t.getElapsedTime() - st.moving), 0.001));
    line.Add("max_speed_ms", Round(st.maxSpeed, 0.001));
    const CTrackPoint* first = t.FirstPoint();
    const CTrackPoint* last = t.LastPoint();
    if (first && first->time > 0)
        line.Add("start", CReplayHarness::TimeText(first->time));
    else
        line.AddNull("start");
    if (last && last->time > 0)
        line.Add("end", CReplayHarness::TimeText(last->time));
    else
        line.AddNull("end");
    std::string text = line.Finish();
    if (withPoints) {
        // [latitude, longitude, time, altitude or null], shared section ends once.
        text.pop_back();
        text += ", \"list\": [";
        bool first = true;
        t.ForEachPoint([&](const CTrackSection&, int, const CTrackPoint& p) {
            char buf[128];
            if (p.HasAltitude())
                std::snprintf(buf, sizeof buf, "%s[%.9f, %.9f, %.3f, %.1f]", first ? "" : ", ", p.lat, p.lon, p.time,
                              double(p.altitude));
            else
                std::snprintf(buf, sizeof buf, "%s[%.9f, %.9f, %.3f, null]", first ? "" : ", ", p.lat, p.lon, p.time);
            text += buf;
            first = false;
        });
        text += "]}";
    }
    return text;
}

void PrintTracks(CTrackManager& manager, bool withPoints) {
    for (const auto& t : manager.GetTracks()) {
        if (t->isDeleted()) continue;
        const std::string line = TrackLine(*t, withPoints);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    }
    std::fflush(stdout);
}

int TrackReplay(const QStringList& argv) {
    const char* kName = "track-replay";
    ToolArgs args(argv);
    std::vector<QString> sets;
    for (;;) {
        bool present = false;
        const QString v = args.TakeOption(QStringLiteral("--set"), &present);
        if (!present) break;
        sets.push_back(v);
    }
    bool haveSave = false, haveJournal = false, haveRate = false;
    const QString saveDir = args.TakeOption(QStringLiteral("--save"), &haveSave);
    const QString journalDir = args.TakeOption(QStringLiteral("--journal-dir"), &haveJournal);
    const QString rateText = args.TakeOption(QStringLiteral("--rate"), &haveRate);
    const bool withPoints = args.TakeFlag(QStringLiteral("--points"));
    if (args.HasError()) return Fail(kName, args.Error().toStdString());
    if (args.Rest().size() != 1) return Fail(kName, "expected one LOG file (see navora-tool --help)");
    double rate = 0;
    if (haveRate && (!ParseDouble(rateText, rate) || !(rate > 0) || rate > 100000))
        return Fail(kName, "--rate must be a number of sentences per second between 0 and 100000");

    CReplayHarness harness([](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    });
    std::string error;
    for (const QString& s : sets)
        if (!harness.ApplySetting(s.toStdString(), error)) return Fail(kName, error);
    if (!harness.Load(args.Rest()[0].toStdString(), error)) return Fail(kName, error);

    CTrackManager manager;
    if (haveJournal) {
        const std::string dir = journalDir.toStdString();
        if (!DirectoryExists(dir)) return Fail(kName, "--journal-dir: no folder " + dir);
        manager.SetDirectory(dir);
        manager.LoadFromFile();
        if (manager.HasDamagedFile()) return Fail(kName, manager.FilePath() + " is damaged; it is left as it is");
        if (manager.ReplayedPoints() > 0)
            harness.Print(CEventLine().Add("event", "replayed").Add("points", manager.ReplayedPoints()).Finish());
    } else {
        manager.SetJournalEnabled(false);
    }
    // Recording is what this command is for, whatever the settings say.
    CTrackManager::settings.doRecordTrack = true;

    // In paced mode every recorded point and every sync is reported as it happens, so
    // that whoever kills the program knows what was safe at that moment.
    size_t lastPoints = 0;
    unsigned long long lastSyncs = 0;
    size_t line = 0;
    const auto start = std::chrono::steady_clock::now();
    harness.Run([&]() {
        ++line;
        if (!haveRate) return;
        if (COverlayTrack* t = manager.GetActiveTrack()) {
            const size_t n = t->getTotalPoints();
            if (n != lastPoints) {
                lastPoints = n;
                harness.Print(
                    harness.Event("point").Add("track", t->getName()).Add("points", n).Finish());
            }
            const unsigned long long syncs = manager.Journal().SyncCount();
            if (syncs != lastSyncs) {
                lastSyncs = syncs;
                harness.Print(harness.Event("sync").Add("track", t->getName()).Add("points", n).Finish());
            }
        }
        std::fflush(stdout);
        std::this_thread::sleep_until(start + std::chrono::duration<double>(double(line) / rate));
    });

    if (haveJournal && !manager.SaveIfNeeded()) return Fail(kName, "cannot write " + manager.FilePath());
    if (haveSave) {
        const std::string dir = saveDir.toStdString();
        if (!createDirectory(dir)) return Fail(kName, "--save: cannot make the folder " + dir);
        manager.SetJournalEnabled(false);
        manager.SetDirectory(dir);
        manager.SetChanged();
        if (!manager.SaveIfNeeded()) return Fail(kName, "cannot write " + manager.FilePath());
    }
    PrintTracks(manager, withPoints);
    return 0;
}

int TrackList(const QStringList& argv) {
    const char* kName = "track-list";
    ToolArgs args(argv);
    const bool withPoints = args.TakeFlag(QStringLiteral("--points"));
    if (args.HasError()) return Fail(kName, args.Error().toStdString());
    if (args.Rest().size() != 1) return Fail(kName, "expected one folder");
    const std::string dir = args.Rest()[0].toStdString();
    if (!DirectoryExists(dir)) return Fail(kName, "no folder " + dir);
    CTrackManager manager;
    manager.SetReadOnly(true);
    manager.SetDirectory(dir);
    if (!manager.LoadFromFile()) std::fprintf(stderr, "navora-tool %s: %s is damaged\n", kName, manager.FilePath().c_str());
    PrintTracks(manager, withPoints);
    return 0;
}

const ToolCommandRegistry::Registrar kTrackReplay({
    "track-replay",
    "LOG [--set SECTION:KEY=VALUE]... [--save DIR] [--journal-dir DIR [--rate N]] [--points]",
    "record an NMEA log into tracks on the log's clock and print one JSON line per track (points, sections, "
    "distance, moving and stopped time, maximum speed, start and end); --save writes tracks.nvtf to DIR; "
    "--journal-dir records into DIR as the application does, --rate at N sentences per second",
    TrackReplay,
    false,
});

const ToolCommandRegistry::Registrar kTrackList({
    "track-list",
    "DIR [--points]",
    "print the tracks of a profile folder as the application would load them (tracks.nvtf and its journal), "
    "one JSON line each, without changing anything",
    TrackList,
    false,
});

}  // namespace
