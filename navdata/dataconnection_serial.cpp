// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/dataconnection_serial.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/apppaths.h"

CSerialConnection::Persistant CSerialConnection::settings;

const std::vector<int>& CSerialConnection::BaudRates() {
    static const std::vector<int> rates{4800, 9600, 14400, 19200, 38400, 57600, 115200};
    return rates;
}

CSerialConnection::CSerialConnection() : Counter(1) {}

CSerialConnection::~CSerialConnection() { CSerialConnection::Close(); }

void CSerialConnection::Setup(const std::string& device, int baud) {
    settings.device = device;
    settings.baud = baud;
    settings.SetChanged();
}

void CSerialConnection::Configure(const NV_HWND& parent, const std::function<void(bool)>& done) {
    ShowPage(parent, {"SerialSetup", {}}, done);
}

bool CSerialConnection::Open() {
    const std::string& device = settings.device;
    description = FileNameOf(device);
    m_port = std::make_unique<QSerialPort>();
    m_port->setPortName(QString::fromStdString(device));
    if (settings.baud > 0) m_port->setBaudRate(settings.baud);
    m_port->setReadBufferSize(kPortReadBuffer);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    char text[512];
    if (!m_port->open(QIODevice::ReadWrite)) {
        if (m_port->open(QIODevice::ReadOnly)) {
            std::snprintf(text, sizeof text, "Opened %s read-only\n", device.c_str());
            SetStatus(text);
        } else {
            std::snprintf(text, sizeof text, "Open serial port %s, Failed, errno: %d\n", device.c_str(),
                          static_cast<int>(m_port->error()));
            SetStatus(text);
            m_port.reset();
            return false;
        }
    }
    m_port->clear(QSerialPort::AllDirections);
    notOpen = false;
    return true;
}

void CSerialConnection::Close() {
    if (m_port) {
        m_port->close();
        m_port.reset();
    }
}

bool CSerialConnection::Output(const char* text) {
    if (!m_port || !m_port->isOpen() || !m_port->isWritable()) return false;
    const qint64 n = m_port->write(text, static_cast<qint64>(std::strlen(text)));
    return n > 0;
}

void CSerialConnection::OnHeartbeat() { Poll(); }

void CSerialConnection::Poll() {
    if (!m_port || !m_port->isOpen()) return;
    // The port fills its buffer from the event loop; between two ticks without one
    // (a busy interface) take what the device already holds.
    if (m_port->bytesAvailable() == 0) m_port->waitForReadyRead(0);
    // A burst drops only the rest of the chunk being read: the port keeps the rest.
    DeviceSource source(*m_port, false);
    ReadEvent(source, kSerialLineLimit, true);
}

// ---------------------------------------------------------------------------------------
// Port listing

std::string CSerialConnection::AccessProblem(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return "The port " + device + " does not exist (is the device plugged in?)";
    if (::access(device.c_str(), R_OK | W_OK) == 0) return {};
    std::string group;
    if (const struct group* g = ::getgrgid(st.st_gid)) group = g->gr_name;
    std::string text = "You do not have permission to open " + device + ".";
    if (!group.empty() && group != "root") {
        text += " You are not in the " + group + " group: run \"sudo usermod -aG " + group +
                " $USER\", then log out and in again.";
    }
    return text;
}

std::vector<CSerialPortEntry> CSerialConnection::ListPorts(const std::string& byIdDir) {
    // Stable names survive re-plugging, where ttyUSB0 may come back as ttyUSB1.
    std::vector<std::pair<std::string, std::string>> byId;  // (canonical target, link)
    QDir dir(QString::fromStdString(byIdDir));
    for (const QFileInfo& link : dir.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty()) byId.emplace_back(target.toStdString(), link.absoluteFilePath().toStdString());
    }
    std::sort(byId.begin(), byId.end());

    std::vector<CSerialPortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        CSerialPortEntry e;
        e.systemPath = info.systemLocation().toStdString();
        e.device = e.systemPath;
        const std::string canonical = QFileInfo(info.systemLocation()).canonicalFilePath().toStdString();
        for (const auto& [target, link] : byId) {
            if (target == canonical) {
                e.device = link;
                break;
            }
        }
        e.label = info.portName().toStdString();
        const QString description = info.description();
        if (!description.isEmpty()) e.label += " - " + description.toStdString();
        e.problem = AccessProblem(e.systemPath);
        e.accessible = e.problem.empty();
        ports.push_back(std::move(e));
    }
    std::sort(ports.begin(), ports.end(),
              [](const CSerialPortEntry& a, const CSerialPortEntry& b) { return a.label < b.label; });
    return ports;
}
