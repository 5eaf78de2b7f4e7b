// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Painted items that show a chart or overlays outside the display pages: a chart image
// in a dialog or behind a profile (MapImagePainter, MapImagePainter2, the latter also
// placed by latitude and longitude and storable), and the user's marks, routes and
// tracks drawn over any picture through a transform (OverlayPainter).
//
// GUI thread, except paint(): the charts decode on the renderer's worker threads, the
// painters pick the results up from a coarse 100 ms timer and in QtQuick's polish step,
// and paint() only draws the frame made there.

#include <QColor>
#include <QPointF>
#include <QQuickPaintedItem>
#include <QString>
#include <QTimer>
#include <QTransform>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "charts/cached_chart.h"
#include "charts/georef.h"
#include "core/geometry.h"
#include "core/pubsub.h"
#include "core/serializable.h"
#include "overlays/overlayobject.h"

Q_DECLARE_METATYPE(CPolynomialProjection)

// A chart at a power-of-two zoom, from an offset in chart pixels.
class MapImagePainter : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QPointF offset READ offset WRITE setOffset NOTIFY viewChanged)
    Q_PROPERTY(int zoomLevel READ zoomLevel WRITE setZoomLevel NOTIFY viewChanged)
    Q_PROPERTY(double zoomFactor READ zoomFactor NOTIFY viewChanged)
    Q_PROPERTY(bool isOpen READ isOpen NOTIFY openChanged)

public:
    static constexpr int kMinLevel = -2;
    static constexpr int kMaxLevel = 8;
    static constexpr int kTimerMs = 100;

    explicit MapImagePainter(QQuickItem* parent = nullptr);
    ~MapImagePainter() override;

    void paint(QPainter* painter) override;

    // Opens a chart; `done` gets whether it opened.
    void openMap(const std::string& path, std::function<void(bool)> done);
    Q_INVOKABLE void openMap(const QString& path);
    Q_INVOKABLE void closeMap();

    QPointF offset() const { return m_offset; }
    void setOffset(const QPointF& offset);
    int zoomLevel() const { return m_level; }
    void setZoomLevel(int level);
    double zoomFactor() const { return m_factor; }
    bool isOpen() const { return m_chart.IsOpen(); }
    // 2^level, kept with the level.
    void setZoomFactor();
    // Where the painter's origin lands in chart pixels: the offset snapped down to the
    // zoom factor, so that reduced charts fall on whole output pixels.
    FPoint DrawOrigin() const;

Q_SIGNALS:
    void viewChanged();
    void openChanged();
    void opened(bool ok);

protected:
    void updatePolish() override;
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    void onTimer();
    // GUI thread: the renderer makes the frame paint() draws.
    void PrepareFrame();
    // A new frame is wanted: PrepareFrame in the polish step, then paint.
    void Refresh();

    CCachedQuickChart m_chart;
    QTimer m_timer;
    QPointF m_offset;
    int m_level = 0;
    double m_factor = 1.0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

// A chart placed by latitude and longitude, zoomed by any power of two, that remembers
// which chart and where it showed.
class MapImagePainter2 : public QQuickPaintedItem, public CSerializable {
    Q_OBJECT
    Q_PROPERTY(bool opaquePainting READ opaquePainting WRITE setOpaquePainting NOTIFY viewChanged)
    Q_PROPERTY(QColor fillColor READ fillColor WRITE setFillColor NOTIFY viewChanged)
    Q_PROPERTY(QPointF offset READ offset WRITE setOffset NOTIFY viewChanged)
    Q_PROPERTY(int zoomLevel READ zoomLevel NOTIFY viewChanged)
    Q_PROPERTY(double factor READ factor NOTIFY viewChanged)
    Q_PROPERTY(QString chartPath READ chartPath NOTIFY openChanged)
    Q_PROPERTY(double latitude READ latitude NOTIFY viewChanged)
    Q_PROPERTY(double longitude READ longitude NOTIFY viewChanged)
    Q_PROPERTY(double scale READ viewScale NOTIFY viewChanged)

public:
    static constexpr uint32_t kStateMagic = 0x7E5772CB;
    static constexpr double kNoPosition = 999.0;
    static constexpr double kMinFactor = 0.25;
    static constexpr double kMaxFactor = 256.0;
    static constexpr int kTimerMs = 100;

    explicit MapImagePainter2(QQuickItem* parent = nullptr);
    ~MapImagePainter2() override;

    void paint(QPainter* painter) override;
    bool Serialize(IOStream& s) override;

    void openMap(const std::string& path, std::function<void(bool)> done);
    Q_INVOKABLE void closeMap();
    // The catalogue's best chart for the stored position and scale.
    Q_INVOKABLE void OpenBestMap();
    // After a chart opened: the projection again, and the stored position and scale.
    Q_INVOKABLE void SetCurrentMapView();
    // Records chart path, the position at the offset and the scale there x factor.
    Q_INVOKABLE void GetCurrentMapView();
    Q_INVOKABLE void increaseZoomLevel(QPointF point);
    Q_INVOKABLE void decreaseZoomLevel(QPointF point);
    Q_INVOKABLE void DoScroll(QPointF delta);
    Q_INVOKABLE void moveToLatLong(double lat, double lon, QPointF point);
    // Puts the view at a position and scale before a chart is chosen.
    void SetView(double lat, double lon, double scale);

    bool opaquePainting() const { return m_opaque; }
    void setOpaquePainting(bool on);
    QColor fillColor() const { return m_fill; }
    void setFillColor(const QColor& c);
    QPointF offset() const { return m_offset; }
    void setOffset(const QPointF& offset);
    int zoomLevel() const { return m_level; }
    double factor() const { return m_factor; }
    QString chartPath() const { return QString::fromStdString(m_path); }
    double latitude() const { return m_lat; }
    double longitude() const { return m_lon; }
    double viewScale() const { return m_scale; }
    const CPolynomialProjection& Projection() const { return m_proj; }
    bool IsOpen() const { return m_chart.IsOpen(); }
    // The chart origin the paint uses, in chart pixels.
    FPoint DrawOrigin() const;

Q_SIGNALS:
    void viewChanged();
    void openChanged();
    void opened(bool ok);
    void projChanged(CPolynomialProjection proj);

protected:
    void updatePolish() override;
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    void ZoomAbout(double newFactor, QPointF point);
    void onTimer();
    // GUI thread: the renderer makes the frame paint() draws.
    void PrepareFrame();
    // A new frame is wanted: PrepareFrame in the polish step, then paint.
    void Refresh();

    CCachedQuickChart m_chart;
    QTimer m_timer;
    bool m_opaque = true;
    QColor m_fill = QColor(0xE8, 0xE8, 0xE8);
    QPointF m_offset;  // chart pixels at the item's top-left
    int m_level = 0;
    double m_factor = 1.0;  // chart pixels per device pixel
    CPolynomialProjection m_proj;
    std::string m_path;
    double m_lat = kNoPosition;
    double m_lon = kNoPosition;
    double m_scale = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

// The user's marks, routes and tracks over a picture whose pixels are those of a
// projection (a chart image drawn by one of the painters above).
class OverlayPainter : public QQuickPaintedItem, public Listener<COverlayObject> {
    Q_OBJECT

public:
    static constexpr int kMaxPerFrame = 20000;


    explicit OverlayPainter(QQuickItem* parent = nullptr);
    ~OverlayPainter() override;

    void paint(QPainter* painter) override;
    void OnUpdate(COverlayObject& object) override;

    Q_INVOKABLE void setProj(CPolynomialProjection proj);
    // Image pixels to item pixels (device-independent).
    Q_INVOKABLE void setTransform(QTransform transform);
    // The image rectangle worth drawing (x = left..right, y = top..bottom).
    void setBounds(CBounds imBounds);

    size_t MappingCount() const { return m_mappings.size(); }
    // Objects drawn by the last paint.
    int LastDrawn() const { return m_lastDrawn; }

private:
    void Remap(COverlayObject::CMapping& mapping) const;

    std::map<uint32_t, COverlayObject::CMapping> m_mappings;
    CPolynomialProjection m_proj;
    QTransform m_transform;
    FRect m_visible{-1e9, -1e9, 1e9, 1e9};
    int m_lastDrawn = 0;
};
