// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>

#include <string>
#include <vector>

#include "core/heartbeat.h"
#include "navdata/dataconnection_location.h"
#include "navdata/dataconnection_serial.h"
#include "navdata/dataconnection_sim.h"
#include "navdata/gpsposition.h"
#include "overlays/trackmanager.h"
#include "tests/support/recording_ui.h"
#include "test_connection_support.h"

using conntest::Numbered;
using conntest::WaitFor;

namespace {

// Serial -------------------------------------------------------------------------------

// A pseudo-terminal pair from socat: the connection opens one end, the test the other.
class PtyPair {
public:
    bool Start() {
        const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
        if (socat.isEmpty() || !m_dir.isValid()) return false;
        a = m_dir.filePath(QStringLiteral("a")).toStdString();
        b = m_dir.filePath(QStringLiteral("b")).toStdString();
        m_process.start(socat, {QStringLiteral("pty,raw,echo=0,link=") + QString::fromStdString(a),
                                QStringLiteral("pty,raw,echo=0,link=") + QString::fromStdString(b)});
        if (!m_process.waitForStarted(3000)) return false;
        return WaitFor([&]() { return QFile::exists(QString::fromStdString(a)) && QFile::exists(QString::fromStdString(b)); });
    }
    ~PtyPair() {
        m_process.terminate();
        if (!m_process.waitForFinished(2000)) m_process.kill();
        m_process.waitForFinished(1000);
    }
    std::string a, b;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

class SerialSettingsGuard {
public:
    SerialSettingsGuard() : m_device(CSerialConnection::settings.device), m_baud(CSerialConnection::settings.baud) {}
    ~SerialSettingsGuard() { CSerialConnection::Setup(m_device, m_baud); }

private:
    std::string m_device;
    int m_baud;
};

TEST(SerialConnection, ReadsAndWritesThroughAPseudoTerminal) {
    PtyPair pty;
    if (!pty.Start()) GTEST_SKIP() << "socat is not available";
    conntest::SettingsGuard guard;
    SerialSettingsGuard serialGuard;
    conntest::RawRecorder received;
    CSerialConnection::Setup(pty.a, 4800);
    CDataConnection::settings.output_filters = {"Allow GP", "Deny GPGSV"};
    CDataConnection::settings.gps_connection_type = CDataConnection::kSerial;
    CDataConnection::CreateConnection();
    ASSERT_NE(CDataConnection::theConnection, nullptr);
    ASSERT_TRUE(CDataConnection::theConnection->IsOpen()) << CDataConnection::theConnection->StatusMessage();
    EXPECT_EQ(CDataConnection::theConnection->Description(), "a");

    QSerialPort peer;
    peer.setPortName(QString::fromStdString(pty.b));
    ASSERT_TRUE(peer.open(QIODevice::ReadWrite));
    const std::string in = Numbered(1) + "\r\n" + Numbered(2) + "\n";
    peer.write(in.data(), static_cast<qint64>(in.size()));
    peer.waitForBytesWritten(1000);
    ASSERT_TRUE(WaitFor([&]() {
        CHeartbeat::Pulse();
        return received.lines.size() >= 2;
    }));
    EXPECT_EQ(received.lines, (std::vector<std::string>{Numbered(1), Numbered(2)}));

    // Output: allowed generated sentences reach the device, a denied one does not.
    CNMEA_Raw raw;
    std::snprintf(raw.text, sizeof raw.text, "$GPGSV,1");
    raw.AddChecksumAndDispatch();
    std::snprintf(raw.text, sizeof raw.text, "$GPRMB,2");
    raw.AddChecksumAndDispatch();
    std::string out;
    WaitFor([&]() {
        peer.waitForReadyRead(10);  // the event loop may have buffered the bytes already
        out += peer.readAll().toStdString();
        return out.size() >= Sentence("GPRMB,2").size() + 2;
    });
    EXPECT_EQ(out, Sentence("GPRMB,2") + "\r\n");
}

TEST(SerialConnection, BurstIsCutAtOneHundredAcceptedLinesPerTick) {
    PtyPair pty;
    if (!pty.Start()) GTEST_SKIP() << "socat is not available";
    conntest::SettingsGuard guard;
    SerialSettingsGuard serialGuard;
    conntest::RawRecorder received;
    CSerialConnection::Setup(pty.a, 115200);
    CSerialConnection c;
    ASSERT_TRUE(c.Open());
    QSerialPort peer;
    peer.setPortName(QString::fromStdString(pty.b));
    ASSERT_TRUE(peer.open(QIODevice::ReadWrite));
    std::string burst;
    for (int i = 0; i < 150; ++i) burst += Numbered(i) + "\r\n";
    peer.write(burst.data(), static_cast<qint64>(burst.size()));
    peer.waitForBytesWritten(1000);
    QThread::msleep(200);
    WaitFor([]() { return false; }, 100);  // the port takes in what arrived
    c.OnHeartbeat();
    EXPECT_EQ(received.lines.size(), 100u);
    EXPECT_EQ(received.lines.back(), Numbered(99));
}

TEST(SerialConnection, FailureNamesTheDevice) {
    conntest::SettingsGuard guard;
    SerialSettingsGuard serialGuard;
    CSerialConnection::Setup("/nonexistent/ttyNV0", 4800);
    CSerialConnection c;
    EXPECT_FALSE(c.Open());
    EXPECT_EQ(c.StatusMessage().rfind("Open serial port /nonexistent/ttyNV0, Failed, errno: ", 0), 0u);
    EXPECT_FALSE(c.Output("$GPRMB\r\n"));
    EXPECT_NE(CSerialConnection::AccessProblem("/nonexistent/ttyNV0").find("does not exist"), std::string::npos);
}

// Simulation ---------------------------------------------------------------------------

// Stands in for the position feed: every RMC line moves the position.
class FakePositionFeed : public Listener<CNMEA_Raw> {
public:
    void OnUpdate(CNMEA_Raw& raw) override {
        lines.emplace_back(raw.text);
        if (std::strstr(raw.text, "RMC,")) Listener<CDataGPSPosition>::Publish(position);
    }
    std::vector<std::string> lines;
    CDataGPSPosition position;
};

// The changes of input a connection announces.
class Changes : public Listener<CDataSourceChange> {
public:
    void OnUpdate(CDataSourceChange& c) override { kinds.push_back(c.kind); }
    int Count(CDataSourceChange::Kind kind) const { return int(std::count(kinds.begin(), kinds.end(), kind)); }
    std::vector<CDataSourceChange::Kind> kinds;
};

std::string WriteFile(const QTemporaryDir& dir, const std::string& text) {
    const QString path = dir.filePath(QStringLiteral("sim.txt"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.data(), static_cast<qint64>(text.size()));
    return path.toStdString();
}

TEST(SimulationConnection, PlaysUpToTheNextPositionEachSecondAndRewinds) {
    conntest::SettingsGuard guard;
    QTemporaryDir dir;
    Changes changes;
    std::string text = "# a comment line without a dollar\n";
    text += Sentence("GPGSV,1") + "\r\n" + Sentence("GPRMC,1") + "\r\n";
    text += "junk" + Sentence("GPGGA,2") + "\r" + Sentence("GPRMC,2") + "\n" + Sentence("GPXTE,3");  // no final line end
    ASSERT_TRUE(CNMEASimulation::Setup(WriteFile(dir, text)));
    FakePositionFeed feed;
    CNMEASimulation sim;
    ASSERT_TRUE(sim.Open());
    EXPECT_TRUE(sim.IsSimulation());
    EXPECT_EQ(changes.kinds, std::vector<CDataSourceChange::Kind>{CDataSourceChange::kSimulationStarted});

    sim.PlayPeriod();
    EXPECT_EQ(feed.lines.size(), 2u);
    sim.PlayPeriod();
    ASSERT_EQ(feed.lines.size(), 4u);
    EXPECT_EQ(feed.lines[2], Sentence("GPGGA,2") + "\r\n");
    // Third second: the last line, the end (rewind, counted as a line), then up to the first RMC again.
    sim.PlayPeriod();
    ASSERT_EQ(feed.lines.size(), 7u);
    EXPECT_EQ(feed.lines[4], Sentence("GPXTE,3") + "\r\n");
    EXPECT_EQ(feed.lines[6], Sentence("GPRMC,1") + "\r\n");
    EXPECT_EQ(sim.Rewinds(), 1);
    EXPECT_EQ(changes.Count(CDataSourceChange::kSimulationRewound), 1);

    // Driven by the heartbeat: ten pulses make exactly one period.
    for (int i = 0; i < CNMEASimulation::kPeriodPulses; ++i) CHeartbeat::Pulse();
    EXPECT_EQ(feed.lines.size(), 9u);
}

TEST(SimulationConnection, FileWithoutSentencesRewindsThirtyTimesAndNeverMoves) {
    conntest::SettingsGuard guard;
    QTemporaryDir dir;
    ASSERT_TRUE(CNMEASimulation::Setup(WriteFile(dir, "no sentences here\nnor here\n")));
    FakePositionFeed feed;
    CNMEASimulation sim;
    ASSERT_TRUE(sim.Open());
    sim.PlayPeriod();
    EXPECT_EQ(sim.Rewinds(), CNMEASimulation::kLinesPerPeriod);
    EXPECT_TRUE(feed.lines.empty());

    // A missing file is a status, not a crash.
    EXPECT_FALSE(CNMEASimulation::Setup(dir.filePath(QStringLiteral("gone.txt")).toStdString()));
    CNMEASimulation missing;
    EXPECT_FALSE(missing.Open());
    EXPECT_EQ(missing.StatusMessage(), "Simulation file error");
    missing.PlayPeriod();
}

// Location service ---------------------------------------------------------------------

QGeoPositionInfo Fix(double lat, double lon, qint64 ms) {
    return QGeoPositionInfo(QGeoCoordinate(lat, lon), QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC));
}

TEST(LocationService, PlatformUpdatesBecomeFixesWithTheDocumentedRules) {
    CDataGPSPosition p;
    const qint64 t0 = 1700000000000;

    // Speed and direction: metres per second to knots, and a fix.
    QGeoPositionInfo info = Fix(50.5, -1.25, t0);
    info.setAttribute(QGeoPositionInfo::GroundSpeed, 5.0);
    info.setAttribute(QGeoPositionInfo::Direction, 270.0);
    info.setAttribute(QGeoPositionInfo::HorizontalAccuracy, 8.0);
    p.fix_time = t0 / 1000.0 - 1.0;
    ASSERT_TRUE(CLocationServiceConnection::ApplyPositionInfo(info, p, 0));
    EXPECT_DOUBLE_EQ(p.lat, 50.5);
    EXPECT_DOUBLE_EQ(p.lon, -1.25);
    EXPECT_DOUBLE_EQ(p.fix_time, t0 / 1000.0);
    EXPECT_NEAR(p.speed, 5.0 * 1.94384449, 1e-4);
    EXPECT_FLOAT_EQ(p.course, 270.0f);
    EXPECT_FLOAT_EQ(p.hdop, 8.0f);
    EXPECT_EQ(p.fix_status, FIX_GPS);

    // Poor accuracy loses the fix but keeps the position.
    info = Fix(50.6, -1.25, t0 + 1000);
    info.setAttribute(QGeoPositionInfo::GroundSpeed, 1.0);
    info.setAttribute(QGeoPositionInfo::HorizontalAccuracy, 30.5);
    ASSERT_TRUE(CLocationServiceConnection::ApplyPositionInfo(info, p, 0));
    EXPECT_EQ(p.fix_status, FIX_NONE);
    EXPECT_DOUBLE_EQ(p.lat, 50.6);
    EXPECT_FLOAT_EQ(p.course, 0.0f) << "speed without a direction";

    // More than 5 s since the last fix: no fix and no altitude, even in 3D.
    info = QGeoPositionInfo(QGeoCoordinate(50.7, -1.25, 12.0), QDateTime::fromMSecsSinceEpoch(t0 + 6100, Qt::UTC));
    info.setAttribute(QGeoPositionInfo::GroundSpeed, 1.0);
    ASSERT_TRUE(CLocationServiceConnection::ApplyPositionInfo(info, p, 0));
    EXPECT_EQ(p.fix_status, FIX_NONE);
    EXPECT_EQ(p.altitude, CDataAltitude::kNoAltitude);
    EXPECT_FLOAT_EQ(p.hdop, 0.0f);

    // An invalid coordinate changes nothing but the status.
    p.fix_status = FIX_GPS;
    EXPECT_FALSE(CLocationServiceConnection::ApplyPositionInfo(QGeoPositionInfo(), p, 0));
    EXPECT_EQ(p.fix_status, FIX_NONE);
    EXPECT_DOUBLE_EQ(p.lat, 50.7);
}

TEST(LocationService, UpdatesMoveTheBoatAsTheirSource) {
    COverlayGPSPosition& gps = COverlayGPSPosition::theLatestPosition;
    std::vector<double> published;
    Catch<CDataGPSPosition> positions([&](CDataGPSPosition& p) { published.push_back(p.lat); });
    CLocationServiceConnection service;
    service.PositionUpdated(Fix(47.25, 8.5, 1700000000000));
    ASSERT_EQ(published, std::vector<double>{47.25});
    EXPECT_EQ(gps.position_source, static_cast<const CDataConnection*>(&service));
    EXPECT_TRUE(service.IsOpen()) << "open once a position came";
    gps.position_source = nullptr;
}

TEST(LocationService, SatelliteTableHoldsAtMostTwentyFourInUse) {
    QList<QGeoSatelliteInfo> sats;
    for (int i = 0; i < 30; ++i) {
        QGeoSatelliteInfo s;
        s.setSatelliteIdentifier(i + 1);
        s.setSignalStrength(30 + i);
        s.setAttribute(QGeoSatelliteInfo::Elevation, 45.0);
        s.setAttribute(QGeoSatelliteInfo::Azimuth, 300.0);
        sats.append(s);
    }
    CDataGPSSatelliteSignals table;
    table.satellites[0].number = 99;
    CLocationServiceConnection::ApplySatellitesInUse(sats, table);
    EXPECT_EQ(table.sats_in_use, 30);
    EXPECT_EQ(table.CountEntries(), 24);
    EXPECT_EQ(table.satellites[0].number, 1);
    EXPECT_EQ(table.satellites[23].azimuth, 300);
    EXPECT_TRUE(table.satellites[23].in_use);
    EXPECT_EQ(CLocationServiceConnection::ErrorText(QGeoPositionInfoSource::ClosedError),
              "The Location service was turned off");
}

// Choosing and life cycle --------------------------------------------------------------

TEST(ConnectionLifecycle, UnknownTypeFallsBackAndChoiceIsStoredOnlyWhenItOpens) {
    conntest::SettingsGuard guard;
    RecordingUi ui;
    CDataConnection* c = CDataConnection::Create(12345);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->TypeId(), CDataConnection::kLocationService);
    delete c;
    EXPECT_FALSE(CDataConnection::typeIsValid(12345));
    EXPECT_TRUE(CDataConnection::typeIsValid(CDataConnection::kSerial));

    // The menu lists every kind; picking "None" opens it and remembers the choice.
    std::vector<std::string> offered;
    ui.chooser = [&](const std::string& title, const std::vector<std::string>& items) {
        EXPECT_EQ(title, "GPS Connection");
        offered = items;
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i] == "None") return static_cast<int>(i);
        return -1;
    };
    bool result = false;
    CDataConnection::SelectConnectionType(NV_HWND(), [&](bool ok) { result = ok; });
    EXPECT_EQ(offered.size(), 6u);
    EXPECT_TRUE(result);
    EXPECT_EQ(CDataConnection::settings.gps_connection_type, CDataConnection::kNone);
    ASSERT_NE(CDataConnection::theConnection, nullptr);

    // A port that does not open is not remembered, and the user is told why.
    SerialSettingsGuard serialGuard;
    CSerialConnection::Setup("/nonexistent/ttyNV1", 9600);
    CDataConnection::onConnectionSelected(NV_HWND(), CDataConnection::CConnectionType::Find(CDataConnection::kSerial),
                                          [&](bool ok) { result = ok; });
    EXPECT_FALSE(result);
    EXPECT_EQ(CDataConnection::settings.gps_connection_type, 0);
    ASSERT_FALSE(ui.status.empty());
    EXPECT_EQ(ui.status.back().rfind("Open serial port /nonexistent/ttyNV1", 0), 0u);

    // Pausing ends an open connection unless a track is recorded in background mode;
    // resuming starts one from the settings.
    CDataConnection::settings.gps_connection_type = CDataConnection::kNone;
    CDataConnection::CreateConnection();
    CDataConnection::AppWasPaused();
    EXPECT_EQ(CDataConnection::theConnection, nullptr);
    CDataConnection::AppWasResumed();
    ASSERT_NE(CDataConnection::theConnection, nullptr);
    QTemporaryDir trackDir;
    CTrackManager tracks;
    tracks.SetDirectory(trackDir.path().toStdString());
    const int background = COverlayGPSPosition::settings.record_in_background_mode;
    COverlayGPSPosition::settings.record_in_background_mode = 1;
    tracks.startTrackRecording();
    CDataConnection::AppWasPaused();
    EXPECT_NE(CDataConnection::theConnection, nullptr);
    tracks.stopTrackRecording();
    COverlayGPSPosition::settings.record_in_background_mode = background;
    CDataConnection::AppWasDestroyed();
    EXPECT_EQ(CDataConnection::theConnection, nullptr);
}

}  // namespace
