// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The map settings as the user sees them (the "Map Options" settings page and the map
// item's "Map Settings" menu): the shared settings of every chart view. Each change is
// written to the settings file at once. The QML side is "MapSettings.qml", whose `model`
// is this object. GUI thread only.

#include <QColor>
#include <QObject>

#include <functional>

#include "core/uiservices.h"

class CDlg_map_settings : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(bool fullScreen READ fullScreen WRITE setFullScreen NOTIFY settingsChanged)
    Q_PROPERTY(bool changeScaleByZooming READ changeScaleByZooming WRITE setChangeScaleByZooming NOTIFY settingsChanged)
    Q_PROPERTY(bool showScaleBar READ showScaleBar WRITE setShowScaleBar NOTIFY settingsChanged)
    Q_PROPERTY(QColor scaleBarColor READ scaleBarColor WRITE setScaleBarColor NOTIFY settingsChanged)
    Q_PROPERTY(bool automaticDownload READ automaticDownload WRITE setAutomaticDownload NOTIFY settingsChanged)

public:
    // The name of the settings page.
    static constexpr const char* kPageName = "Map Options";

    explicit CDlg_map_settings(QObject* parent = nullptr);

    QString title() const { return QString::fromUtf8(kPageName); }
    bool fullScreen() const;
    void setFullScreen(bool on);
    bool changeScaleByZooming() const;
    void setChangeScaleByZooming(bool on);
    bool showScaleBar() const;
    void setShowScaleBar(bool on);
    QColor scaleBarColor() const;
    void setScaleBarColor(const QColor& colour);
    bool automaticDownload() const;
    void setAutomaticDownload(bool on);

    // Shows MapSettings.qml in a popup in the window of `hwnd`'s item, with that item's
    // engine. Null when there is no such window.
    static QObject* Show(const NV_HWND& hwnd);

Q_SIGNALS:
    void settingsChanged();

private:
    void Saved();
};
