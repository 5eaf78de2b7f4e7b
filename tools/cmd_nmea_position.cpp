// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool nmea-dump: the GPS position lines. While the dump runs, the position feed
// turns the records into the one GPS position, and every position it publishes becomes
// a "position" line right after the record that caused it.

#include <memory>

#include "navdata/gpsposition.h"
#include "navdata/nmea_dump.h"

namespace {

class PositionPrinter : public CNMEADump::Printer, public Listener<CDataGPSPosition> {
public:
    explicit PositionPrinter(const CNMEADump::Sink& sink) : m_sink(sink) {}

    void OnUpdate(CDataGPSPosition& p) override {
        CJsonLine j;
        j.Add("type", "position");
        j.Add("lat", p.lat);
        j.Add("lon", p.lon);
        j.Add("time", p.fix_time);
        j.Add("status", p.fix_status);
        j.Add("speed", p.speed);
        j.Add("course", p.course);
        j.Add("best_direction", p.get_heading());
        m_sink(j.Finish());
    }

private:
    CNMEADump::Sink m_sink;
    // Listeners of equal priority run in the order they connected: the record printers of
    // the library start before this one (the dump shows each record line first).
    CFeedRMC_to_GPSPosition m_feed;
};

CNMEADump::Registrar s_positionPrinter("position",
                                       [](const CNMEADump::Sink& sink) -> std::unique_ptr<CNMEADump::Printer> {
                                           return std::make_unique<PositionPrinter>(sink);
                                       });

}  // namespace
