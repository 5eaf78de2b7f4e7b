// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/dataconnection_sim.h"

#include "core/apppaths.h"
#include "overlays/trackmanager.h"

CNMEASimulation::Persistant CNMEASimulation::settings;

CNMEASimulation::CNMEASimulation() : Counter(kPeriodPulses) { isSimulation = true; }

CNMEASimulation::~CNMEASimulation() {
    if (m_file.isOpen()) m_file.close();
}

bool CNMEASimulation::Setup(const std::string& file) {
    settings.filename = file;
    settings.SetChanged();
    return FileExists(file);
}

void CNMEASimulation::Configure(const NV_HWND& parent, const std::function<void(bool)>& done) {
    // Without a user interface (tools) the stored log stands.
    if (!GetUiServices()) {
        if (done) done(FileExists(settings.filename));
        return;
    }
    PickFileToOpen(parent, "Choose a log to replay", {"NMEA logs", {"txt", "nmea", "log"}},
                   [done](const std::string& path) {
                       const bool exists = !path.empty() && Setup(path);
                       if (done) done(exists);
                   });
}

bool CNMEASimulation::Open() {
    Announce(CDataSourceChange::kSimulationStarted);
    if (g_track_manager) g_track_manager->StartSimulation();
    m_file.setFileName(QString::fromStdString(settings.filename));
    if (settings.filename.empty() || !m_file.open(QIODevice::ReadOnly)) {
        SetStatus("Simulation file error");
        return false;
    }
    m_rewinds = 0;
    notOpen = false;
    return true;
}

void CNMEASimulation::Close() {
    if (g_track_manager) g_track_manager->EndSimulation();
    if (m_file.isOpen()) m_file.close();
    notOpen = true;
}

void CNMEASimulation::OnHeartbeat() { PlayPeriod(); }

void CNMEASimulation::OnUpdate(CDataGPSPosition&) { m_positionUpdated = true; }

bool CNMEASimulation::ReadSentence(char* line) {
    char c = 0;
    do {
        if (!m_file.getChar(&c)) return false;
    } while (c != '$' && c != '!');
    int n = 0;
    line[n++] = c;
    while (n < kMaxLine && m_file.getChar(&c)) {
        if (c == '\r' || c == '\n') break;
        line[n++] = c;
    }
    line[n] = '\0';
    return true;
}

void CNMEASimulation::PlayPeriod() {
    if (!m_file.isOpen()) return;
    m_positionUpdated = false;
    char line[kMaxLine + 1];
    for (int i = 0; i < kLinesPerPeriod && !m_positionUpdated; ++i) {
        if (!ReadSentence(line)) {
            m_file.seek(0);
            ++m_rewinds;
            Announce(CDataSourceChange::kSimulationRewound);
            if (g_track_manager) g_track_manager->StartSimulation();
            continue;
        }
        DispatchLine(line);
    }
}
