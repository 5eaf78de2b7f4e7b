// SPDX-License-Identifier: GPL-3.0-or-later
// Golden images of the renderer. Each folder of tests/data/render holds view.json (which
// charts, where, at which zoom and size) and expected.png. The view is drawn by
// "navora-tool render-view", as a person would draw it, and must match pixel for pixel.
//
// The charts are the built-in ones (made at build time) or charts this test writes with
// our own writer in each tile encoding and in the chunked variant.
//
// NAVORA_UPDATE_GOLDEN=1 rewrites expected.png from what is drawn now; look at every
// rewritten image before committing it.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

#include "charts/qct_writer.h"

namespace {

const QString kCasesDir = QStringLiteral(NAVORA_TEST_DATA_DIR "/render");
const QString kTool = QStringLiteral(NAVORA_BINARY_DIR "/tools/navora-tool");
const QString kBuiltinDir = QStringLiteral(NAVORA_BINARY_DIR "/builtin");

// A harbour approach in 24 colours: deepening bands of sea (one-colour tiles among them),
// a coast with a drying edge, a grid, and scattered soundings, so that every tile
// encoding gets tiles it can hold and a misplaced pixel shows.
std::vector<uint8_t> HarbourPicture(int w, int h) {
    std::vector<uint8_t> px(size_t(w) * h);
    uint32_t seed = 7;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245 + 12345;
            const double coast = 0.55 * w + 0.18 * w * std::sin(y * 0.009) + 0.02 * w * std::sin(y * 0.047);
            uint8_t c;
            if (x > coast + 6) {
                c = uint8_t(10 + (int(x - coast) / 37 + y / 53) % 4);  // land
            } else if (x > coast) {
                c = 9;  // drying
            } else {
                c = uint8_t(1 + std::min(5, int(coast - x) / 48));  // depth bands
            }
            if (x % 128 == 0 || y % 128 == 0) c = 16;
            if (x <= coast && (seed >> 16) % 97 == 0) c = uint8_t(17 + (seed >> 8) % 7);
            px[size_t(y) * w + x] = c;
        }
    return px;
}

std::vector<uint32_t> HarbourPalette() {
    std::vector<uint32_t> pal(24, 0x000000);
    for (int i = 1; i <= 6; ++i) pal[size_t(i)] = uint32_t(0xE0 - 24 * i) << 16 | uint32_t(0xF0 - 14 * i) << 8 | 0xFF;
    pal[9] = 0x9CC9A0;                                                                       // drying
    for (int i = 10; i <= 13; ++i) pal[size_t(i)] = 0xF2E2B0 - uint32_t(i - 10) * 0x0A0A10;  // land
    pal[16] = 0x5A6E8C;                                                                      // grid
    for (int i = 17; i <= 23; ++i) pal[size_t(i)] = uint32_t(i * 5) << 16 | uint32_t(i * 3) << 8 | uint32_t(60 + i * 4);
    return pal;
}

bool WriteHarbourChart(const QString& dir, const QString& variant, const QString& encoding, std::string& error) {
    static const std::map<QString, TileEncoding> kEncodings = {{"mixed", TileEncoding::Auto},
                                                               {"run-length", TileEncoding::RunLength},
                                                               {"pixel-packed", TileEncoding::PixelPacked},
                                                               {"huffman", TileEncoding::Huffman}};
    const int w = 1400, h = 1100;  // two chunks by two in the chunked variant, partly filled
    CQctWriter writer;
    writer.SetIndexedImage(w, h, HarbourPicture(w, h), HarbourPalette());
    writer.SetGeorefFromCorners(50.6, 50.0, -1.6, -0.6);
    writer.Meta().name = QStringLiteral("Harbour");
    writer.Meta().map_type = QStringLiteral("Topo");
    const std::string path = (dir + QStringLiteral("/harbour.qct")).toStdString();
    if (variant == QLatin1String("chunked")) return writer.WriteChunked(path, &error);
    const auto it = kEncodings.find(encoding);
    if (it == kEncodings.end()) {
        error = "unknown encoding " + encoding.toStdString();
        return false;
    }
    writer.ForceEncoding(it->second);
    return writer.WriteSingleFile(path, &error);
}

int DifferentPixels(const QImage& a, const QImage& b, QPoint& first) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) | 0xFF000000u) != (b.pixel(x, y) | 0xFF000000u) && n++ == 0) first = QPoint(x, y);
    return n;
}

class RenderGolden : public ::testing::TestWithParam<std::string> {};

std::vector<std::string> Cases() {
    std::vector<std::string> cases;
    for (const QString& name : QDir(kCasesDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        cases.push_back(name.toStdString());
    return cases;
}

}  // namespace

TEST_P(RenderGolden, DrawsTheExpectedImage) {
    const QString name = QString::fromStdString(GetParam());
    const QString caseDir = kCasesDir + QLatin1Char('/') + name;
    QFile viewFile(caseDir + QStringLiteral("/view.json"));
    ASSERT_TRUE(viewFile.open(QIODevice::ReadOnly)) << viewFile.fileName().toStdString();
    const QJsonObject view = QJsonDocument::fromJson(viewFile.readAll()).object();

    QTemporaryDir work;
    QString charts;
    const QJsonValue source = view.value(QStringLiteral("charts"));
    if (source.isString() && source.toString() == QLatin1String("builtin")) {
        if (!QFile::exists(kBuiltinDir + QStringLiteral("/world_basemap.qct")))
            GTEST_SKIP() << "the built-in charts are not built (target builtin_charts)";
        charts = kBuiltinDir;
    } else {
        const QJsonObject made = source.toObject();
        std::string error;
        ASSERT_TRUE(WriteHarbourChart(work.path(), made.value(QStringLiteral("variant")).toString(),
                                      made.value(QStringLiteral("encoding")).toString(), error))
            << error;
        charts = work.path();
    }

    const QString drawn = work.path() + QStringLiteral("/drawn.png");
    QProcess tool;
    tool.start(kTool, {QStringLiteral("render-view"), QStringLiteral("--charts"), charts, QStringLiteral("--lat"),
                       QString::number(view.value(QStringLiteral("lat")).toDouble(), 'g', 12), QStringLiteral("--lon"),
                       QString::number(view.value(QStringLiteral("lon")).toDouble(), 'g', 12), QStringLiteral("--zoom"),
                       QString::number(view.value(QStringLiteral("zoom")).toInt()), QStringLiteral("--size"),
                       view.value(QStringLiteral("size")).toString(), QStringLiteral("-o"), drawn});
    ASSERT_TRUE(tool.waitForFinished(60000)) << "navora-tool did not finish";
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    const QImage image = QImage(drawn).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(image.isNull());

    const QString expectedPath = caseDir + QStringLiteral("/expected.png");
    if (qEnvironmentVariableIntValue("NAVORA_UPDATE_GOLDEN") == 1) {
        ASSERT_TRUE(image.save(expectedPath, "PNG", 9));
        std::printf("rewrote %s: look at it before committing\n", qPrintable(expectedPath));
        return;
    }
    const QImage expected = QImage(expectedPath).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(expected.isNull()) << "no " << expectedPath.toStdString() << " (NAVORA_UPDATE_GOLDEN=1 makes it)";
    ASSERT_EQ(image.size(), expected.size());
    QPoint first;
    const int differ = DifferentPixels(image, expected, first);
    if (differ != 0) {
        const QString kept = QStringLiteral(NAVORA_BINARY_DIR "/golden-diff-") + name + QStringLiteral(".png");
        image.save(kept);
        ADD_FAILURE() << differ << " pixels differ, the first at " << first.x() << "," << first.y()
                      << "; the drawn image is " << kept.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RenderGolden, ::testing::ValuesIn(Cases()), [](const auto& info) {
    std::string name = info.param;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});
