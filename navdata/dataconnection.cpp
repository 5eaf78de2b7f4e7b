// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/dataconnection.h"

#include <QDebug>
#include <QIODevice>

#include <cstdio>
#include <cstring>
#include <memory>

#include "core/apppaths.h"
#include "navdata/gpsposition.h"
#include "overlays/trackmanager.h"
#include "navdata/dataconnection_location.h"
#include "navdata/dataconnection_net.h"
#include "navdata/dataconnection_serial.h"
#include "navdata/dataconnection_sim.h"

CDataConnection* CDataConnection::theConnection = nullptr;
CDataConnection::Persistant CDataConnection::settings;

namespace {

CDataConnection::CConnectionType*& TypeListHead() {
    static CDataConnection::CConnectionType* head = nullptr;
    return head;
}

template <class T>
CDataConnection* Make() {
    return new T;
}

// Registered here rather than beside each class so that a static link always pulls in
// every kind: an object file nobody references would silently lose its registration.
// Listed in the order the type menu shows them (registration prepends).
CDataConnection::CConnectionType s_location("Location Service", CDataConnection::kLocationService,
                                            &Make<CLocationServiceConnection>);
CDataConnection::CConnectionType s_serial("Serial", CDataConnection::kSerial, &Make<CSerialConnection>);
CDataConnection::CConnectionType s_udp("UDP/IP", CDataConnection::kUdp, &Make<CUDPConnection>);
CDataConnection::CConnectionType s_tcp("TCP/IP", CDataConnection::kTcp, &Make<CTCPIPConnection>);
CDataConnection::CConnectionType s_sim("Simulation File", CDataConnection::kSimulation, &Make<CNMEASimulation>);
CDataConnection::CConnectionType s_none("None", CDataConnection::kNone, &Make<CNoConnection>);

// The debug log file; open only between startDebug and stopDebug.
struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
std::unique_ptr<std::FILE, FileCloser> s_debugFile;

}  // namespace

CDataConnection::CConnectionType::CConnectionType(const char* n, int i, CDataConnection* (*f)())
    : name(n), id(i), factory(f) {
    next = TypeListHead();
    TypeListHead() = this;
}

CDataConnection::CConnectionType* CDataConnection::CConnectionType::First() { return TypeListHead(); }

CDataConnection::CConnectionType* CDataConnection::CConnectionType::Find(int id) {
    for (CConnectionType* t = First(); t; t = t->next)
        if (t->id == id) return t;
    return nullptr;
}

CDataConnection::CDataConnection() = default;

CDataConnection::~CDataConnection() {
    if (theConnection == this) theConnection = nullptr;
}

void CDataConnection::OnUpdate(CNMEA_Raw& raw) {
    if (raw.source == this) return;  // never echo a sentence back to where it came from
    bool verdict = false;
    outputFilter.apply(raw.text, verdict);
    if (verdict) Output(raw.text);
}

void CDataConnection::Configure(const NV_HWND&, const std::function<void(bool)>& done) {
    if (done) done(true);
}

bool CDataConnection::Output(const char*) { return false; }

void CDataConnection::Announce(CDataSourceChange::Kind kind) const {
    CDataSourceChange change{kind, this, isSimulation};
    Listener<CDataSourceChange>::Publish(change);
}

void CDataConnection::SetStatus(const std::string& text) { statusMessage = text; }

void CDataConnection::ShowStatus() const {
    if (!statusMessage.empty()) SetStatusMessage(statusMessage);
}

CDataConnection::Stop CDataConnection::AssembleLines(const char* data, size_t length, int& lines, int lineLimit,
                                                     bool countAccepted, size_t& consumed) {
    for (size_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (c == '\n') {
            m_line[m_lineLength] = '\0';
            m_lineLength = 0;
            DebugLog(m_line);
            const bool accepted = DispatchLine(m_line);
            if (accepted || !countAccepted) ++lines;
            if (lines >= lineLimit) {
                consumed = i + 1;
                return Stop::kLineLimit;
            }
        } else if (c != '\r') {
            if (m_lineLength >= kLineBufferSize - 1) {
                DebugLog(kNotNmeaMessage);
                m_lineLength = 0;
                consumed = i + 1;  // the byte that did not fit is lost
                return Stop::kOverflow;
            }
            m_line[m_lineLength++] = c;
        }
    }
    consumed = length;
    return Stop::kNone;
}

long long CDataConnection::DeviceSource::Read(char* buffer, long long size) {
    const qint64 n = m_device.read(buffer, size);
    return n > 0 ? n : -1;
}

bool CDataConnection::DeviceSource::DiscardRest() {
    return m_discard && !m_device.readAll().isEmpty();
}

void CDataConnection::ReadEvent(ByteSource& source, int lineLimit, bool countAccepted) {
    int lines = 0;
    // True when this event must stop reading.
    auto feed = [&](const char* data, size_t length) {
        size_t consumed = 0;
        switch (AssembleLines(data, length, lines, lineLimit, countAccepted, consumed)) {
            case Stop::kNone:
                return false;
            case Stop::kOverflow:
                m_pending.assign(data + consumed, length - consumed);
                return true;
            case Stop::kLineLimit:
                if (source.DiscardRest() || consumed < length) DebugLog(kTooManyMessage);
                return true;
        }
        return true;
    };
    if (!m_pending.empty()) {
        std::string pending;
        pending.swap(m_pending);
        if (feed(pending.data(), pending.size())) return;
    }
    char buffer[kReadChunk];
    for (long long n; (n = source.Read(buffer, sizeof buffer)) >= 0;) {
        if (feed(buffer, static_cast<size_t>(n))) return;
    }
}

bool CDataConnection::DispatchLine(char* line) { return CNMEASentence::DispatchSentence(line, this); }

CDataConnection* CDataConnection::Create(int type) {
    CConnectionType* t = CConnectionType::Find(type);
    if (!t) t = CConnectionType::Find(kLocationService);
    if (!t) return nullptr;
    CDataConnection* c = t->factory();
    if (c) c->typeId = t->id;
    return c;
}

bool CDataConnection::typeIsValid(int type) { return CConnectionType::Find(type) != nullptr; }

void CDataConnection::DestroyConnection() {
    CDataConnection* c = theConnection;
    theConnection = nullptr;
    if (!c) return;
    c->Close();
    c->Announce(CDataSourceChange::kClosed);
    delete c;
    stopDebug();
}

void CDataConnection::CreateConnection() {
    DestroyConnection();
    CDataConnection* c = Create(settings.gps_connection_type);
    if (!c && settings.gps_connection_type != kLocationService) {
        settings.gps_connection_type = kLocationService;
        settings.SetChanged();
        c = Create(settings.gps_connection_type);
    }
    if (!c) {
        MessageBoxOK(NV_HWND(), "Problem", "The GPS Connection Type is not available");
        return;
    }
    theConnection = c;
    if (settings.output_filters.empty()) {
        c->Disconnect();  // nothing to write, so do not even listen
    } else {
        for (const std::string& rule : settings.output_filters) c->outputFilter.add(rule.c_str());
    }
    c->Open();
    c->ShowStatus();
}

void CDataConnection::SelectConnectionType(const NV_HWND& parent, const std::function<void(bool)>& done) {
    std::vector<CConnectionType*> types;
    std::vector<std::string> names;
    for (CConnectionType* t = CConnectionType::First(); t; t = t->next) {
        types.push_back(t);
        names.emplace_back(t->name);
    }
    ChooseFromList(parent, "GPS Connection", names, [parent, types, done](int index) {
        if (index < 0 || index >= static_cast<int>(types.size())) {
            if (done) done(false);
            return;
        }
        onConnectionSelected(parent, types[static_cast<size_t>(index)], done);
    });
}

void CDataConnection::onConnectionSelected(const NV_HWND& parent, CConnectionType* type,
                                           const std::function<void(bool)>& done) {
    // Until the new kind has opened, a restart must not bring back either kind.
    settings.gps_connection_type = 0;
    settings.SetChanged();
    DestroyConnection();
    CDataConnection* c = type ? Create(type->id) : nullptr;
    if (!c) {
        if (done) done(false);
        return;
    }
    theConnection = c;
    if (settings.output_filters.empty()) {
        c->Disconnect();
    } else {
        for (const std::string& rule : settings.output_filters) c->outputFilter.add(rule.c_str());
    }
    const int id = type->id;
    c->Configure(parent, [c, id, done](bool ok) {
        // The dialog may outlive the connection (another choice, a pause).
        if (theConnection != c) {
            if (done) done(false);
            return;
        }
        bool opened = false;
        if (ok) {
            opened = c->Open();
            if (opened) {
                settings.gps_connection_type = id;
                settings.SetChanged();
                PersistantData::SaveAll();
            }
        }
        c->ShowStatus();
        if (done) done(opened);
    });
}

// A track recorded in background mode needs its positions while the window is away.
bool CDataConnection::KeepRunningWhilePaused() {
    return g_track_manager && g_track_manager->IsRecording() &&
           COverlayGPSPosition::settings.record_in_background_mode != 0;
}

void CDataConnection::AppWasPaused() {
    if (!theConnection) return;
    const bool keep = KeepRunningWhilePaused();
    if (!keep) {
        if (theConnection->IsOpen()) DestroyConnection();
    } else {
        theConnection->ContinueWhilePaused();
    }
}

void CDataConnection::AppWasResumed() {
    if (!theConnection) {
        CreateConnection();
    } else if (theConnection->IsOpen()) {
        theConnection->resumeFromBackground();
    }
}

void CDataConnection::AppWasDestroyed() { DestroyConnection(); }

void CDataConnection::UpdatedBackgroundSettings() {
    if (!theConnection) return;
    const bool keep = KeepRunningWhilePaused();
    if (keep) theConnection->ContinueWhilePaused();
}

std::string CDataConnection::DebugLogPath() { return getTempDirectory() + "/nmea_debug.txt"; }

void CDataConnection::startDebug() {
    s_debugFile.reset(std::fopen(DebugLogPath().c_str(), "w"));
    if (!s_debugFile) qWarning("Cannot write the NMEA debug log %s", DebugLogPath().c_str());
}

void CDataConnection::stopDebug(const NV_HWND& parent) {
    if (!s_debugFile) return;
    s_debugFile.reset();
    if (!parent.IsEmpty()) OfferFileToSave(parent, DebugLogPath(), "nmea_debug.txt", {"NMEA logs", {"txt", "nmea", "log"}});
}

bool CDataConnection::isDebugging() { return s_debugFile != nullptr; }

void CDataConnection::DebugLog(const char* text) {
    if (!s_debugFile || !text) return;
    std::fputs(text, s_debugFile.get());
    std::fputc('\n', s_debugFile.get());
}
