// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/nmea_dump.h"

#include <cmath>
#include <cstdio>

#include "navdata/nmea_records.h"

namespace {

CNMEADump::Registrar* g_firstPrinter = nullptr;
char g_talker[3] = {};

// ---------------------------------------------------------------------------------------
// One printer per record type: the type (its registered pattern), the talker for
// standard sentences, then the stored fields.

template <class R>
class RecordPrinter : public CNMEADump::Printer, public Listener<R> {
public:
    using Fill = void (*)(CJsonLine&, const R&);
    RecordPrinter(Fill fill, const CNMEADump::Sink& sink) : m_fill(fill), m_sink(sink) {}
    void OnUpdate(R& record) override {
        CJsonLine line;
        if (record.type) {
            line.Add("type", record.type->Pattern());
            if (record.type->Offset() == 3) line.Add("talker", g_talker);
        }
        m_fill(line, record);
        m_sink(line.Finish());
    }

private:
    Fill m_fill;
    CNMEADump::Sink m_sink;
};

template <class R>
struct RecordPrinterRegistrar : CNMEADump::Registrar {
    using Fill = typename RecordPrinter<R>::Fill;
    static inline Fill s_fill = nullptr;
    RecordPrinterRegistrar(const char* name, Fill fill)
        : CNMEADump::Registrar(name, [](const CNMEADump::Sink& sink) -> std::unique_ptr<CNMEADump::Printer> {
              return std::make_unique<RecordPrinter<R>>(s_fill, sink);
          }) {
        s_fill = fill;
    }
};

using namespace CNMEA_GPS;
using namespace CNMEA_Instruments;

RecordPrinterRegistrar<RMC> s_rmc("RMC", [](CJsonLine& j, const RMC& r) {
    j.Add("valid", r.valid);
    j.Add("lat", r.latitude);
    j.Add("lon", r.longitude);
    j.Add("time", r.time);
    j.Add("speed", r.speed);
    j.Add("course", r.course);
    j.Add("variation", r.variation);
});
RecordPrinterRegistrar<GGA> s_gga("GGA", [](CJsonLine& j, const GGA& r) {
    j.Add("quality", r.quality);
    j.Add("lat", r.latitude);
    j.Add("lon", r.longitude);
    j.Add("altitude", r.altitude);
    j.Add("hdop", r.hdop);
    j.Add("satellites", r.satellites);
});
RecordPrinterRegistrar<VTG> s_vtg("VTG", [](CJsonLine& j, const VTG& r) {
    j.Add("course", r.course);
    j.Add("speed", r.speed);
});
RecordPrinterRegistrar<GSA> s_gsa("GSA", [](CJsonLine& j, const GSA& r) {
    j.AddChar("mode", r.mode);
    j.Add("fix", static_cast<int>(r.fix_type));
    std::string used;
    for (uint8_t prn : r.satellites) {
        if (!prn) continue;
        if (!used.empty()) used += ' ';
        used += std::to_string(prn);
    }
    j.Add("satellites", used);
    j.Add("pdop", r.pdop);
    j.Add("hdop", r.hdop);
    j.Add("vdop", r.vdop);
});
RecordPrinterRegistrar<GSV> s_gsv("GSV", [](CJsonLine& j, const GSV& r) {
    j.Add("messages", r.messages);
    j.Add("number", r.message_number);
    j.Add("in_view", r.in_view);
    static const char* const kKeys[4][4] = {{"prn1", "el1", "az1", "snr1"},
                                            {"prn2", "el2", "az2", "snr2"},
                                            {"prn3", "el3", "az3", "snr3"},
                                            {"prn4", "el4", "az4", "snr4"}};
    for (int i = 0; i < 4; ++i) {
        if (!r.satellites[i].prn) continue;
        j.Add(kKeys[i][0], r.satellites[i].prn);
        j.Add(kKeys[i][1], r.satellites[i].elevation);
        j.Add(kKeys[i][2], r.satellites[i].azimuth);
        j.Add(kKeys[i][3], r.satellites[i].snr);
    }
});
RecordPrinterRegistrar<MWV> s_mwv("MWV", [](CJsonLine& j, const MWV& r) {
    j.Add("angle", r.angle);
    j.Add("speed", r.speed);
    j.Add("reference", r.reference == MWV::kTrue ? "T" : "R");
});
RecordPrinterRegistrar<MWD> s_mwd("MWD", [](CJsonLine& j, const MWD& r) {
    j.Add("direction", r.direction);
    j.Add("speed", r.speed);
});
RecordPrinterRegistrar<VHW> s_vhw("VHW", [](CJsonLine& j, const VHW& r) {
    if (r.speed_valid) j.Add("speed", r.speed);
    if (r.heading_valid) j.Add("heading", r.heading);
});
RecordPrinterRegistrar<HDG> s_hdg("HDG", [](CJsonLine& j, const HDG& r) {
    j.Add("heading", r.heading);
    j.Add("deviation", r.deviation);
    j.Add("variation", r.variation);
});
RecordPrinterRegistrar<DPT> s_dpt("DPT", [](CJsonLine& j, const DPT& r) {
    j.Add("depth", r.depth);
    j.Add("offset_waterline", r.offset_waterline);
    j.Add("offset_keel", r.offset_keel);
});
RecordPrinterRegistrar<DBT> s_dbt("DBT", [](CJsonLine& j, const DBT& r) { j.Add("depth", r.depth); });
RecordPrinterRegistrar<MTW> s_mtw("MTW", [](CJsonLine& j, const MTW& r) { j.Add("temperature", r.temperature); });
RecordPrinterRegistrar<RSA> s_rsa("RSA", [](CJsonLine& j, const RSA& r) {
    j.Add("angle", r.angle);
    j.Add("average", r.average);
});
RecordPrinterRegistrar<RPM> s_rpm("RPM", [](CJsonLine& j, const RPM& r) {
    j.Add("engine1", r.engine1);
    j.Add("engine2", r.engine2);
});
RecordPrinterRegistrar<XDR> s_xdr("XDR", [](CJsonLine& j, const XDR& r) {
    static const char* const kKeys[2][3] = {{"type1", "value1", "name1"}, {"type2", "value2", "name2"}};
    for (int i = 0; i < r.count && i < 2; ++i) {
        j.AddChar(kKeys[i][0], r.measurements[i].type);
        j.Add(kKeys[i][1], r.measurements[i].value);
        j.Add(kKeys[i][2], r.measurements[i].name);
    }
});

void FillAis(CJsonLine& j, const CNEMA_AIS::CAIS_Sentence& r) {
    j.AddChar("channel", r.channel);
    j.Add("msg", static_cast<int>(r.message_type));
    if (r.message_type == 0) return;  // a fragment of a longer message
    j.Add("mmsi", static_cast<unsigned>(r.mmsi));
    switch (r.message_type) {
        case 1:
        case 2:
        case 3:
        case 9:
        case 18:
        case 19:
            j.Add("lat", r.latitude);
            j.Add("lon", r.longitude);
            j.Add("speed", r.speed);
            j.Add("course", r.course);
            if (r.message_type != 9) j.Add("heading", r.heading);
            if (r.message_type <= 3) j.Add("status", static_cast<int>(r.nav_status));
            if (r.message_type == 19) j.Add("name", r.name);
            break;
        case 4:
        case 11:
        case 21:
            j.Add("lat", r.latitude);
            j.Add("lon", r.longitude);
            if (r.message_type == 21) j.Add("name", r.name);
            break;
        case 5:
            j.Add("name", r.name);
            j.Add("callsign", r.callsign);
            j.Add("shiptype", r.ship_type_text);
            j.Add("destination", r.destination);
            j.Add("draught", r.draught);
            break;
        case 24:
            j.Add("part", r.part_number);
            if (r.part_number == 0) j.Add("name", r.name);
            if (r.part_number == 1) {
                j.Add("callsign", r.callsign);
                j.Add("shiptype", r.ship_type_text);
            }
            break;
        default:
            break;
    }
}
RecordPrinterRegistrar<CNEMA_AIS::VDM> s_vdm("VDM", [](CJsonLine& j, const CNEMA_AIS::VDM& r) { FillAis(j, r); });
RecordPrinterRegistrar<CNEMA_AIS::VDO> s_vdo("VDO", [](CJsonLine& j, const CNEMA_AIS::VDO& r) { FillAis(j, r); });

RecordPrinterRegistrar<CNMEA_DSC::DSC> s_dsc("DSC", [](CJsonLine& j, const CNMEA_DSC::DSC& r) {
    j.Add("format", r.format);
    j.Add("mmsi", static_cast<unsigned>(r.mmsi));
    j.Add("category", static_cast<int>(r.category));
    j.Add("nature", static_cast<int>(r.nature));
    j.Add("lat", r.latitude);
    j.Add("lon", r.longitude);
    j.Add("time", r.time);
    j.Add("expansion", r.expansion);
});
RecordPrinterRegistrar<CNMEA_DSC::DSE> s_dse("DSE", [](CJsonLine& j, const CNMEA_DSC::DSE& r) {
    j.Add("total", r.total);
    j.Add("number", r.number);
    j.Add("mmsi", static_cast<unsigned>(r.mmsi));
    if (r.flags & CNMEA_DSC::DSE::kEnhancedPosition) {
        j.Add("lat_digits", r.latitude_digits);
        j.Add("lon_digits", r.longitude_digits);
    }
    if (r.flags & CNMEA_DSC::DSE::kCourse) j.Add("course", r.course);
    if (r.flags & CNMEA_DSC::DSE::kSpeed) j.Add("speed", r.speed);
});
RecordPrinterRegistrar<NMEA_PNVI::SetStartTimer> s_startTimer("PNVI,SetStartTimer",
                                                              [](CJsonLine& j, const NMEA_PNVI::SetStartTimer& r) {
                                                                  j.Add("start", r.start_time);
                                                                  j.Add("state", r.state);
                                                              });
RecordPrinterRegistrar<NMEA_PNVI::SetStartLine> s_startLine("PNVI,SetStartLine",
                                                            [](CJsonLine& j, const NMEA_PNVI::SetStartLine& r) {
                                                                j.Add("left_lat", r.left_latitude);
                                                                j.Add("left_lon", r.left_longitude);
                                                                j.Add("right_lat", r.right_latitude);
                                                                j.Add("right_lon", r.right_longitude);
                                                            });
RecordPrinterRegistrar<NMEA_PNVI::AcknowledgeNotifications> s_ack("PNVI,ACKALLALERTS",
                                                                  [](CJsonLine&,
                                                                     const NMEA_PNVI::AcknowledgeNotifications&) {});

}  // namespace

// ---------------------------------------------------------------------------------------

void CJsonLine::Key(const char* key) {
    m_text += m_text.empty() ? "{\"" : ", \"";
    m_text += key;
    m_text += "\": ";
}

void CJsonLine::Add(const char* key, double value) {
    Key(key);
    if (!std::isfinite(value)) {
        m_text += "null";
        return;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.10g", value);
    m_text += buf;
}

void CJsonLine::Add(const char* key, float value) {
    Key(key);
    if (!std::isfinite(value)) {
        m_text += "null";
        return;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(value));
    m_text += buf;
}

void CJsonLine::Add(const char* key, int value) {
    Key(key);
    m_text += std::to_string(value);
}

void CJsonLine::Add(const char* key, unsigned value) {
    Key(key);
    m_text += std::to_string(value);
}

void CJsonLine::Add(const char* key, bool value) {
    Key(key);
    m_text += value ? "true" : "false";
}

void CJsonLine::Add(const char* key, const char* value) {
    Key(key);
    m_text += '"';
    for (const char* p = value ? value : ""; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            m_text += '\\';
            m_text += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            // Sentences are ASCII; anything else is shown, not passed on raw.
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            m_text += buf;
        } else {
            m_text += static_cast<char>(c);
        }
    }
    m_text += '"';
}

void CJsonLine::AddChar(const char* key, char value) {
    const char text[2] = {value, '\0'};
    Add(key, text);
}

const std::string& CJsonLine::Finish() {
    if (!m_finished) {
        m_text += m_text.empty() ? "{}" : "}";
        m_finished = true;
    }
    return m_text;
}

CNMEADump::Registrar::Registrar(const char* name_, Create create_)
    : name(name_), create(create_), next(g_firstPrinter) {
    g_firstPrinter = this;
}

std::vector<std::unique_ptr<CNMEADump::Printer>> CNMEADump::StartAll(const Sink& sink) {
    std::vector<std::unique_ptr<Printer>> printers;
    for (Registrar* r = g_firstPrinter; r; r = r->next) printers.push_back(r->create(sink));
    return printers;
}

bool CNMEADump::Dispatch(char* line, CDataConnection* from) {
    g_talker[0] = g_talker[1] = '\0';
    if (line) {
        const char* p = line;
        while (*p && *p != '$' && *p != '!') ++p;
        if (*p && p[1] && p[2]) {
            g_talker[0] = p[1];
            g_talker[1] = p[2];
        }
    }
    return CNMEASentence::DispatchSentence(line, from);
}

const char* CNMEADump::CurrentTalker() {
    return g_talker;
}
