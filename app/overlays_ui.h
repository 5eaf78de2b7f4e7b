// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the user sees of marks, routes and tracks: the Overlays menu, the menu of one
// object (the overlay list and a long press on the map share it), route building by
// tapping the map, the editors, the alarm sound and the alarm log. The engine reaches it
// through IMarkUi and ITrackUi; it reaches the user through core/uiservices.h, so the
// tests drive it with the recording services.
//
// GUI thread only.

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantList>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/uiservices.h"
#include "maplib/chartview.h"
#include "overlays/markmanager.h"
#include "overlays/track.h"

class QQuickItem;
class COverlayTrack;

// Finds an object again by what it was when a list or menu was made: objects may be
// deleted while a question is open, so a raw pointer is only used once it is found in
// its manager's list again.
struct COverlayRef {
    enum Kind { kMark = 0, kRoute = 1, kTrack = 2 };
    Kind kind = kMark;
    const void* object = nullptr;

    COverlayMark* Mark() const;
    COverlayRoute* Route() const;
    COverlayTrack* Track() const;
    CSyncable* Syncable() const;
    bool Alive() const { return Syncable() != nullptr; }
    static COverlayRef Of(COverlayMark& mark) { return {kMark, &mark}; }
    static COverlayRef Of(COverlayRoute& route) { return {kRoute, &route}; }
    static COverlayRef Of(COverlayTrack& track) { return {kTrack, &track}; }
};

namespace NOverlayActions {
// "mark", "route", "track".
const char* KindName(COverlayRef::Kind kind);
// The entries of the object's menu, in order, and what each does.
struct Entry {
    std::string text;
    std::string icon;
    std::function<void()> action;
};
std::vector<Entry> MenuFor(const NV_HWND& hwnd, const COverlayRef& ref);
void ShowMenu(const NV_HWND& hwnd, const COverlayRef& ref);
// Asks first; deletes only on Yes.
void AskAndDelete(const NV_HWND& hwnd, const COverlayRef& ref);
// Writes the object as GPX into a temporary file and offers it to be saved; false when it
// could not be written (the user is told).
bool ExportGpx(const NV_HWND& hwnd, const std::vector<COverlayRef>& refs);
// The smallest area showing the object (a mark gets a little room round it).
bool BoundsOf(const COverlayRef& ref, CBounds& bounds);
void ShowOnMap(const COverlayRef& ref);
void Edit(const NV_HWND& hwnd, const COverlayRef& ref);
void SetVisible(const COverlayRef& ref, bool visible);
}  // namespace NOverlayActions

// The data of one editor page. Kind decides which fields the page shows; Apply writes
// them back into the object (or the template being edited).
class COverlayEditModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString kind READ kind CONSTANT)
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString name MEMBER m_name NOTIFY changed)
    Q_PROPERTY(QString notes MEMBER m_notes NOTIFY changed)
    Q_PROPERTY(QColor color MEMBER m_color NOTIFY changed)
    Q_PROPERTY(bool hasColor MEMBER m_hasColor NOTIFY changed)
    Q_PROPERTY(double lineWidth MEMBER m_width NOTIFY changed)
    Q_PROPERTY(int pattern MEMBER m_pattern NOTIFY changed)
    Q_PROPERTY(QStringList patternNames READ patternNames CONSTANT)
    Q_PROPERTY(QString icon MEMBER m_icon NOTIFY changed)
    Q_PROPERTY(QVariantList icons READ icons CONSTANT)
    Q_PROPERTY(int alarmType MEMBER m_alarmType NOTIFY changed)
    Q_PROPERTY(double alarmRadius MEMBER m_alarmRadius NOTIFY changed)
    Q_PROPERTY(QVariantList waypoints READ waypoints CONSTANT)
    Q_PROPERTY(QVariantList statistics READ statistics CONSTANT)
    Q_PROPERTY(QStringList colorChoices READ colorChoices CONSTANT)

public:
    // Alarm types of a mark, as the editor offers them.
    enum AlarmType { kNoAlarm = 0, kProximity = 1, kAnchor = 2 };

    COverlayEditModel(const COverlayRef& ref, QObject* parent = nullptr);
    // Editing a template (the default mark, route or track).
    COverlayEditModel(COverlayMark& mark, QObject* parent = nullptr);
    COverlayEditModel(COverlayRoute& route, QObject* parent = nullptr);
    COverlayEditModel(COverlayTrack& track, QObject* parent = nullptr);

    QString kind() const;
    QString title() const { return m_title; }
    QStringList patternNames() const;
    QVariantList icons() const;
    QVariantList waypoints() const { return m_waypoints; }
    QVariantList statistics() const { return m_stats; }
    QStringList colorChoices() const;

    // Writes the fields back; false when the object is gone.
    Q_INVOKABLE bool apply();

    // The radius of an anchor alarm's outer ring for an anchor circle of r metres: beyond
    // it the boat is not thought to have dragged but to be elsewhere (a new fix far off).
    static float AnchorOuterRadius(float r) { return 2 * r + 1000; }

Q_SIGNALS:
    void changed();

private:
    void LoadMark(COverlayMark& mark);
    void LoadRoute(COverlayRoute& route);
    void LoadTrack(COverlayTrack& track);
    COverlayMark* TargetMark() const;
    COverlayRoute* TargetRoute() const;
    COverlayTrack* TargetTrack() const;

    COverlayRef m_ref;
    COverlayMark* m_templateMark = nullptr;
    COverlayRoute* m_templateRoute = nullptr;
    COverlayTrack* m_templateTrack = nullptr;
    QString m_title;
    QString m_name;
    QString m_notes;
    QColor m_color;
    bool m_hasColor = true;
    double m_width = 2;
    int m_pattern = 0;
    QString m_icon;
    int m_alarmType = kNoAlarm;
    double m_alarmRadius = 0;
    QVariantList m_waypoints;
    QVariantList m_stats;
};

// A page of plain text (the alarm log).
class CTextPageModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString text READ text CONSTANT)
public:
    CTextPageModel(QString title, QString text, QObject* parent = nullptr)
        : QObject(parent), m_title(std::move(title)), m_text(std::move(text)) {}
    QString title() const { return m_title; }
    QString text() const { return m_text; }

private:
    QString m_title;
    QString m_text;
};

class COverlaysUi : public IMarkUi, public ITrackUi, public CQuickChartView::ITapCapture {
public:
    COverlaysUi();
    ~COverlaysUi() override;
    COverlaysUi(const COverlaysUi&) = delete;
    COverlaysUi& operator=(const COverlaysUi&) = delete;

    // Installed into the mark and track managers and the chart views; the last one made
    // is the one in use.
    static COverlaysUi* Instance();

    // IMarkUi
    bool MarkTapped(CQuickChartView* view, COverlayMark& mark) override;
    bool RouteTapped(CQuickChartView* view, COverlayRoute& route, const DblPoint& image) override;
    void ShowObjectMenu(const NV_HWND& hwnd, COverlayObject& object) override;
    void EditDefaultMark(const NV_HWND& hwnd) override;
    void EditDefaultRoute(const NV_HWND& hwnd) override;
    void StartRouteBuilding(const NV_HWND& hwnd, COverlayRoute& route) override;
    // ITrackUi
    bool TrackTapped(CQuickChartView* view, CTrackSection& section, const DblPoint& image) override;
    void ShowTrackMenu(const NV_HWND& hwnd, COverlayTrack& track) override;
    void EditDefaultTrack(const NV_HWND& hwnd) override;
    // Route building.
    bool MapTapped(CQuickChartView& view, double lat, double lon) override;
    bool IsBuildingRoute() const { return m_building != nullptr; }
    COverlayRoute* RouteBeingBuilt() const;
    // Ends route building (the Done button); a route of fewer than two points is dropped.
    void EndRouteBuilding();

    // "name, distance, bearing" of a mark from the boat (or just the name without a fix).
    static std::string MarkStatusText(const COverlayMark& mark, double fromLat, double fromLon);

    // The Overlays menu.
    static std::vector<NOverlayActions::Entry> OverlaysMenu(const NV_HWND& hwnd);
    // Asks, once after loading, what to do about a damaged marks, routes or tracks file.
    static void AskAboutDamagedFiles();
    static std::string AlarmLogText(const std::string& path, size_t maxLines = 500);

private:
    const COverlayRoute* m_building = nullptr;
};
