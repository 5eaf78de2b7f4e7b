// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/app_runtime.h"

#include <QCoreApplication>
#include <QInputDevice>
#include <QPointerEvent>
#include <QSocketNotifier>
#include <QTimerEvent>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "core/heartbeat.h"

RunHeartbeatUntilShutdown::RunHeartbeatUntilShutdown(QObject* parent) : QObject(parent) {
    m_timerId = startTimer(CHeartbeat::kPulseMs, Qt::CoarseTimer);
}

void RunHeartbeatUntilShutdown::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_timerId) CHeartbeat::Pulse();
}

namespace {
bool g_touch = false;
bool g_stylus = false;
bool g_touchpad = false;
}  // namespace

bool usingTouchInterface() {
    return g_touch;
}
bool usingStylusInterface() {
    return g_stylus;
}
bool usingTouchpadInterface() {
    return g_touchpad;
}
bool usingMouseInterface() {
    return !g_touch && !g_stylus;
}

bool PointerDeviceTypeDetection::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::TouchBegin:
        case QEvent::TabletPress: {
            const auto* pe = static_cast<QPointerEvent*>(event);
            const QInputDevice* dev = pe->device();
            const auto type = dev ? dev->type() : QInputDevice::DeviceType::Mouse;
            g_touch = g_stylus = g_touchpad = false;
            switch (type) {
                case QInputDevice::DeviceType::TouchScreen:
                    g_touch = true;
                    break;
                case QInputDevice::DeviceType::TouchPad:
                    g_touchpad = true;
                    break;
                case QInputDevice::DeviceType::Stylus:
                case QInputDevice::DeviceType::Airbrush:
                    g_stylus = true;
                    break;
                default:
                    break;
            }
            break;
        }
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

namespace {
int g_signalFds[2] = {-1, -1};

void OnSignal(int) {
    const char c = 1;
    // Only async-signal-safe work here: wake the event loop through the socket.
    [[maybe_unused]] ssize_t n = ::write(g_signalFds[0], &c, 1);
}
}  // namespace

void InstallTerminationHandler() {
    if (g_signalFds[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFds) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char c;
        [[maybe_unused]] ssize_t n = ::read(g_signalFds[1], &c, 1);
        QCoreApplication::quit();
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
}
