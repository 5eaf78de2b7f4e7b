// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool overlay-list: what the overlay list shows, one JSON line per mark, route and
// track of a profile's data folder, read through the real managers. Nothing is written:
// the files are read only, a damaged one is reported and left as it is.

#include <QCoreApplication>
#include <QStandardPaths>
#include <QStringList>

#include <cstdio>
#include <string>

#include "core/apppaths.h"
#include "core/uiservices.h"
#include "overlays/markmanager.h"
#include "overlays/trackmanager.h"
#include "tools/replay_harness.h"
#include "tools/tool_command.h"

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "navora-tool overlay-list: %s\n", message.c_str());
    return 1;
}

// The data folder of a profile, as the application finds it.
std::string ProfileDirectory(const QString& profile) {
    const QString saved = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(profile);
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QCoreApplication::setApplicationName(saved);
    return dir.toLocal8Bit().toStdString();
}

void AddCommon(CEventLine& line, const char* kind, CSyncable& object) {
    line.Add("kind", kind).Add("name", object.getName()).Add("id", object.GetObjectIDstr());
    line.Add("visible", object.isVisibleFlag());
    if (!object.getCategory().empty()) line.Add("category", object.getCategory());
}

// Messages from the managers (a damaged file) go to stderr, not into the JSON lines.
class StderrUi : public IUiServices {
public:
    void ShowMessage(const NV_HWND&, const std::string& title, const std::string& text,
                     const std::vector<std::string>&, std::function<void(int)> done) override {
        std::fprintf(stderr, "navora-tool overlay-list: %s: %s\n", title.c_str(), text.c_str());
        if (done) done(0);
    }
    void SetStatusMessage(const std::string&) override {}
    void ShowSystemNotification(const std::string&, const std::string&, const std::string&) override {}
    void CancelSystemNotification(const std::string&) override {}
    void ShowProgress(const NV_HWND&, std::shared_ptr<CProgressDialogData>) override {}
};

int Run(const QStringList& arguments) {
    ToolArgs args(arguments);
    bool haveDir = false;
    const QString dirArg = args.TakeOption(QStringLiteral("--dir"), &haveDir);
    bool haveProfile = false;
    const QString profile = args.TakeOption(QStringLiteral("--profile"), &haveProfile);
    if (args.HasError()) return Fail(args.Error().toStdString());
    if (!args.Rest().isEmpty() || (haveDir && dirArg.isEmpty()) || (haveDir && haveProfile))
        return Fail("usage: overlay-list [--dir DIR | --profile NAME]");
    const std::string dir = haveDir ? dirArg.toLocal8Bit().toStdString()
                                    : ProfileDirectory(haveProfile ? profile : QStringLiteral("default"));
    if (!DirectoryExists(dir)) return Fail("no such folder: " + dir);

    StderrUi ui;
    SetUiServices(&ui);
    CMarkManager marks;
    marks.SetDirectory(dir);
    CTrackManager tracks;
    tracks.SetDirectory(dir);
    tracks.SetReadOnly(true);
    marks.LoadFromFile();
    tracks.LoadFromFile();
    SetUiServices(nullptr);

    for (const auto& m : marks.Marks()) {
        if (m->isDeleted()) continue;
        CEventLine line;
        AddCommon(line, "mark", *m);
        line.Add("lat", m->getLat()).Add("lon", m->getLon()).Add("icon", m->getIcon());
        line.Add("alarm_radius", double(m->getAlarmRadius())).Add("navigating", m->isNavigatingToMark());
        std::printf("%s\n", line.Finish().c_str());
    }
    for (const auto& r : marks.Routes()) {
        if (r->isDeleted()) continue;
        CEventLine line;
        AddCommon(line, "route", *r);
        line.Add("points", r->size()).Add("length_m", r->getTotalLengthMeters()).Add("following", r->isFollowed());
        std::printf("%s\n", line.Finish().c_str());
    }
    for (const auto& t : tracks.GetTracks()) {
        if (t->isDeleted()) continue;
        CEventLine line;
        AddCommon(line, "track", *t);
        line.Add("points", t->getTotalPoints()).Add("distance_m", t->getTotalDistance());
        if (t->hasTiming()) line.Add("start", t->getTimeOfStart()).Add("moving_s", t->getMovingTime());
        std::printf("%s\n", line.Finish().c_str());
    }
    return marks.HasDamagedFile() || tracks.HasDamagedFile() ? 2 : 0;
}

ToolCommandRegistry::Registrar registrar({"overlay-list", "[--dir DIR | --profile NAME]",
                                          "lists the marks, routes and tracks of a profile's data folder as JSON lines",
                                          Run, false});

}  // namespace
