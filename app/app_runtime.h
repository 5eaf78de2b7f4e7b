// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

// Pulses the heartbeat every 100 ms on the GUI thread for as long as it lives.
class RunHeartbeatUntilShutdown : public QObject {
    Q_OBJECT
public:
    explicit RunHeartbeatUntilShutdown(QObject* parent = nullptr);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    int m_timerId = 0;
};

// Watches every pointer event that starts an interaction to learn whether the user works
// with a mouse, a touch screen, a touchpad or a stylus. Never consumes an event.
class PointerDeviceTypeDetection : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

bool usingTouchInterface();
bool usingStylusInterface();
bool usingMouseInterface();
bool usingTouchpadInterface();

// Turns SIGTERM and SIGINT into an orderly quit of the event loop (so data is saved).
void InstallTerminationHandler();
