// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Sentences Navora writes to the connected devices: the autopilot's RMB from the goto
// values, and the start line and start timer shared between boats of a race. All on the
// GUI thread, driven by the publications they listen to.

#include <string>

#include "core/pubsub.h"
#include "navdata/nmea_records.h"
#include "overlays/gotomark.h"
#include "overlays/gpsdata.h"

// Writes "$ECRMB" on every goto-mark update while somebody listens to raw sentences.
// One instance exists for the whole run (created at static initialisation).
class CFeed_AutopilotRMB : public Listener<CDataGotoMark> {
public:
    void OnUpdate(CDataGotoMark& data) override;

    // The one GPS position (it lives for the whole run), read for the closing velocity.
    // Without it, or without a fix, the closing velocity is 0.
    static void SetPosition(const CDataGPSPosition* position) { s_position = position; }

    // Formats the sentence (without checksum) for the data; false when nothing is to be
    // written. Updates the remembered target.
    bool Format(const CDataGotoMark& data, char* out, int size);

    // The destination identifier: letters and digits of the name, upper case, at most 6.
    static std::string DestinationId(const std::string& name);

    static CFeed_AutopilotRMB& Instance();

private:
    static inline const CDataGPSPosition* s_position = nullptr;
    uint64_t m_target = 0;
    std::string m_destination;
};

// The start line of a race: two ends, each a latitude and longitude in degrees.
struct CDataStartLine {
    double left_latitude = 0;
    double left_longitude = 0;
    double right_latitude = 0;
    double right_longitude = 0;
};

// The race start timer: the start time (seconds since the epoch) and the timer's state.
struct CDataStartTimer {
    double start_time = 0;
    int state = 0;
};

// Shares the start line and timer: local changes (published by the race start timer)
// are written out as "$PNVI" sentences, and received ones are published as start line
// and timer data without being echoed back.
class Feed_StartInfo : public Listener<CDataStartLine>,
                       public Listener<CDataStartTimer>,
                       public Listener<NMEA_PNVI::SetStartLine>,
                       public Listener<NMEA_PNVI::SetStartTimer> {
public:
    void OnUpdate(CDataStartLine& line) override;
    void OnUpdate(CDataStartTimer& timer) override;
    void OnUpdate(NMEA_PNVI::SetStartLine& sentence) override;
    void OnUpdate(NMEA_PNVI::SetStartTimer& sentence) override;

    static bool FormatStartLine(const CDataStartLine& line, char* out, int size);
    static bool FormatStartTimer(const CDataStartTimer& timer, char* out, int size);

    bool IsApplyingReceived() const { return m_applying; }

    static Feed_StartInfo& Instance();

private:
    bool m_applying = false;  // a received value is being published
};
