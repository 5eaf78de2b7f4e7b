// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the replay commands (nav-replay, and later track-replay, ais-targets, nmea-dump)
// share: a recorded NMEA log is fed line by line through CNMEASentence::DispatchSentence
// while the application's clock follows the log's UTC times. Between two timed lines
// the heartbeat pulses every 100 ms of log time, so staleness, expiry and alarm timeouts
// behave as they do live, and an hour of log replays in milliseconds. A recording
// user-interface service prints every system notification shown or cancelled, and an
// output connection prints every sentence Navora would write to its devices. Each
// command adds its own listeners and its final report.
//
// Everything runs on the calling (GUI) thread; one harness at a time.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One JSON object on one line. Strings pass UTF-8 through (names of marks may hold any
// letter); quotes, backslashes and control characters are escaped.
class CEventLine {
public:
    CEventLine& Add(const char* key, const std::string& value);
    CEventLine& Add(const char* key, const char* value) { return Add(key, std::string(value ? value : "")); }
    CEventLine& Add(const char* key, double value);
    CEventLine& Add(const char* key, int value);
    CEventLine& Add(const char* key, size_t value);
    CEventLine& Add(const char* key, bool value);
    CEventLine& AddNull(const char* key);
    std::string Finish() const { return m_text.empty() ? "{}" : m_text + "}"; }
    static std::string Quote(const std::string& text);

private:
    void Key(const char* key);
    std::string m_text;
};

class CReplayHarness {
public:
    using Sink = std::function<void(const std::string& line)>;

    // Prints through `sink` (one JSON object per call, without line end).
    explicit CReplayHarness(Sink sink);
    ~CReplayHarness();
    CReplayHarness(const CReplayHarness&) = delete;
    CReplayHarness& operator=(const CReplayHarness&) = delete;

    // "SECTION:KEY=VALUE" with the settings file's keys; the settings file itself is
    // never read or written by a replay.
    bool ApplySetting(const std::string& assignment, std::string& error);

    // Reads the log (blank lines and "#" comments are skipped). False with `error` when
    // it cannot be read or holds no sentence.
    bool Load(const std::string& path, std::string& error);
    // Feeds every line; `afterLine` (optional) runs after each dispatched line.
    void Run(const std::function<void()>& afterLine = {});

    // The log time now (seconds since the epoch), and as ISO 8601 UTC text.
    double Clock() const { return m_now; }
    std::string ClockText() const;
    static std::string TimeText(double seconds);

    // Every event line starts with the log time.
    CEventLine Event(const char* name) const;
    void Print(const std::string& line) const { m_sink(line); }

    // Counters for the summary.
    size_t Lines() const { return m_lines.size(); }
    size_t Accepted() const { return m_accepted; }
    size_t Notifications() const;
    size_t Cancellations() const;
    size_t ActiveNotifications() const;  // shown and not cancelled
    size_t SentencesWritten() const;
    double FirstTime() const { return m_first; }

    // The UTC time a sentence carries (RMC with its date; GGA, GLL, ZDA with the last
    // date known); false when it carries none. Exposed for the tests.
    static bool SentenceTime(const std::string& line, double lastDate, double& time, double& date);

private:
    class Ui;
    class OutputDevice;
    void AdvanceTo(double t);

    Sink m_sink;
    std::vector<std::string> m_lines;
    std::unique_ptr<Ui> m_ui;
    std::unique_ptr<OutputDevice> m_output;
    double m_now = 0;
    double m_nextPulse = 0;
    double m_date = 0;  // midnight UTC of the current day
    double m_first = 0;
    size_t m_accepted = 0;
};
