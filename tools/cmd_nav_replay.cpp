// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool nav-replay: replays an NMEA log through the GPS feed, the mark manager, its
// navigation and alarms, with marks and routes given on the command line (or read from
// a profile folder), and prints what the user would have been told and what the
// autopilot would have received.

#include <QStringList>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/apppaths.h"
#include "core/pubsub.h"
#include "navdata/gpsposition.h"
#include "overlays/markmanager.h"
#include "tools/replay_harness.h"
#include "tools/tool_command.h"

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "navora-tool nav-replay: %s\n", message.c_str());
    return 1;
}

std::vector<QString> TakeAll(ToolArgs& args, const QString& name) {
    std::vector<QString> values;
    for (;;) {
        bool present = false;
        const QString v = args.TakeOption(name, &present);
        if (!present) break;
        values.push_back(v);
    }
    return values;
}

bool ParseLatLon(const QString& latText, const QString& lonText, double& lat, double& lon) {
    return ParseDouble(latText, lat) && ParseDouble(lonText, lon) && std::isfinite(lat) && std::isfinite(lon) &&
           std::fabs(lat) <= 90 && std::fabs(lon) <= 180;
}

// "NAME@LAT,LON[,radius=M][,inner=M]"
bool AddMark(CMarkManager& manager, const QString& spec, std::string& error) {
    const int at = spec.lastIndexOf(QLatin1Char('@'));
    if (at <= 0) {
        error = "--mark needs NAME@LAT,LON[,radius=M][,inner=M] (got '" + spec.toStdString() + "')";
        return false;
    }
    const QStringList parts = spec.mid(at + 1).split(QLatin1Char(','));
    double lat = 0, lon = 0;
    if (parts.size() < 2 || !ParseLatLon(parts[0], parts[1], lat, lon)) {
        error = "--mark '" + spec.toStdString() + "': the position must be decimal degrees LAT,LON";
        return false;
    }
    double radius = 0, inner = 0;
    for (int i = 2; i < parts.size(); ++i) {
        const QString p = parts[i].trimmed();
        double* target = p.startsWith(QLatin1String("radius=")) ? &radius
                         : p.startsWith(QLatin1String("inner=")) ? &inner
                                                                  : nullptr;
        if (!target || !ParseDouble(p.mid(p.indexOf(QLatin1Char('=')) + 1), *target) || !(*target >= 0) ||
            *target > 1e7) {
            error = "--mark '" + spec.toStdString() + "': unknown or bad option '" + p.toStdString() +
                    "' (radius=METRES, inner=METRES)";
            return false;
        }
    }
    if (inner > 0 && !(radius > inner)) {
        error = "--mark '" + spec.toStdString() + "': an anchor alarm needs radius= larger than inner=";
        return false;
    }
    auto mark = std::make_unique<COverlayMark>();
    mark->setName(spec.left(at).toStdString());
    mark->SetPosition(lat, lon);
    mark->SetAlarm(float(inner), float(radius));
    manager.AddMark(std::move(mark));
    return true;
}

// "NAME@LAT,LON;LAT,LON;...[,geofence][,exclusion]"
bool AddRoute(CMarkManager& manager, const QString& spec, std::string& error) {
    const int at = spec.lastIndexOf(QLatin1Char('@'));
    const std::string usage = "--route needs NAME@LAT,LON;LAT,LON;...[,geofence][,exclusion] (got '" +
                              spec.toStdString() + "')";
    if (at <= 0) {
        error = usage;
        return false;
    }
    auto route = std::make_unique<COverlayRoute>();
    route->setName(spec.left(at).toStdString());
    bool geofence = false, exclusion = false;
    const QStringList points = spec.mid(at + 1).split(QLatin1Char(';'));
    for (int i = 0; i < points.size(); ++i) {
        const QStringList parts = points[i].split(QLatin1Char(','));
        double lat = 0, lon = 0;
        if (parts.size() < 2 || !ParseLatLon(parts[0], parts[1], lat, lon)) {
            error = usage + ": point " + std::to_string(i + 1) + " is not LAT,LON in decimal degrees";
            return false;
        }
        for (int k = 2; k < parts.size(); ++k) {
            const QString flag = parts[k].trimmed();
            if (i + 1 == points.size() && flag == QLatin1String("geofence")) {
                geofence = true;
            } else if (i + 1 == points.size() && flag == QLatin1String("exclusion")) {
                exclusion = true;
            } else {
                error = usage + ": unknown '" + flag.toStdString() + "'";
                return false;
            }
        }
        route->AddWaypoint(lat, lon);
    }
    if (route->size() < 2) {
        error = usage + ": a route needs two points at least";
        return false;
    }
    if ((geofence || exclusion) && route->size() < 3) {
        error = usage + ": an area needs three points at least";
        return false;
    }
    route->SetAreaAlarms(geofence, exclusion);
    manager.AddRoute(std::move(route));
    return true;
}

COverlayRoute* FindRoute(CMarkManager& manager, const std::string& name) {
    for (const auto& r : manager.Routes())
        if (!r->isDeleted() && r->getName() == name) return r.get();
    return nullptr;
}

int NavReplay(const QStringList& argv) {
    ToolArgs args(argv);
    const std::vector<QString> marks = TakeAll(args, QStringLiteral("--mark"));
    const std::vector<QString> routes = TakeAll(args, QStringLiteral("--route"));
    const std::vector<QString> sets = TakeAll(args, QStringLiteral("--set"));
    bool haveGoto = false, haveFollow = false, haveProfile = false, haveLog = false;
    const QString gotoName = args.TakeOption(QStringLiteral("--goto"), &haveGoto);
    const QString followName = args.TakeOption(QStringLiteral("--follow"), &haveFollow);
    const QString profile = args.TakeOption(QStringLiteral("--profile-dir"), &haveProfile);
    const QString alarmLog = args.TakeOption(QStringLiteral("--alarm-log"), &haveLog);
    if (args.HasError()) return Fail(args.Error().toStdString());
    if (args.Rest().size() != 1) return Fail("expected one LOG file (see navora-tool --help)");
    if (haveGoto && haveFollow) return Fail("give --goto or --follow, not both");

    std::FILE* out = stdout;
    CReplayHarness harness([out](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), out);
        std::fputc('\n', out);
    });
    std::string error;
    for (const QString& s : sets)
        if (!harness.ApplySetting(s.toStdString(), error)) return Fail(error);
    if (!harness.Load(args.Rest()[0].toStdString(), error)) return Fail(error);

    CMarkManager manager;
    if (haveProfile) {
        // The user's saved marks and routes, read only: a replay never writes them.
        manager.SetDirectory(profile.toStdString());
        if (!FileExists(manager.MarksPath()) && !FileExists(manager.RoutesPath()))
            return Fail("no marks.nvtf or routes.nvtf in " + profile.toStdString());
        manager.LoadFromFile();
    }
    manager.AlarmLog().SetPath(haveLog ? alarmLog.toStdString() : std::string());
    for (const QString& m : marks)
        if (!AddMark(manager, m, error)) return Fail(error);
    for (const QString& r : routes)
        if (!AddRoute(manager, r, error)) return Fail(error);

    // Target changes, printed before the sentences the same change sends out.
    size_t gotoChanges = 0;
    uint64_t lastTarget = 0;
    struct Ctx {
        CReplayHarness* h;
        size_t* changes;
        uint64_t* last;
    } ctx{&harness, &gotoChanges, &lastTarget};
    Listener<CDataGotoMark>* keepSource = nullptr;
    struct Dummy : Listener<CDataGotoMark> {
        void OnUpdate(CDataGotoMark&) override {}
    };
    std::unique_ptr<Dummy> dummy;
    if (!Listener<CDataGotoMark>::pDatasource) {
        dummy = std::make_unique<Dummy>();
        keepSource = dummy.get();
    }
    (void)keepSource;
    CDataSource::callback gotoWatch;
    gotoWatch.attach(
        *Listener<CDataGotoMark>::pDatasource,
        [](void* c, void* d) {
            auto* x = static_cast<Ctx*>(c);
            const auto* g = static_cast<CDataGotoMark*>(d);
            if (g->target_id == *x->last) return;
            *x->last = g->target_id;
            ++*x->changes;
            x->h->Print(x->h->Event("goto").Add("target", g->HasTarget() ? g->name : std::string()).Finish());
        },
        &ctx, 100);

    size_t positions = 0;
    struct PositionCount : Listener<CDataGPSPosition> {
        size_t* n;
        explicit PositionCount(size_t* count) : n(count) {}
        void OnUpdate(CDataGPSPosition& p) override {
            if (p.HasFix() && p.HasPosition()) ++*n;
        }
    } positionCount(&positions);

    if (haveGoto) {
        COverlayMark* mark = manager.FindMark(gotoName.toStdString());
        if (!mark) return Fail("--goto: no mark or waypoint named '" + gotoName.toStdString() + "'");
        manager.SetGoto(mark);
    }
    if (haveFollow) {
        COverlayRoute* route = FindRoute(manager, followName.toStdString());
        if (!route) return Fail("--follow: no route named '" + followName.toStdString() + "'");
        manager.SetFollowRoute(route);
    }

    harness.Run();
    gotoWatch.detach();

    const CDataGotoMark& g = manager.GotoData();
    CEventLine summary;
    summary.Add("event", "summary");
    summary.Add("start", CReplayHarness::TimeText(harness.FirstTime()));
    summary.Add("end", harness.ClockText());
    summary.Add("lines", harness.Lines());
    summary.Add("accepted", harness.Accepted());
    summary.Add("positions", positions);
    summary.Add("notifications", harness.Notifications());
    summary.Add("cancels", harness.Cancellations());
    summary.Add("alarms_active", harness.ActiveNotifications());
    summary.Add("nmea", harness.SentencesWritten());
    summary.Add("goto_changes", gotoChanges);
    summary.Add("target", g.HasTarget() ? g.name : std::string());
    if (g.HasRange()) {
        summary.Add("range", std::round(g.range * 10) / 10);
        summary.Add("bearing", std::round(g.bearing * 10) / 10);
        summary.Add("cross_track", std::round(g.cross_track_error * 10) / 10);
    } else {
        summary.AddNull("range");
    }
    harness.Print(summary.Finish());
    std::fflush(out);
    return 0;
}

const ToolCommandRegistry::Registrar kNavReplay({
    "nav-replay",
    "LOG [--mark \"NAME@LAT,LON[,radius=M][,inner=M]\"]... [--route \"NAME@LAT,LON;LAT,LON;...[,geofence][,exclusion]\"]... "
    "[--goto NAME | --follow NAME] [--set SECTION:KEY=VALUE]... [--profile-dir DIR] [--alarm-log FILE]",
    "replay an NMEA log through navigation and alarms: notifications, cancels, the sentences written and target "
    "changes as JSON lines with the log's UTC times, then a summary",
    NavReplay,
    false,
});

}  // namespace
