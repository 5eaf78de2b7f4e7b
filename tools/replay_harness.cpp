// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/replay_harness.h"

#include <QDateTime>
#include <QFile>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "core/heartbeat.h"
#include "core/persistantdata.h"
#include "core/pubsub.h"
#include "core/uiservices.h"
#include "navdata/dataconnection.h"
#include "navdata/feed_autopilot.h"
#include "navdata/gpsposition.h"
#include "navdata/nmea_sentence.h"

namespace {

constexpr qint64 kMaxLogBytes = 512LL * 1024 * 1024;
constexpr size_t kMaxLine = 4096;
constexpr double kPulseSeconds = CHeartbeat::kPulseMs / 1000.0;
// A gap in the log longer than this is not pulsed through in full: every timer of the
// application has run out well before (the longest period is two minutes).
constexpr double kMaxPulsedGap = 600.0;
constexpr double kDay = 86400.0;

// Seconds since the epoch of 00:00 UTC on the day of a "ddmmyy" field; 0 when it is not one.
double DateOf(const std::string& field) {
    if (field.size() < 6) return 0;
    for (int i = 0; i < 6; ++i)
        if (!std::isdigit(static_cast<unsigned char>(field[size_t(i)]))) return 0;
    const int day = std::atoi(field.substr(0, 2).c_str());
    const int month = std::atoi(field.substr(2, 2).c_str());
    int year = std::atoi(field.substr(4, 2).c_str());
    year += year < 80 ? 2000 : 1900;
    const QDate d(year, month, day);
    if (!d.isValid()) return 0;
    return double(QDateTime(d, QTime(0, 0), Qt::UTC).toSecsSinceEpoch());
}

// Seconds of the day of an "hhmmss.ss" field; negative when it is not one.
double TimeOfDay(const std::string& field) {
    if (field.size() < 6) return -1;
    for (int i = 0; i < 6; ++i)
        if (!std::isdigit(static_cast<unsigned char>(field[size_t(i)]))) return -1;
    const int h = std::atoi(field.substr(0, 2).c_str());
    const int m = std::atoi(field.substr(2, 2).c_str());
    const double s = std::atof(field.substr(4).c_str());
    if (h > 23 || m > 59 || !(s >= 0 && s < 61)) return -1;
    // Milliseconds are the finest step the application's clock takes.
    return std::round((h * 3600 + m * 60 + s) * 1000.0) / 1000.0;
}

std::vector<std::string> Fields(const std::string& line) {
    std::string body = line;
    const size_t star = body.find('*');
    if (star != std::string::npos) body.resize(star);
    std::vector<std::string> f;
    size_t start = 0;
    for (;;) {
        const size_t comma = body.find(',', start);
        f.push_back(body.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return f;
}

}  // namespace

// ---- JSON lines

void CEventLine::Key(const char* key) {
    m_text += m_text.empty() ? "{" : ", ";
    m_text += Quote(key);
    m_text += ": ";
}

std::string CEventLine::Quote(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

CEventLine& CEventLine::Add(const char* key, const std::string& value) {
    Key(key);
    m_text += Quote(value);
    return *this;
}

CEventLine& CEventLine::Add(const char* key, double value) {
    Key(key);
    if (!std::isfinite(value)) {
        m_text += "null";
    } else {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.10g", value);
        m_text += buf;
    }
    return *this;
}

CEventLine& CEventLine::Add(const char* key, int value) {
    Key(key);
    m_text += std::to_string(value);
    return *this;
}

CEventLine& CEventLine::Add(const char* key, size_t value) {
    Key(key);
    m_text += std::to_string(value);
    return *this;
}

CEventLine& CEventLine::Add(const char* key, bool value) {
    Key(key);
    m_text += value ? "true" : "false";
    return *this;
}

CEventLine& CEventLine::AddNull(const char* key) {
    Key(key);
    m_text += "null";
    return *this;
}

// ---- the recording user interface

class CReplayHarness::Ui : public IUiServices {
public:
    explicit Ui(CReplayHarness& h) : m_h(h) { SetUiServices(this); }
    ~Ui() override { SetUiServices(nullptr); }

    void ShowMessage(const NV_HWND&, const std::string& title, const std::string& text,
                     const std::vector<std::string>& buttons, std::function<void(int)> done) override {
        m_h.Print(m_h.Event("message").Add("title", title).Add("text", text).Finish());
        // Nobody is there to answer: the first button, as a dialog's default would.
        if (done) done(buttons.empty() ? -1 : 0);
    }
    void SetStatusMessage(const std::string&) override {}
    void ShowSystemNotification(const std::string& id, const std::string& title, const std::string& text) override {
        ++notifications;
        active.insert(id);
        m_h.Print(m_h.Event("notify").Add("id", id).Add("title", title).Add("text", text).Finish());
    }
    void CancelSystemNotification(const std::string& id) override {
        ++cancellations;
        active.erase(id);
        m_h.Print(m_h.Event("cancel").Add("id", id).Finish());
    }
    void ShowProgress(const NV_HWND&, std::shared_ptr<CProgressDialogData>) override {}

    size_t notifications = 0;
    size_t cancellations = 0;
    std::set<std::string> active;

private:
    CReplayHarness& m_h;
};

// ---- the output connection

// Stands for the device Navora writes to: it applies the output rules of the settings
// like any connection, and prints what passes. Without any rule it shows everything
// Navora writes, which is what a replay is for.
class CReplayHarness::OutputDevice : public CDataConnection {
public:
    explicit OutputDevice(CReplayHarness& h) : m_h(h) {
        if (settings.output_filters.empty())
            outputFilter.add("A");
        else
            for (const std::string& rule : settings.output_filters) outputFilter.add(rule.c_str());
        notOpen = false;
    }
    bool Open() override {
        notOpen = false;
        return true;
    }
    bool Output(const char* text) override {
        std::string s = text ? text : "";
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        ++written;
        m_h.Print(m_h.Event("nmea").Add("sentence", s).Finish());
        return true;
    }
    // Received lines come in through here, so that they are never echoed back out.
    bool Feed(char* line) { return CNMEASentence::DispatchSentence(line, this); }

    size_t written = 0;

private:
    CReplayHarness& m_h;
};

// ---- the harness

CReplayHarness::CReplayHarness(Sink sink) : m_sink(std::move(sink)) {
    m_ui = std::make_unique<Ui>(*this);
    CFeedRMC_to_GPSPosition::Start();
    CFeed_AutopilotRMB::SetPosition(&COverlayGPSPosition::theLatestPosition);
}

CReplayHarness::~CReplayHarness() {
    m_output.reset();
    CFeed_AutopilotRMB::SetPosition(nullptr);
    CFeedRMC_to_GPSPosition::Stop();
    CDataSource::SetReplayClock(0);
    m_ui.reset();
}

bool CReplayHarness::ApplySetting(const std::string& assignment, std::string& error) {
    const size_t eq = assignment.find('=');
    const size_t colon = assignment.find(':');
    if (eq == std::string::npos || colon == std::string::npos || colon > eq || colon == 0 || colon + 1 == eq) {
        error = "--set needs SECTION:KEY=VALUE, e.g. CMarkManager:cross_track_alarm=200 (got '" + assignment + "')";
        return false;
    }
    const std::string key = assignment.substr(0, eq);
    if (!PersistantData::find_persistor(key)) {
        error = "no settings section '" + key.substr(0, colon) + "' (the part before ':' names one, e.g. CMarkManager)";
        return false;
    }
    if (!PersistantData::SetValue(key, assignment.substr(eq + 1))) {
        error = "cannot set " + key;
        return false;
    }
    return true;
}

bool CReplayHarness::Load(const std::string& path, std::string& error) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        error = "cannot open " + path + ": " + file.errorString().toStdString();
        return false;
    }
    if (file.size() > kMaxLogBytes) {
        error = path + " is larger than 512 MB";
        return false;
    }
    m_lines.clear();
    for (QByteArray line : file.readAll().split('\n')) {
        while (line.endsWith('\r')) line.chop(1);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#') || size_t(line.size()) > kMaxLine) continue;
        m_lines.push_back(line.toStdString());
    }
    if (m_lines.empty()) {
        error = path + " holds no sentences";
        return false;
    }
    // The clock starts at the log's first time, on the first date the log gives; a log
    // without any date runs on 1 January 2000.
    m_date = 0;
    double first = -1;
    for (const std::string& l : m_lines) {
        double t, d;
        if (!SentenceTime(l, 0, t, d)) continue;
        if (m_date == 0 && d > 0) m_date = d;
        if (first < 0) first = t - d;  // time of day
        if (m_date != 0 && first >= 0) break;
    }
    if (m_date == 0) m_date = double(QDateTime(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch());
    m_first = m_date + std::max(0.0, first);
    m_now = m_first;
    m_nextPulse = m_now + kPulseSeconds;
    CDataSource::SetReplayClock(m_now);
    return true;
}

bool CReplayHarness::SentenceTime(const std::string& line, double lastDate, double& time, double& date) {
    const size_t start = line.find_first_of("$!");
    if (start == std::string::npos || line.size() < start + 6) return false;
    const std::string type = line.substr(start + 3, 3);
    const std::vector<std::string> f = Fields(line.substr(start));
    double tod = -1;
    date = lastDate;
    if (type == "RMC" && f.size() > 9) {
        tod = TimeOfDay(f[1]);
        const double d = DateOf(f[9]);
        if (d > 0) date = d;
    } else if (type == "GGA" && f.size() > 1) {
        tod = TimeOfDay(f[1]);
    } else if (type == "GLL" && f.size() > 5) {
        tod = TimeOfDay(f[5]);
    } else if (type == "ZDA" && f.size() > 4) {
        tod = TimeOfDay(f[1]);
        const int day = std::atoi(f[2].c_str()), month = std::atoi(f[3].c_str()), year = std::atoi(f[4].c_str());
        const QDate d(year, month, day);
        if (d.isValid() && year > 1970) date = double(QDateTime(d, QTime(0, 0), Qt::UTC).toSecsSinceEpoch());
    }
    if (tod < 0) return false;
    time = date + tod;
    return true;
}

void CReplayHarness::AdvanceTo(double t) {
    if (t < m_now) {
        // The log went back in time (a concatenated or looping log): follow it.
        m_now = t;
        m_nextPulse = t + kPulseSeconds;
        CDataSource::SetReplayClock(m_now);
        return;
    }
    if (t - m_nextPulse > kMaxPulsedGap) m_nextPulse = t - kMaxPulsedGap;
    while (m_nextPulse <= t) {
        m_now = m_nextPulse;
        CDataSource::SetReplayClock(m_now);
        CHeartbeat::Pulse();
        m_nextPulse += kPulseSeconds;
    }
    m_now = t;
    CDataSource::SetReplayClock(m_now);
}

void CReplayHarness::Run(const std::function<void()>& afterLine) {
    if (!m_output) m_output = std::make_unique<OutputDevice>(*this);
    std::vector<char> buf;
    for (const std::string& line : m_lines) {
        double t, d;
        if (SentenceTime(line, m_date, t, d)) {
            // A time before the previous one by more than half a day is the next day.
            if (d == m_date && t < m_now - kDay / 2) {
                m_date += kDay;
                t += kDay;
            }
            m_date = d > m_date ? d : m_date;
            AdvanceTo(t);
        }
        buf.assign(line.begin(), line.end());
        buf.push_back('\0');
        if (m_output->Feed(buf.data())) ++m_accepted;
        if (afterLine) afterLine();
    }
}

size_t CReplayHarness::Notifications() const {
    return m_ui ? m_ui->notifications : 0;
}

size_t CReplayHarness::Cancellations() const {
    return m_ui ? m_ui->cancellations : 0;
}

size_t CReplayHarness::ActiveNotifications() const {
    return m_ui ? m_ui->active.size() : 0;
}

size_t CReplayHarness::SentencesWritten() const {
    return m_output ? m_output->written : 0;
}

std::string CReplayHarness::TimeText(double seconds) {
    const qint64 ms = qint64(std::llround(seconds * 1000.0));
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    const QString format = ms % 1000 ? QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ") : QStringLiteral("yyyy-MM-ddTHH:mm:ssZ");
    return t.toString(format).toStdString();
}

std::string CReplayHarness::ClockText() const {
    return TimeText(m_now);
}

CEventLine CReplayHarness::Event(const char* name) const {
    CEventLine line;
    line.Add("time", ClockText());
    line.Add("event", name);
    return line;
}
