// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/feed_autopilot.h"

#include <cctype>
#include <cmath>
#include <cstdio>

extern const int g_feed_autopilot_anchor;
const int g_feed_autopilot_anchor = 0;

namespace {

constexpr double kMetresPerNauticalMile = 1852.0;

bool SendGenerated(const char* formatted) {
    if (!Listener<CNMEA_Raw>::pDatasource) return false;
    CNMEA_Raw raw;
    CNMEASentence::strncpy_to_TCHAR(raw.text, formatted, CNMEA_Raw::kBufferSize);
    return raw.AddChecksumAndDispatch();
}

// Both live for the whole run and listen from the start, before any connection exists.
CFeed_AutopilotRMB s_autopilot;
Feed_StartInfo s_startInfo;

}  // namespace

CFeed_AutopilotRMB& CFeed_AutopilotRMB::Instance() {
    return s_autopilot;
}

std::string CFeed_AutopilotRMB::DestinationId(const std::string& name) {
    std::string id;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x80 || !std::isalnum(u)) continue;  // an autopilot takes plain ASCII only
        id.push_back(static_cast<char>(std::toupper(u)));
        if (id.size() == 6) break;
    }
    return id;
}

bool CFeed_AutopilotRMB::Format(const CDataGotoMark& data, char* out, int size) {
    if (!data.HasTarget()) {
        m_target = 0;
        return false;
    }
    // A change from one mark to another is a route leg advancing: say "arrived" once.
    char arrival = 'V';
    if (data.target_id != m_target) {
        if (m_target != 0) arrival = 'A';
        m_target = data.target_id;
        m_destination = DestinationId(data.name);
    }
    double closing = 0;
    if (s_position && s_position->HasFix()) {
        closing = s_position->speed * (s_position->course_vec.x * data.unit_x + s_position->course_vec.y * data.unit_y);
    }
    const double xte = data.cross_track_error;
    const int n = std::snprintf(
        out, static_cast<size_t>(size), "$ECRMB,A,%.5f,%c,X,%s,%.7f,%c,%.7f,%c,%.5f,%.1f,%.2f,%c,A",
        std::fabs(xte) / kMetresPerNauticalMile, xte < 0 ? 'L' : 'R', m_destination.c_str(), std::fabs(data.latitude),
        data.latitude < 0 ? 'S' : 'N', std::fabs(data.longitude), data.longitude < 0 ? 'W' : 'E',
        data.range / kMetresPerNauticalMile, data.bearing, closing, arrival);
    return n > 0 && n < size;
}

void CFeed_AutopilotRMB::OnUpdate(CDataGotoMark& data) {
    if (!Listener<CNMEA_Raw>::pDatasource) {
        m_target = 0;  // nothing goes out, so no leg change can be announced later
        return;
    }
    char text[CNMEA_Raw::kBufferSize];
    if (Format(data, text, sizeof text)) SendGenerated(text);
}

// ---------------------------------------------------------------------------------------

Feed_StartInfo& Feed_StartInfo::Instance() {
    return s_startInfo;
}

bool Feed_StartInfo::FormatStartLine(const CDataStartLine& line, char* out, int size) {
    const int n = std::snprintf(out, static_cast<size_t>(size), "$PNVI,SetStartLine,%.6f,%.6f,%.6f,%.6f",
                                line.left_latitude, line.left_longitude, line.right_latitude, line.right_longitude);
    return n > 0 && n < size;
}

bool Feed_StartInfo::FormatStartTimer(const CDataStartTimer& timer, char* out, int size) {
    const int n =
        std::snprintf(out, static_cast<size_t>(size), "$PNVI,SetStartTimer,%.0f,%d", timer.start_time, timer.state);
    return n > 0 && n < size;
}

void Feed_StartInfo::OnUpdate(CDataStartLine& line) {
    // A line with an end at latitude 0 is a line not yet set.
    if (m_applying || line.left_latitude == 0 || line.right_latitude == 0) return;
    char text[CNMEA_Raw::kBufferSize];
    if (FormatStartLine(line, text, sizeof text)) SendGenerated(text);
}

void Feed_StartInfo::OnUpdate(CDataStartTimer& timer) {
    if (m_applying) return;
    char text[CNMEA_Raw::kBufferSize];
    if (FormatStartTimer(timer, text, sizeof text)) SendGenerated(text);
}

void Feed_StartInfo::OnUpdate(NMEA_PNVI::SetStartLine& sentence) {
    CDataStartLine line;
    line.left_latitude = sentence.left_latitude;
    line.left_longitude = sentence.left_longitude;
    line.right_latitude = sentence.right_latitude;
    line.right_longitude = sentence.right_longitude;
    m_applying = true;
    Listener<CDataStartLine>::Publish(line);
    m_applying = false;
}

void Feed_StartInfo::OnUpdate(NMEA_PNVI::SetStartTimer& sentence) {
    CDataStartTimer timer;
    timer.start_time = sentence.start_time;
    timer.state = sentence.state;
    m_applying = true;
    Listener<CDataStartTimer>::Publish(timer);
    m_applying = false;
}
