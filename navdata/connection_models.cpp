// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/connection_models.h"

#include <QPointer>
#include <QVariantMap>

#include <algorithm>

#include "navdata/dataconnection.h"
#include "navdata/dataconnection_net.h"
#include "navdata/dataconnection_serial.h"
#include "navdata/network_name.h"

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

// ---------------------------------------------------------------------------------------

QStringList CDlg_gps_setup::typeNames() const {
    QStringList names;
    for (auto* t = CDataConnection::CConnectionType::First(); t; t = t->next) names << QString::fromUtf8(t->name);
    return names;
}

QVariantList CDlg_gps_setup::typeIds() const {
    QVariantList ids;
    for (auto* t = CDataConnection::CConnectionType::First(); t; t = t->next) ids << t->id;
    return ids;
}

int CDlg_gps_setup::currentType() const {
    return CDataConnection::theConnection ? CDataConnection::theConnection->TypeId() : 0;
}

QString CDlg_gps_setup::status() const {
    return CDataConnection::theConnection ? Q(CDataConnection::theConnection->StatusMessage()).trimmed() : QString();
}

bool CDlg_gps_setup::connected() const {
    return CDataConnection::theConnection && CDataConnection::theConnection->IsOpen();
}

bool CDlg_gps_setup::debugging() const { return CDataConnection::isDebugging(); }

void CDlg_gps_setup::choose(int typeId) {
    CDataConnection::CConnectionType* type = CDataConnection::CConnectionType::Find(typeId);
    if (!type) {
        emit chosen(false);
        return;
    }
    QPointer<CDlg_gps_setup> self(this);
    CDataConnection::onConnectionSelected(NV_HWND(this), type, [self](bool ok) {
        if (!self) return;
        emit self->changed();
        emit self->chosen(ok);
    });
}

void CDlg_gps_setup::reconnect() {
    CDataConnection::CreateConnection();
    emit changed();
}

void CDlg_gps_setup::setDebugging(bool on) {
    if (on == CDataConnection::isDebugging()) return;
    if (on) CDataConnection::startDebug();
    else CDataConnection::stopDebug(NV_HWND(this));
    emit changed();
}

// ---------------------------------------------------------------------------------------

CDlg_serial_setup::CDlg_serial_setup(QObject* parent)
    : QObject(parent), m_device(Q(CSerialConnection::settings.device)), m_baud(CSerialConnection::settings.baud) {
    if (m_baud <= 0) m_baud = 4800;  // the NMEA 0183 standard rate
    refreshPorts();
}

QVariantList CDlg_serial_setup::baudRates() const {
    QVariantList rates;
    for (int r : CSerialConnection::BaudRates()) rates << r;
    return rates;
}

void CDlg_serial_setup::setDevice(const QString& device) {
    if (device == m_device) return;
    m_device = device;
    emit changed();
}

void CDlg_serial_setup::setBaud(int baud) {
    if (baud == m_baud) return;
    m_baud = baud;
    emit changed();
}

QString CDlg_serial_setup::problem() const {
    if (m_device.isEmpty()) return tr("Choose a serial port.");
    return Q(CSerialConnection::AccessProblem(m_device.toStdString()));
}

void CDlg_serial_setup::refreshPorts() {
    m_ports.clear();
    for (const CSerialPortEntry& e : CSerialConnection::ListPorts()) {
        QVariantMap m;
        m[QStringLiteral("device")] = Q(e.device);
        m[QStringLiteral("label")] = Q(e.label);
        m[QStringLiteral("accessible")] = e.accessible;
        m[QStringLiteral("problem")] = Q(e.problem);
        m_ports << m;
    }
    emit portsChanged();
}

bool CDlg_serial_setup::apply() {
    const auto& rates = CSerialConnection::BaudRates();
    if (m_device.isEmpty() || std::find(rates.begin(), rates.end(), m_baud) == rates.end()) {
        emit changed();
        return false;
    }
    CSerialConnection::Setup(m_device.toStdString(), m_baud);
    return true;
}

// ---------------------------------------------------------------------------------------

CDlg_tcp_setup::CDlg_tcp_setup(QObject* parent)
    : QObject(parent),
      m_address(Q(CTCPIPConnection::settings.ip_address)),
      m_port(CTCPIPConnection::settings.port),
      m_instant(CTCPIPConnection::settings.instant_acquisition),
      m_onlyHere(!CTCPIPConnection::settings.network.empty()),
      m_currentNetwork(Q(getCurrentNetworkName())) {}

bool CDlg_tcp_setup::apply() {
    m_error.clear();
    const QString address = m_address.trimmed();
    if (address.isEmpty() || address.contains(QLatin1Char(' ')))
        m_error = tr("Enter the address of the device, e.g. 192.168.1.10.");
    else if (m_port <= 0 || m_port > 65535)
        m_error = tr("The port must be between 1 and 65535.");
    else if (m_onlyHere && m_currentNetwork.isEmpty())
        m_error = tr("The current network is not known, so the connection cannot be limited to it.");
    if (!m_error.isEmpty()) {
        emit changed();
        return false;
    }
    CTCPIPConnection::Setup(address.toStdString(), m_port, m_instant);
    if (m_onlyHere) CTCPIPConnection::settings.network = m_currentNetwork.toStdString();
    emit changed();
    return true;
}

// ---------------------------------------------------------------------------------------

CDlg_udp_setup::CDlg_udp_setup(QObject* parent)
    : QObject(parent),
      m_port(CUDPConnection::settings.port),
      m_onlyHere(!CUDPConnection::settings.network.empty()),
      m_currentNetwork(Q(getCurrentNetworkName())) {}

bool CDlg_udp_setup::apply() {
    m_error.clear();
    if (m_port <= 0 || m_port > 65535) m_error = tr("The port must be between 1 and 65535.");
    else if (m_onlyHere && m_currentNetwork.isEmpty())
        m_error = tr("The current network is not known, so the connection cannot be limited to it.");
    if (!m_error.isEmpty()) {
        emit changed();
        return false;
    }
    CUDPConnection::Setup(m_port);
    if (m_onlyHere) CUDPConnection::settings.network = m_currentNetwork.toStdString();
    emit changed();
    return true;
}

// ---------------------------------------------------------------------------------------

CDlg_output_rules::CDlg_output_rules(QObject* parent) : QObject(parent) {
    QStringList lines;
    for (const std::string& r : CDataConnection::settings.output_filters) lines << Q(r);
    m_text = lines.join(QLatin1Char('\n'));
}

void CDlg_output_rules::apply() {
    std::vector<std::string> rules;
    for (const QString& line : m_text.split(QLatin1Char('\n'))) {
        const QString t = line.trimmed();
        if (!t.isEmpty()) rules.push_back(t.toStdString());
    }
    CDataConnection::settings.output_filters = rules;
    CDataConnection::settings.SetChanged();
    PersistantData::SaveAll();
    if (CDataConnection::theConnection) CDataConnection::CreateConnection();
}
