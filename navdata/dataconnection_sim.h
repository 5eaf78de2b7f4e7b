// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Replays a logged NMEA file as if it came from a device: once a second (every 10
// heartbeat ticks) it plays lines until one of them moved the GPS position, so a log
// replays at the pace it was recorded whatever else it holds.

#include <QFile>

#include <string>

#include "core/heartbeat.h"
#include "navdata/dataconnection.h"
#include "overlays/gpsdata.h"

class CNMEASimulation : public CDataConnection, public CHeartbeat::Counter, public Listener<CDataGPSPosition> {
public:
    static constexpr int kPeriodPulses = 10;
    static constexpr int kLinesPerPeriod = 30;
    static constexpr int kMaxLine = 200;

    CNMEASimulation();
    ~CNMEASimulation() override;

    void Configure(const NV_HWND& parent, const std::function<void(bool)>& done) override;
    bool Open() override;
    void Close() override;
    void OnHeartbeat() override;
    void OnUpdate(CDataGPSPosition& position) override;
    void OnUpdate(CNMEA_Raw& raw) override { CDataConnection::OnUpdate(raw); }

    // Stores the file to play; returns whether it exists.
    static bool Setup(const std::string& file);

    // Plays one period's worth of lines now (what a heartbeat firing does).
    void PlayPeriod();
    // How often the file was rewound since opening.
    int Rewinds() const { return m_rewinds; }

    class Persistant : public PersistantData {
    public:
        Persistant() : PersistantData("CNMEASimulation") {}
        void DeclareData() override { Declare("filename", filename); }
        std::string filename;
    };
    static Persistant settings;

private:
    // The next sentence: from the next '$' or '!' up to 200 characters, ending at CR,
    // LF or the end of the file. False at the end of the file.
    bool ReadSentence(char* line);

    QFile m_file;
    bool m_positionUpdated = false;
    int m_rewinds = 0;
};
