// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstring>
#include <string>
#include <vector>

#include "navdata/dataconnection.h"
#include "navdata/nmea_sentence.h"
#include "nmea_test_support.h"

namespace conntest {

// Runs the event loop until `done` holds or `ms` pass; never loops forever.
template <class F>
bool WaitFor(F done, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// The n-th numbered test sentence (a type nobody parses, so it is only forwarded raw).
inline std::string Numbered(int n) { return Sentence("GPTST," + std::to_string(n)); }

// Every raw sentence received through a connection (the text without its line end).
class RawRecorder : public Listener<CNMEA_Raw> {
public:
    void OnUpdate(CNMEA_Raw& raw) override {
        if (!raw.source) return;
        std::string text = raw.text;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        lines.push_back(text);
    }
    std::vector<std::string> lines;
};

// Keeps the connection settings of a test from leaking into the next one.
class SettingsGuard {
public:
    SettingsGuard() : m_type(CDataConnection::settings.gps_connection_type), m_filters(CDataConnection::settings.output_filters) {}
    ~SettingsGuard() {
        CDataConnection::AppWasDestroyed();
        CDataConnection::settings.gps_connection_type = m_type;
        CDataConnection::settings.output_filters = m_filters;
    }

private:
    int m_type;
    std::vector<std::string> m_filters;
};

}  // namespace conntest
