// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A readable trace of what the dispatcher publishes: one JSON object per line, in the
// order things happen. Every registered sentence type prints its records through their
// field list; a printer listens to its data type while it exists. Subsystems that
// publish further data (the GPS position, AIS targets, ...) add their own printer with a
// static CNMEADump::Registrar, and it joins the trace. Put such a registrar in a file the tool
// links directly (tools/cmd_nmea_*.cpp): one inside a library is only linked when
// something else in its file is used.
// GUI thread only, like the publications it follows.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "navdata/nmea_sentence.h"

class CDataConnection;

// Builds one JSON object: {"key": value, ...}.
class CJsonLine {
public:
    CJsonLine() { m_text.reserve(256); }
    void Add(const char* key, double value);
    void Add(const char* key, float value);
    void Add(const char* key, int value);
    void Add(const char* key, unsigned value);
    void Add(const char* key, bool value);
    void Add(const char* key, const char* value);
    void Add(const char* key, const std::string& value) { Add(key, value.c_str()); }
    void AddChar(const char* key, char value);  // "" for NUL
    void Add(const char* key, const CNMEAField& value);
    // The finished object (without a line end).
    const std::string& Finish();

private:
    void Key(const char* key);
    std::string m_text;
    bool m_finished = false;
};

class CNMEADump {
public:
    using Sink = std::function<void(const std::string& line)>;

    // A printer listens from its construction to its destruction.
    class Printer {
    public:
        virtual ~Printer() = default;
    };

    struct Registrar {
        using Create = std::unique_ptr<Printer> (*)(const Sink& sink);
        Registrar(const char* name, Create create);
        const char* name;
        Create create;
        Registrar* next;
    };

    // Starts every registered printer; they print while the returned objects live.
    static std::vector<std::unique_ptr<Printer>> StartAll(const Sink& sink);

    // Dispatches one line and remembers its talker for the printers of this dispatch.
    static bool Dispatch(char* line, CDataConnection* from = nullptr);
    // The two talker characters of the sentence being dispatched ("" for proprietary).
    static const char* CurrentTalker();
};
