// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The overlay list: every mark, route and track in three sections, each row with its
// icon or colour, name and a short detail (how far a mark is from the boat, a route's
// length, a track's length and date). Rows can be shown or hidden on the map, tapped to
// centre the largest map on them, and opened into the object's menu. The QML side is
// "OverlayList.qml", whose `model` is this object. The list follows every change of the
// objects (edits, imports, recording) a moment after it happens.
//
// GUI thread only.

#include <QObject>
#include <QVariantList>

#include <string>
#include <vector>

#include "app/overlays_ui.h"
#include "core/pubsub.h"
#include "overlays/overlayobject.h"

class CTrackManager;

class COverlayListModel : public QObject, private Listener<COverlayObject>, private Listener<CTrackManager> {
    Q_OBJECT
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QVariantList rows READ rows NOTIFY listChanged)
    Q_PROPERTY(int selectedCount READ selectedCount NOTIFY listChanged)

public:
    struct Row {
        COverlayRef ref;
        std::string section;  // "Marks", "Routes", "Tracks"
        std::string name;
        std::string detail;
        std::string icon;  // a resource or file URL of the mark's icon; empty for lines
        GraphicsColor color;
        bool visible = true;
        bool active = false;  // navigating to it, following it, recording into it
        bool selected = false;
    };

    explicit COverlayListModel(QObject* parent = nullptr);
    ~COverlayListModel() override;

    QString title() const { return QStringLiteral("Overlays"); }
    QVariantList rows() const;
    int selectedCount() const;
    const std::vector<Row>& Rows() const { return m_rows; }
    void SetHwnd(const NV_HWND& hwnd) { m_hwnd = hwnd; }

    Q_INVOKABLE void refresh();
    Q_INVOKABLE void setVisible(int row, bool visible);
    Q_INVOKABLE void setSelected(int row, bool selected);
    Q_INVOKABLE void showOnMap(int row);
    Q_INVOKABLE void showMenu(int row);
    Q_INVOKABLE void exportSelected();

    // Opens the list as a popup over the window of `anchor`.
    static QObject* Show(QQuickItem* anchor);

Q_SIGNALS:
    void listChanged();
    // Asks the page to close (the map is to be seen).
    void closeRequested();

private:
    void OnUpdate(COverlayObject& object) override;
    void OnUpdate(CTrackManager& manager) override;
    void ScheduleRefresh();
    bool Valid(int row) const { return row >= 0 && size_t(row) < m_rows.size(); }

    std::vector<Row> m_rows;
    NV_HWND m_hwnd;
    bool m_refreshPending = false;
};
