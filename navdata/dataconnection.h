// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one source of navigation input: a serial port, a TCP client, a UDP listener, a
// replayed log file, the platform's location service, or nothing. NMEA connections
// assemble received bytes into lines and hand each to CNMEASentence::DispatchSentence;
// every connection writes the raw sentences its output filter allows back to the device.
//
// GUI thread only: socket and position signals arrive from the event loop, serial
// polling and simulation run on heartbeat ticks. theConnection and the debug log file
// are touched from that thread alone.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/persistantdata.h"
#include "core/uiservices.h"
#include "navdata/nmea_sentence.h"

class QIODevice;

class CDataConnection;

// Published to Listener<CDataSourceChange> when the input changes, so that what was
// learned from the earlier input (averages, the odometer leg, which talker wins, a
// simulated fix) is not carried into the next one.
struct CDataSourceChange {
    enum Kind {
        kSimulationStarted,  // a log starts playing: its positions are not the boat's
        kSimulationRewound,  // the log jumps back to its start
        kClosed,             // the connection ended (any kind, for any reason)
    };
    Kind kind;
    const CDataConnection* connection;  // only to compare with; may be going away
    bool simulation;
};

class CDataConnection : public Listener<CNMEA_Raw> {
public:
    // One selectable kind of connection; the kinds are registered once, in a fixed order.
    class CConnectionType {
    public:
        CConnectionType(const char* name, int id, CDataConnection* (*factory)());
        const char* name;
        int id;
        CConnectionType* next = nullptr;
        CDataConnection* (*factory)();

        static CConnectionType* First();
        static CConnectionType* Find(int id);
    };

    enum TypeId {
        kNone = 70,
        kLocationService = 71,
        kTcp = 73,
        kSimulation = 74,
        kUdp = 79,
        kSerial = 83,
    };

    // Line buffer: 199 characters plus the terminating NUL.
    static constexpr int kLineBufferSize = 200;
    // Serial and UDP read raw input in chunks of at most this many bytes.
    static constexpr int kReadChunk = 4000;
    static constexpr int kNetworkLineLimit = 200;
    static constexpr int kSerialLineLimit = 100;

    static constexpr const char* kNotNmeaMessage = "Error: Data not NMEA format.";
    static constexpr const char* kTooManyMessage = "Error: too many sentences - discarding the input buffer";

    CDataConnection();
    ~CDataConnection() override;
    CDataConnection(const CDataConnection&) = delete;
    CDataConnection& operator=(const CDataConnection&) = delete;

    // Writes a raw sentence the output filter allows; never one this connection received.
    void OnUpdate(CNMEA_Raw& raw) override;

    virtual void Configure(const NV_HWND& parent, const std::function<void(bool)>& done);
    virtual bool Open() = 0;
    virtual void Close() {}
    virtual bool Output(const char* text);
    virtual void ContinueWhilePaused() {}
    virtual void resumeFromBackground() {}

    bool IsOpen() const { return !notOpen; }
    bool IsSimulation() const { return isSimulation; }
    const std::string& StatusMessage() const { return statusMessage; }
    const std::string& Description() const { return description; }
    int TypeId() const { return typeId; }
    CNMEA_filter& OutputFilter() { return outputFilter; }

    // Where the bytes of one read event come from: a byte stream (a socket, a port) or a
    // socket's datagrams.
    class ByteSource {
    public:
        // The next bytes into `buffer`; -1 when nothing more has arrived (a datagram may
        // be empty: 0).
        virtual long long Read(char* buffer, long long size) = 0;
        // Throws away the rest of this event's input after a burst; whether there was any.
        virtual bool DiscardRest() = 0;

    protected:
        ~ByteSource() = default;
    };

    // A byte stream; after a burst it drops everything it holds when `discardOnBurst`,
    // else only the rest of the chunk being read.
    class DeviceSource final : public ByteSource {
    public:
        DeviceSource(QIODevice& device, bool discardOnBurst) : m_device(device), m_discard(discardOnBurst) {}
        long long Read(char* buffer, long long size) override;
        bool DiscardRest() override;

    private:
        QIODevice& m_device;
        bool m_discard;
    };

    // The connection in use; null when there is none.
    static CDataConnection* theConnection;

    // A new, unopened connection; an unregistered identifier gives a location service.
    static CDataConnection* Create(int type);
    static void CreateConnection();
    static void SelectConnectionType(const NV_HWND& parent, const std::function<void(bool)>& done);
    static void onConnectionSelected(const NV_HWND& parent, CConnectionType* type,
                                     const std::function<void(bool)>& done);
    static void AppWasPaused();
    static bool KeepRunningWhilePaused();
    static void AppWasResumed();
    static void AppWasDestroyed();
    // Settings of the layers above changed while paused (background recording turned on
    // or off): keep, close or restart the connection accordingly.
    static void UpdatedBackgroundSettings();
    static bool typeIsValid(int type);
    static bool hasBuiltinCompass() { return false; }

    // The debug log: every received line and every error, one per line.
    static void startDebug();
    static void stopDebug(const NV_HWND& parent = NV_HWND());
    static bool isDebugging();
    static void DebugLog(const char* text);
    static std::string DebugLogPath();


    class Persistant : public PersistantData {
    public:
        Persistant() : PersistantData("CDataConnection") {}
        void DeclareData() override {
            Declare("gps_connection_type", gps_connection_type);
            Declare("output_filters", output_filters);
        }
        int gps_connection_type = kLocationService;
        std::vector<std::string> output_filters;
    };
    static Persistant settings;

protected:
    // One read event: turns what `source` holds into lines and dispatches each. At most
    // `lineLimit` lines are taken (counting only accepted ones when `countAccepted`);
    // then the rest of the chunk and whatever the source discards are dropped. A line
    // that overflows the buffer is lost and reading stops: what followed it in the chunk
    // is kept for the next event.
    void ReadEvent(ByteSource& source, int lineLimit, bool countAccepted);
    // Hands one complete line over; returns whether it was accepted.
    virtual bool DispatchLine(char* line);

    // Tells the listeners of CDataSourceChange.
    void Announce(CDataSourceChange::Kind kind) const;
    void SetStatus(const std::string& text);
    // Shows the status message on the status line (nothing when it is empty).
    void ShowStatus() const;

    bool notOpen = true;
    std::string statusMessage;
    bool isSimulation = false;
    std::string description;
    CNMEA_filter outputFilter;
    int typeId = 0;

private:
    enum class Stop { kNone, kOverflow, kLineLimit };
    // Adds one chunk to the line buffer; `lines` counts towards the limit. Returns where
    // it stopped and how much of the chunk it used.
    Stop AssembleLines(const char* data, size_t length, int& lines, int lineLimit, bool countAccepted,
                       size_t& consumed);

    char m_line[kLineBufferSize] = {};
    int m_lineLength = 0;
    std::string m_pending;  // the rest of a chunk after an overflow, read at the next event

    static void DestroyConnection();
};

// Open() succeeds and nothing is ever received.
class CNoConnection : public CDataConnection {
public:
    bool Open() override {
        notOpen = false;
        return true;
    }
};
