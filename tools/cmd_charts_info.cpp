// SPDX-License-Identifier: GPL-3.0-or-later
// Chart inspection commands: header and outline as JSON, pixels as PNG, coordinates.
#include <QCoreApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <memory>

#include "charts/qct.h"
#include "tools/tool_command.h"

namespace {

// Shows refusals on stderr: the tool has no dialogs.
class StderrUi : public IUiServices {
public:
    StderrUi() { SetUiServices(this); }
    ~StderrUi() override { SetUiServices(nullptr); }
    void ShowMessage(const NV_HWND&, const std::string&, const std::string& text, const std::vector<std::string>&,
                     std::function<void(int)> done) override {
        std::fprintf(stderr, "%s\n", text.c_str());
        if (done) done(0);
    }
    void SetStatusMessage(const std::string&) override {}
    void ShowSystemNotification(const std::string&, const std::string&, const std::string&) override {}
    void CancelSystemNotification(const std::string&) override {}
    void ShowProgress(const NV_HWND&, std::shared_ptr<CProgressDialogData>) override {}
};

// Opens through the shared table and waits for the callback, whether it runs at once or
// from the event loop. Null when the chart is unusable (the reason is already printed).
CQuickChart* OpenForTool(const std::string& path) {
    CQuickChart* chart = nullptr;
    bool done = false, ok = false;
    CQuickChart::Create(NV_HWND(), path, [&](CQuickChart* c, bool good) {
        chart = c;
        ok = good;
        done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!ok) {
        if (chart) chart->Destroy();
        if (!chart) std::fprintf(stderr, "Cannot open \"%s\"\n", path.c_str());
        return nullptr;
    }
    return chart;
}

QJsonValue Str(const std::string& s) { return QJsonValue(QString::fromStdString(s)); }

int Info(const QStringList& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: qct-info FILE\n");
        return 2;
    }
    StderrUi ui;
    CQuickChart* c = OpenForTool(args[0].toStdString());
    if (!c) return 1;
    QJsonObject o;
    auto* c3 = dynamic_cast<CQuickChart3*>(c);
    o["variant"] = c3 ? "chunked" : "single";
    o["version"] = QString::asprintf("0x%08X", c->Version());
    o["width_tiles"] = c->TilesWide();
    o["height_tiles"] = c->TilesHigh();
    o["title"] = Str(c->GetTitle());
    o["name"] = Str(c->GetHeaderStringField(qct::header::kName));
    o["identifier"] = Str(c->GetHeaderStringField(qct::header::kIdentifier));
    o["edition"] = Str(c->GetHeaderStringField(qct::header::kEdition));
    o["revision"] = Str(c->GetHeaderStringField(qct::header::kRevision));
    o["copyright"] = Str(c->GetCopyright());
    o["scale_text"] = Str(c->GetHeaderStringField(qct::header::kScaleText));
    o["map_type"] = Str(c->GetMapType());
    o["depth_units"] = Str(c->GetHeaderStringField(qct::header::kDepthUnits));
    o["height_units"] = Str(c->GetHeaderStringField(qct::header::kHeightUnits));
    o["flags"] = static_cast<qint64>(c->Flags());
    o["scale_nm_per_pixel"] = c->get_scale(0.5 * c->Width(), 0.5 * c->Height());
    if (c->HasDatumShift()) o["datum_shift"] = QJsonArray{c->DatumShiftLat(), c->DatumShiftLon()};
    else o["datum_shift"] = QJsonValue::Null;
    CPolygon poly;
    c->getBoundaryPolygon(poly);
    QJsonArray outline;
    for (const Vertex& v : poly.vertices) outline.append(QJsonArray{v.x, v.y});
    o["outline"] = outline;
    if (c3) {
        CQuickChart::CChunkFile* f = c3->ChunkFile();
        QJsonObject chunks;
        if (f && f->HasHeader()) {
            int present = 0, blank = 0, absent = 0;
            for (int cy = 0; cy < f->Rows(); ++cy)
                for (int cx = 0; cx < f->Columns(); ++cx) {
                    const int64_t v = f->ReadOffset(cy, cx);
                    if (v == 0) ++absent;
                    else if (v == -1) ++blank;
                    else ++present;
                }
            chunks["columns"] = f->Columns();
            chunks["rows"] = f->Rows();
            chunks["present"] = present;
            chunks["blank"] = blank;
            chunks["absent"] = absent;
            o["chunks"] = chunks;
        } else {
            o["chunks"] = QJsonValue::Null;
        }
    }
    std::printf("%s", QJsonDocument(o).toJson(QJsonDocument::Indented).constData());
    c->Destroy();
    return 0;
}

int Render(const QStringList& a) {
    ToolArgs args(a);
    int zoom = 0, x = 0, y = 0, w = 0, h = 0;
    bool okz = ParseInt(args.TakeOption("--zoom"), zoom), okx = ParseInt(args.TakeOption("--x"), x),
         oky = ParseInt(args.TakeOption("--y"), y), okw = ParseInt(args.TakeOption("--width"), w),
         okh = ParseInt(args.TakeOption("--height"), h);
    const QString out = args.TakeOption("-o");
    if (args.HasError() || !okz || !okx || !oky || !okw || !okh || out.isEmpty() || args.Rest().size() != 1 ||
        w <= 0 || h <= 0 || w > 16384 || h > 16384 || zoom < -8 || zoom > 6) {
        std::fprintf(stderr, "usage: qct-render FILE --zoom Z --x X --y Y --width W --height H -o OUT.png\n");
        return 2;
    }
    StderrUi ui;
    CQuickChart* c = OpenForTool(args.Rest()[0].toStdString());
    if (!c) return 1;
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(0);
    ThreadDataForRead td;
    const int r = c->ReadRectRGB(x, y, w, h, static_cast<int>(img.bytesPerLine() / 4), zoom,
                                 reinterpret_cast<unsigned int*>(img.bits()), &td);
    c->Destroy();
    if (r != 0) {
        std::fprintf(stderr, "The chart could not deliver its tiles\n");
        return 1;
    }
    if (!img.save(out, "PNG")) {
        std::fprintf(stderr, "Cannot write \"%s\"\n", qPrintable(out));
        return 1;
    }
    return 0;
}

int Geo(const QStringList& a) {
    ToolArgs args(a);
    bool to_pixel = false, to_latlon = false, scale = false;
    const QStringList p = args.TakeOption("--to-pixel", 2, &to_pixel);
    const QStringList l = args.TakeOption("--to-latlon", 2, &to_latlon);
    const QStringList s = args.TakeOption("--scale", 2, &scale);
    double u = 0, v = 0;
    const QStringList& vals = to_pixel ? p : to_latlon ? l : s;
    if (args.HasError() || int(to_pixel) + int(to_latlon) + int(scale) != 1 || args.Rest().size() != 1 ||
        !ParseDouble(vals[0], u) || !ParseDouble(vals[1], v)) {
        std::fprintf(stderr, "usage: qct-geo FILE --to-pixel LAT LON | --to-latlon X Y | --scale X Y\n");
        return 2;
    }
    StderrUi ui;
    CQuickChart* c = OpenForTool(args.Rest()[0].toStdString());
    if (!c) return 1;
    if (to_pixel) {
        double x, y;
        c->latlong_to_xy(u, v, x, y);
        std::printf("%.17g %.17g\n", x, y);
    } else if (to_latlon) {
        double lat, lon;
        c->xy_to_latlong(u, v, lat, lon);
        std::printf("%.17g %.17g\n", lat, lon);
    } else {
        std::printf("%.17g\n", c->get_scale(u, v));
    }
    c->Destroy();
    return 0;
}

ToolCommandRegistry::Registrar regInfo({"qct-info", "FILE",
                                         "Chart header, metadata, scale, datum shift, outline [lon, lat] and chunk "
                                         "counts as JSON; refusals on stderr with a non-zero exit",
                                         Info});
ToolCommandRegistry::Registrar regRender({"qct-render", "FILE --zoom Z --x X --y Y --width W --height H -o OUT.png",
                                           "Renders W x H output pixels from image pixel (X, Y) at zoom Z (-8..6; "
                                           "negative magnifies) as a PNG",
                                           Render});
ToolCommandRegistry::Registrar regGeo({"qct-geo", "FILE --to-pixel LAT LON | --to-latlon X Y | --scale X Y",
                                        "Converts between chart pixels and latitude/longitude, or prints the scale "
                                        "in nautical miles per pixel (full precision)",
                                        Geo});

}  // namespace
