// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/csvimport.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>

#include "core/attributes.h"
#include "overlays/gpximport.h"
#include "overlays/iconmanager.h"
#include "overlays/markmanager.h"
#include "overlays/overlaymark.h"
#include "overlays/overlayroute.h"
#include "overlays/track.h"
#include "overlays/trackmanager.h"
#include "overlays/xmlnode.h"

namespace {

constexpr int kMaxTrackPoints = 999'999;
constexpr int kMaxRoutePoints = 99'999;
constexpr int kBuiltinIcons = 32;

// Field i, or empty.
const std::string& Field(const std::vector<std::string>& f, size_t i) {
    static const std::string kEmpty;
    return i < f.size() ? f[i] : kEmpty;
}

bool Number(const std::string& text, double& out) {
    return ParseXmlNumber(text, out);
}

// An integer the way "%d" reads one: the leading digits count, whatever follows.
bool Integer(const std::string& text, long long& out) {
    const char* b = text.data();
    const char* e = b + text.size();
    while (b < e && (*b == ' ' || *b == '\t')) ++b;
    if (b < e && *b == '+') ++b;
    long long v = 0;
    const auto r = std::from_chars(b, e, v);
    if (r.ec != std::errc() || r.ptr == b) return false;
    out = v;
    return true;
}

std::optional<long long> OptionalInteger(const std::vector<std::string>& f, size_t i) {
    long long v;
    if (i < f.size() && Integer(f[i], v)) return v;
    return std::nullopt;
}

// The number after the record's letters ("WP12" -> 12).
bool RecordNumber(const std::string& field, size_t letters, long long& out) {
    return field.size() > letters && Integer(field.substr(letters), out);
}

// A waypoint or text-note record, kept until the marks and route points are made.
struct CsvMark {
    double lat = 0, lon = 0;
    std::string icon;  // normalised; empty: the template's
    std::string name, description, link, category;
    float alarmRadius = 0;
    long long alarmKind = 0;
    std::optional<long long> visible, locked;
    std::optional<GraphicsColor> color;
};

GraphicsColor ColorOf(long long rgb) {
    return GraphicsColor(uint8_t((rgb >> 16) & 0xFF), uint8_t((rgb >> 8) & 0xFF), uint8_t(rgb & 0xFF), 255);
}

void Fill(COverlayMark& mark, const CsvMark& r) {
    mark.SetPosition(r.lat, r.lon);
    mark.setName(r.name);
    mark.setDescription(r.description);
    mark.setLink(r.link);
    if (!r.category.empty()) mark.setCategory(r.category);
    mark.SetIcon(r.icon.empty() ? mark.getIcon() : r.icon, r.color ? *r.color : mark.getColor());
    if (std::isfinite(r.alarmRadius) && r.alarmRadius > 0) {
        if (r.alarmKind == 2)
            mark.SetAlarm(0, r.alarmRadius);
        else if (r.alarmKind == 3)
            mark.SetAlarm(r.alarmRadius, 1000 + 10 * r.alarmRadius);
    }
    if (r.visible) mark.setVisible(*r.visible != 0);
    if (r.locked) mark.setLocked(*r.locked != 0);
}

// The lines of the text, "#" comment lines and lines under three characters left out.
class CLineReader {
public:
    CLineReader(const char* data, size_t size) : m_p(data), m_end(data + size) {}

    bool Next(std::string& line) {
        if (m_pushedBack) {
            m_pushedBack = false;
            line = m_last;
            return true;
        }
        while (m_p < m_end) {
            const char* nl = static_cast<const char*>(std::memchr(m_p, '\n', size_t(m_end - m_p)));
            const char* e = nl ? nl : m_end;
            const char* b = m_p;
            m_p = nl ? nl + 1 : m_end;
            while (e > b && (e[-1] == '\r' || e[-1] == '\n')) --e;
            const char* first = b;
            while (first < e && (*first == ' ' || *first == '\t')) ++first;
            if (first < e && *first == '#') continue;
            if (e - b < 3) continue;
            m_last.assign(b, e);
            line = m_last;
            return true;
        }
        return false;
    }
    // The line last returned is read again by the next call.
    void PushBack() { m_pushedBack = true; }

private:
    const char* m_p;
    const char* m_end;
    std::string m_last;
    bool m_pushedBack = false;
};

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> f = break_string_csv(line);
    for (std::string& s : f) s = LegacyTextToUtf8(s);
    return f;
}

class CCsvImporter {
public:
    CCsvImporter(const char* data, size_t size, COverlayImportResult& result)
        : m_data(data), m_size(size), m_result(result) {}

    void Run() {
        CollectWaypoints();
        CLineReader lines(m_data, m_size);
        std::string line;
        Last last = Last::None;
        while (lines.Next(line)) {
            const std::string kind = line.substr(0, 2);
            if (kind == "WP" || kind == "TX") {
                if (const CsvMark* r = NextMarkRecord()) AddMark(*r);
                last = Last::Mark;
            } else if (kind == "TK") {
                ReadCSVTrack(Fields(line), lines);
                last = Last::Track;
            } else if (kind == "RT") {
                ReadCSVRoute(Fields(line), lines);
                last = Last::Route;
            } else if (kind == "CL") {
                // A mark's colour was taken with its record.
                long long rgb;
                if (last != Last::Mark && Integer(Field(Fields(line), 1), rgb)) Recolor(last, ColorOf(rgb));
                last = Last::None;
            } else {
                last = Last::None;
            }
        }
    }

    int Skipped() const { return m_skipped; }

private:
    enum class Last { None, Mark, Track, Route };

    // First pass: every waypoint and text note, so that routes may name waypoints that
    // come later in the file, with the icons defined before each and a colour record
    // that follows it.
    void CollectWaypoints() {
        CLineReader lines(m_data, m_size);
        std::string line;
        CsvMark* previous = nullptr;
        while (lines.Next(line)) {
            const std::string kind = line.substr(0, 2);
            CsvMark* current = nullptr;
            if (kind == "WP" || kind == "TX") {
                const auto f = Fields(line);
                CsvMark r;
                if (ParseMark(f, kind == "TX", r)) {
                    m_records.push_back(std::move(r));
                    current = &m_records.back();
                    // A number used twice: route points name the later record.
                    m_waypoints[Trimmed(f[0])] = current;
                    m_byLine.push_back(current);
                } else {
                    ++m_skipped;
                    m_byLine.push_back(nullptr);
                }
            } else if (kind == "CL") {
                long long rgb;
                if (previous && Integer(Field(Fields(line), 1), rgb)) previous->color = ColorOf(rgb);
            } else if (line[0] == 'I') {
                const auto f = Fields(line);
                long long n;
                if (RecordNumber(f[0], 1, n) && n >= kBuiltinIcons && n <= 1'000'000 && !Field(f, 1).empty())
                    m_icons[n] = CIconManager::to_file_name(Field(f, 1));
            }
            previous = current;
        }
    }

    static std::string Trimmed(const std::string& s) {
        size_t b = 0, e = s.size();
        while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
        while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
        return s.substr(b, e - b);
    }

    // The record a "WP"/"TX" line was read into by the first pass, in line order.
    const CsvMark* NextMarkRecord() {
        return m_nextLine < m_byLine.size() ? m_byLine[m_nextLine++] : nullptr;
    }

    bool ParseMark(const std::vector<std::string>& f, bool note, CsvMark& r) {
        long long number;
        if (f.size() < 3 || !RecordNumber(f[0], 2, number)) return false;
        if (!Number(f[1], r.lat) || !Number(f[2], r.lon)) return false;
        if (!(r.lat > -90 && r.lat < 90 && r.lon > -370 && r.lon < 370)) return false;
        if (note) {
            r.icon = CIconManager::kNotes;
        } else if (auto icon = OptionalInteger(f, 3)) {
            const auto& builtin = CIconManager::builtinNames();
            if (*icon >= 0 && *icon < kBuiltinIcons && size_t(*icon) < builtin.size()) {
                r.icon = builtin[size_t(*icon)];
            } else if (auto it = m_icons.find(*icon); it != m_icons.end()) {
                r.icon = it->second;
            }
        }
        r.name = Field(f, 4);
        r.description = CAttributes::Unescape(Field(f, 5));
        r.link = Field(f, 6);
        double radius;
        if (Number(Field(f, 7), radius) && std::fabs(radius) < 1e7) r.alarmRadius = float(radius);
        r.alarmKind = OptionalInteger(f, 13).value_or(0);
        r.visible = OptionalInteger(f, 10);
        r.locked = OptionalInteger(f, 11);
        r.category = Field(f, 12);
        return true;
    }

    void AddMark(const CsvMark& r) {
        if (!g_mark_manager) return;
        auto mark = std::make_unique<COverlayMark>();
        Fill(*mark, r);
        if (mark->getCategory().empty())
            mark->setCategory(CMarkManager::ExpandDateFields(g_mark_manager->DefaultMark().getCategory(),
                                                             mark->getCreatedTime()));
        COverlayMark* added = g_mark_manager->AddMark(std::move(mark));
        added->getLonLatBounds(m_result.bounds);
        ++m_result.marks;
    }

    // "TK,name,category,visible,locked,n" and n "TP" lines.
    void ReadCSVTrack(const std::vector<std::string>& f, CLineReader& lines) {
        m_lastTrack = nullptr;
        long long n = 0;
        if (!Integer(Field(f, 5), n) || n < 2 || n > kMaxTrackPoints) {
            ++m_skipped;
            return;
        }
        auto track = std::make_unique<COverlayTrack>();
        if (g_track_manager) {
            const COverlayTrack& d = g_track_manager->DefaultTrack();
            track->SetLineStyle(d.getLineColor(), d.getLineWidth(), d.getLineStyle());
        }
        std::string line;
        for (long long i = 0; i < n && lines.Next(line); ++i) {
            const auto p = break_string_csv(line);
            if (p.size() < 3 || line.compare(0, 2, "TP") != 0) {
                lines.PushBack();
                break;
            }
            CTrackPoint pt;
            if (!Number(p[1], pt.lat) || !Number(p[2], pt.lon) || std::fabs(pt.lat) > 90 || std::fabs(pt.lon) > 360)
                continue;
            double v;
            if (Number(Field(p, 3), v) && std::fabs(v) < 1e6) pt.altitude = float(v);
            if (Number(Field(p, 4), v) && v > 0) pt.time = v;
            track->addPoint(pt, false);
        }
        if (!g_track_manager || track->getTotalPoints() < 2) {
            ++m_skipped;
            return;
        }
        track->setName(Field(f, 1).empty() ? g_track_manager->DefaultName() : Field(f, 1));
        if (const CTrackPoint* first = track->FirstPoint(); first->time > 0) track->setCreatedTime(first->time);
        track->setCategory(Field(f, 2));
        if (track->getCategory().empty() && g_mark_manager)
            track->setCategory(
                CMarkManager::ExpandDateFields(g_mark_manager->DefaultMark().getCategory(), track->getCreatedTime()));
        if (auto v = OptionalInteger(f, 3)) track->setVisible(*v != 0);
        if (auto v = OptionalInteger(f, 4)) track->setLocked(*v != 0);
        track->setClosed(true);
        m_lastTrack = g_track_manager->AddTrack(std::move(track));
        m_lastTrack->getLonLatBounds(m_result.bounds);
        ++m_result.tracks;
        m_result.track_points += int(m_lastTrack->getTotalPoints());
    }

    // "RT,name,category,visible,locked,n" and n "RP,WP<k>" lines.
    void ReadCSVRoute(const std::vector<std::string>& f, CLineReader& lines) {
        m_lastRoute = nullptr;
        long long n = 0;
        if (f.size() < 6 || !Integer(f[5], n) || n < 2 || n > kMaxRoutePoints || !g_mark_manager) {
            ++m_skipped;
            return;
        }
        auto route = std::make_unique<COverlayRoute>();
        COverlayMark* last = nullptr;
        std::string line;
        for (long long i = 0; i < n && lines.Next(line); ++i) {
            if (line.compare(0, 2, "RP") != 0) {
                lines.PushBack();
                break;
            }
            const auto p = break_string_csv(line);
            auto it = m_waypoints.find(Trimmed(Field(p, 1)));
            if (it == m_waypoints.end()) continue;
            std::unique_ptr<COverlayMark> wp;
            {
                COverlayMark::WaypointScope scope;
                wp = std::make_unique<COverlayMark>();
            }
            Fill(*wp, *it->second);
            last = route->InsertWPAfter(std::move(wp), last);
        }
        if (route->size() < 2) {
            ++m_skipped;
            return;
        }
        route->setName(Field(f, 1).empty() ? g_mark_manager->DefaultRouteName() : Field(f, 1));
        route->setCategory(Field(f, 2));
        if (route->getCategory().empty())
            route->setCategory(
                CMarkManager::ExpandDateFields(g_mark_manager->DefaultMark().getCategory(), route->getCreatedTime()));
        if (auto v = OptionalInteger(f, 3)) route->setVisible(*v != 0);
        if (auto v = OptionalInteger(f, 4)) route->setLocked(*v != 0);
        m_lastRoute = g_mark_manager->AddRoute(std::move(route));
        m_lastRoute->getLonLatBounds(m_result.bounds);
        ++m_result.routes;
        m_result.route_points += int(m_lastRoute->size());
    }

    void Recolor(Last last, const GraphicsColor& c) {
        if (last == Last::Track && m_lastTrack) {
            m_lastTrack->SetLineStyle(c, m_lastTrack->getLineWidth(), m_lastTrack->getLineStyle());
            g_track_manager->TrackChanged(m_lastTrack);
        } else if (last == Last::Route && m_lastRoute) {
            m_lastRoute->SetLineStyle(c, m_lastRoute->getLineWidth(), m_lastRoute->getLinePattern());
            m_lastRoute->Dispatch(COverlayObject::UPDATE_MOVED);
            g_mark_manager->SetRoutesChanged();
        }
    }

    const char* m_data;
    size_t m_size;
    COverlayImportResult& m_result;
    std::deque<CsvMark> m_records;
    std::unordered_map<std::string, const CsvMark*> m_waypoints;
    std::vector<const CsvMark*> m_byLine;
    size_t m_nextLine = 0;
    std::map<long long, std::string> m_icons;
    COverlayTrack* m_lastTrack = nullptr;
    COverlayRoute* m_lastRoute = nullptr;
    int m_skipped = 0;
};

}  // namespace

std::vector<std::string> break_string_csv(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.push_back(std::move(field));
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(std::move(field));
    return fields;
}

bool ImportCSVText(const char* data, size_t size, COverlayImportResult& result) {
    if (!data) size = 0;
    CCsvImporter importer(data, size, result);
    importer.Run();
    if (importer.Skipped() > 0)
        result.error = importer.Skipped() == 1
                           ? std::string("1 record was left out: it had no usable position or too few points.")
                           : std::to_string(importer.Skipped()) +
                                 " records were left out: they had no usable position or too few points.";
    if (result.Objects() == 0 && result.error.empty()) result.error = "The file holds no marks, routes or tracks.";
    return result.Objects() > 0;
}

bool ReadCSVData(const std::string& path, std::string& data, std::string& error, CProgressDialogData* progress) {
    return ReadImportFile(path, data, error, progress);
}

bool ImportCSVFile(const std::string& path, COverlayImportResult& result, CProgressDialogData* progress) {
    std::string data;
    if (!ReadCSVData(path, data, result.error, progress)) return false;
    const bool ok = ImportCSVText(data.data(), data.size(), result);
    if (ok) {
        if (g_mark_manager) g_mark_manager->SaveIfNeeded();
        if (g_track_manager) g_track_manager->SaveIfNeeded();
    }
    return ok;
}

bool ImportCSVFile(const std::string& path, CBounds& bounds) {
    COverlayImportResult result;
    const bool ok = ImportCSVFile(path, result);
    bounds.Add(result.bounds);
    return ok;
}
