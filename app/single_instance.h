// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QLocalServer;

// One running Navora per user and profile. The first process listens on a local socket
// named after the user and the profile; a later one finds it there, hands over its
// command line and exits. A socket left behind by a killed primary is detected (nobody
// answers on it) and taken over, so a crash never blocks the next start.
class CSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit CSingleInstance(const QString& profile, QObject* parent = nullptr);
    ~CSingleInstance() override;

    bool isPrimary() const { return m_primary; }
    bool isSecondary() const { return !m_primary; }
    QString serverName() const { return m_serverName; }

    // Secondary only: delivers `message` to the primary; false when it could not be
    // delivered within `timeoutMs`.
    bool sendMessage(const QByteArray& message, int timeoutMs);

    static QString ServerNameFor(const QString& profile);

Q_SIGNALS:
    // Primary only, on the GUI thread: a secondary's message.
    void receivedMessage(quint32 instanceId, QByteArray message);

private:
    void onNewConnection();
    bool tryListen();

    QString m_serverName;
    QLocalServer* m_server = nullptr;
    bool m_primary = false;
    quint32 m_nextInstanceId = 1;
};
