// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A serial port polled on every heartbeat tick (100 ms), and the list of ports the
// set-up dialog offers.

#include <memory>
#include <string>
#include <vector>

#include "core/heartbeat.h"
#include "navdata/dataconnection.h"

class QSerialPort;

// One port the user may choose.
struct CSerialPortEntry {
    std::string device;       // the path to store: the stable /dev/serial/by-id name when there is one
    std::string systemPath;   // the kernel's name, e.g. /dev/ttyUSB0
    std::string label;        // port name and description, for the list
    bool accessible = true;   // the user may open it for reading and writing
    std::string problem;      // why not, in words the user can act on; empty when accessible
};

class CSerialConnection : public CDataConnection, public CHeartbeat::Counter {
public:
    static constexpr int kPortReadBuffer = 10000;
    static const std::vector<int>& BaudRates();

    CSerialConnection();
    ~CSerialConnection() override;

    void Configure(const NV_HWND& parent, const std::function<void(bool)>& done) override;
    bool Open() override;
    void Close() override;
    bool Output(const char* text) override;
    void OnHeartbeat() override;

    static void Setup(const std::string& device, int baud);

    // The ports present now, sorted by label; `byIdDir` is where the stable names live.
    static std::vector<CSerialPortEntry> ListPorts(const std::string& byIdDir = "/dev/serial/by-id");
    // Why the user cannot open `device` (missing, or no permission and which group
    // grants it); empty when it can be opened.
    static std::string AccessProblem(const std::string& device);

    class Persistant : public PersistantData {
    public:
        Persistant() : PersistantData("CSerialConnection") {}
        void DeclareData() override {
            Declare("device", device);
            Declare("baud", baud);
        }
        std::string device;
        int baud = 0;
    };
    static Persistant settings;

private:
    void Poll();

    std::unique_ptr<QSerialPort> m_port;
};
