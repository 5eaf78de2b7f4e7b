// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Models behind the connection set-up pages. They hold the values being edited; apply()
// stores them in the settings. Qt Core only: the pages bind to the properties and call
// the invokables. GUI thread.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

// The "GPS Connection" page: the kinds of connection, the one in use, its status, the
// debug log and the output rules.
class CDlg_gps_setup : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList typeNames READ typeNames CONSTANT)
    Q_PROPERTY(QVariantList typeIds READ typeIds CONSTANT)
    Q_PROPERTY(int currentType READ currentType NOTIFY changed)
    Q_PROPERTY(QString status READ status NOTIFY changed)
    Q_PROPERTY(bool connected READ connected NOTIFY changed)
    Q_PROPERTY(bool debugging READ debugging NOTIFY changed)
public:
    explicit CDlg_gps_setup(QObject* parent = nullptr) : QObject(parent) {}

    QStringList typeNames() const;
    QVariantList typeIds() const;
    int currentType() const;
    QString status() const;
    bool connected() const;
    bool debugging() const;

    // Makes the kind with this identifier the connection (its own set-up page may follow).
    Q_INVOKABLE void choose(int typeId);
    // Closes and reopens the connection from the stored settings.
    Q_INVOKABLE void reconnect();
    Q_INVOKABLE void setDebugging(bool on);
    Q_INVOKABLE void refresh() { emit changed(); }

signals:
    void changed();
    // The outcome of choose().
    void chosen(bool ok);
};

class CDlg_serial_setup : public QObject {
    Q_OBJECT
    // Each port: {device, label, accessible, problem}.
    Q_PROPERTY(QVariantList ports READ ports NOTIFY portsChanged)
    Q_PROPERTY(QVariantList baudRates READ baudRates CONSTANT)
    Q_PROPERTY(QString device READ device WRITE setDevice NOTIFY changed)
    Q_PROPERTY(int baud READ baud WRITE setBaud NOTIFY changed)
    // Why the chosen device cannot be opened; empty when it can.
    Q_PROPERTY(QString problem READ problem NOTIFY changed)
public:
    explicit CDlg_serial_setup(QObject* parent = nullptr);

    QVariantList ports() const { return m_ports; }
    QVariantList baudRates() const;
    QString device() const { return m_device; }
    void setDevice(const QString& device);
    int baud() const { return m_baud; }
    void setBaud(int baud);
    QString problem() const;

    Q_INVOKABLE void refreshPorts();
    // Stores device and baud rate; false (with `problem` set) when nothing usable is chosen.
    Q_INVOKABLE bool apply();

signals:
    void portsChanged();
    void changed();

private:
    QVariantList m_ports;
    QString m_device;
    int m_baud = 0;
};

class CDlg_tcp_setup : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString address MEMBER m_address NOTIFY changed)
    Q_PROPERTY(int port MEMBER m_port NOTIFY changed)
    Q_PROPERTY(bool instantAcquisition MEMBER m_instant NOTIFY changed)
    Q_PROPERTY(bool onlyOnThisNetwork MEMBER m_onlyHere NOTIFY changed)
    Q_PROPERTY(QString currentNetwork READ currentNetwork CONSTANT)
    Q_PROPERTY(QString error READ error NOTIFY changed)
public:
    explicit CDlg_tcp_setup(QObject* parent = nullptr);
    QString currentNetwork() const { return m_currentNetwork; }
    QString error() const { return m_error; }
    // Checks and stores the values; false with `error` set when they are unusable.
    Q_INVOKABLE bool apply();

signals:
    void changed();

private:
    QString m_address;
    int m_port = 0;
    bool m_instant = false;
    bool m_onlyHere = false;
    QString m_currentNetwork;
    QString m_error;
};

class CDlg_udp_setup : public QObject {
    Q_OBJECT
    Q_PROPERTY(int port MEMBER m_port NOTIFY changed)
    Q_PROPERTY(bool onlyOnThisNetwork MEMBER m_onlyHere NOTIFY changed)
    Q_PROPERTY(QString currentNetwork READ currentNetwork CONSTANT)
    Q_PROPERTY(QString error READ error NOTIFY changed)
public:
    explicit CDlg_udp_setup(QObject* parent = nullptr);
    QString currentNetwork() const { return m_currentNetwork; }
    QString error() const { return m_error; }
    Q_INVOKABLE bool apply();

signals:
    void changed();

private:
    int m_port = 0;
    bool m_onlyHere = false;
    QString m_currentNetwork;
    QString m_error;
};

// The output rules, one per line ("Allow GPRMB", "Deny GPGSV"); applied to the next
// connection that is created.
class CDlg_output_rules : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString text MEMBER m_text NOTIFY changed)
public:
    explicit CDlg_output_rules(QObject* parent = nullptr);
    // Stores the non-empty lines and reopens the connection so that they take effect.
    Q_INVOKABLE void apply();

signals:
    void changed();

private:
    QString m_text;
};
