// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/network_name.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QVariant>

namespace {

std::string (*s_provider)() = nullptr;

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
constexpr int kTimeoutMs = 500;  // a hung NetworkManager must not freeze the interface

QVariant GetProperty(const QString& path, const QString& interface, const QString& name) {
    QDBusInterface props(kService, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                         QDBusConnection::systemBus());
    if (!props.isValid()) return {};
    props.setTimeout(kTimeoutMs);
    QDBusReply<QDBusVariant> reply = props.call(QStringLiteral("Get"), interface, name);
    if (!reply.isValid()) return {};
    return reply.value().variant();
}

std::string QueryNetworkManager() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected() || !bus.interface()) return {};
    QDBusReply<bool> registered = bus.interface()->isServiceRegistered(kService);
    if (!registered.isValid() || !registered.value()) return {};

    const QVariant primary =
        GetProperty(QStringLiteral("/org/freedesktop/NetworkManager"), kService, QStringLiteral("PrimaryConnection"));
    const QString path = primary.value<QDBusObjectPath>().path();
    if (path.isEmpty() || path == QLatin1String("/")) return {};
    const QVariant id =
        GetProperty(path, QStringLiteral("org.freedesktop.NetworkManager.Connection.Active"), QStringLiteral("Id"));
    return id.toString().toStdString();
}

}  // namespace

std::string getCurrentNetworkName() { return s_provider ? s_provider() : QueryNetworkManager(); }

void setNetworkNameProviderForTesting(std::string (*provider)()) { s_provider = provider; }
