// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool ais-targets: replays a log through the GPS feed, the AIS and DSC managers
// and the marks, on the log's clock (so targets are lost and removed as they would be
// live), and prints the alerts, the marks made or moved, goto changes, and at the end
// every target still alive.

#include <QStringList>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/pubsub.h"
#include "navdata/ais.h"
#include "navdata/dataconnection.h"
#include "navdata/dsc.h"
#include "navdata/gpsposition.h"
#include "overlays/markmanager.h"
#include "tools/replay_harness.h"
#include "tools/tool_command.h"

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "navora-tool ais-targets: %s\n", message.c_str());
    return 1;
}

double Round(double v, double step) {
    return std::round(v / step) * step;
}

// Prints a mark each time it appears or moves (not when only its look changes).
class MarkWatch : public Listener<COverlayObject> {
public:
    explicit MarkWatch(CReplayHarness& h) : m_h(h) {}
    void OnUpdate(COverlayObject& object) override {
        if (object.ObjectType() != COverlayObject::OBJECT_MARK || object.IsDestroyed()) {
            if (object.IsDestroyed()) m_last.erase(object.OrderKey());
            return;
        }
        const auto& mark = static_cast<const COverlayMark&>(object);
        if (!mark.HasPosition()) return;
        const auto where = std::make_pair(mark.getLat(), mark.getLon());
        auto it = m_last.find(object.OrderKey());
        if (it != m_last.end() && it->second == where) return;
        m_last[object.OrderKey()] = where;
        m_h.Print(m_h.Event("mark")
                      .Add("name", mark.getName())
                      .Add("lat", Round(mark.getLat(), 1e-7))
                      .Add("lon", Round(mark.getLon(), 1e-7))
                      .Finish());
    }

private:
    CReplayHarness& m_h;
    std::map<uint32_t, std::pair<double, double>> m_last;
};

// Prints the goto target each time it changes, as nav-replay does: ahead of the other
// listeners, so before the autopilot sentence the same change sends out.
class GotoWatch : public Listener<CDataGotoMark> {
public:
    explicit GotoWatch(CReplayHarness& h) : m_h(h) {
        m_first.attach(*Listener<CDataGotoMark>::pDatasource, &GotoWatch::Changed, this, 100);
    }
    void OnUpdate(CDataGotoMark&) override {}

private:
    static void Changed(void* context, void* data) {
        auto* self = static_cast<GotoWatch*>(context);
        const auto* g = static_cast<const CDataGotoMark*>(data);
        if (g->target_id == self->m_last) return;
        self->m_last = g->target_id;
        self->m_h.Print(self->m_h.Event("goto").Add("target", g->HasTarget() ? g->name : std::string()).Finish());
    }

    CReplayHarness& m_h;
    uint64_t m_last = 0;
    CDataSource::callback m_first;
};

std::string TargetLine(const CAISTargetManager& ais, const CAISTarget& t) {
    CEventLine line;
    line.Add("event", "target");
    line.Add("mmsi", size_t(t.mmsi));
    line.Add("kind", t.kind);
    line.Add("name", t.name);
    line.Add("callsign", t.callsign);
    if (t.HasPosition()) {
        line.Add("lat", Round(t.lat, 1e-7));
        line.Add("lon", Round(t.lon, 1e-7));
    } else {
        line.AddNull("lat");
        line.AddNull("lon");
    }
    line.Add("speed", Round(t.speed, 0.1));
    line.Add("course", Round(t.course, 0.1));
    if (t.reported_heading >= 0 && t.reported_heading < 360)
        line.Add("heading", t.reported_heading);
    else
        line.AddNull("heading");
    line.Add("status", t.status);
    const bool measured = ais.HasOwnPosition() && t.HasPosition() && t.HasKind();
    if (measured) {
        line.Add("range_m", Round(t.range, 0.1));
        line.Add("bearing", Round(t.bearing, 0.1));
    } else {
        line.AddNull("range_m");
        line.AddNull("bearing");
    }
    if (measured && t.HasCPA())
        line.Add("cpa_m", Round(t.cpa, 0.1));
    else
        line.AddNull("cpa_m");
    line.Add("tcpa_s", Round(t.tcpa, 0.1));
    const GraphicsColor c(int((t.colour >> 16) & 0xFF), int((t.colour >> 8) & 0xFF), int(t.colour & 0xFF),
                          int(t.colour >> 24));
    line.Add("colour", c.ToString());
    line.Add("alerting", t.alerting);
    return line.Finish();
}

int AisTargets(const QStringList& argv) {
    ToolArgs args(argv);
    std::vector<QString> sets;
    for (;;) {
        bool present = false;
        const QString v = args.TakeOption(QStringLiteral("--set"), &present);
        if (!present) break;
        sets.push_back(v);
    }
    if (args.HasError()) return Fail(args.Error().toStdString());
    if (args.Rest().size() != 1) return Fail("expected one LOG file (see navora-tool --help)");

    std::FILE* out = stdout;
    CReplayHarness harness([out](const std::string& line) {
        std::fwrite(line.data(), 1, line.size(), out);
        std::fputc('\n', out);
    });
    std::string error;
    for (const QString& s : sets)
        if (!harness.ApplySetting(s.toStdString(), error)) return Fail(error);
    if (!harness.Load(args.Rest()[0].toStdString(), error)) return Fail(error);
    // What the autopilot would be sent while steering for a mark is nav-replay's
    // business; it shows here only when output rules ask for it.
    if (CDataConnection::settings.output_filters.empty()) CDataConnection::settings.output_filters = {"Deny"};

    CMarkManager marks;
    marks.AlarmLog().SetPath(std::string());
    MarkWatch markWatch(harness);
    GotoWatch gotoWatch(harness);
    CAISTargetManager ais;
    CDSCTargetManager calls;
    CDSC_to_Mark callMarks;

    harness.Run();

    for (const auto& entry : ais.Targets()) harness.Print(TargetLine(ais, *entry.second));
    std::fflush(out);
    return 0;
}

const ToolCommandRegistry::Registrar kAisTargets({
    "ais-targets",
    "LOG [--set SECTION:KEY=VALUE]...",
    "replay a log through AIS, DSC and the marks on the log's clock: alerts, marks, goto changes as JSON lines, "
    "then one line per live target",
    AisTargets,
    false,
});

}  // namespace
