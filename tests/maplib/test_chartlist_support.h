// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small charts for catalogue tests, made with our own writer. Each is one 64 x 64 tile
// with a plain linear georeferencing, so that its scale is exactly what the test asks for.

#include <fcntl.h>
#include <sys/stat.h>

#include <QDir>
#include <QString>

#include <array>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "charts/qct_writer.h"

struct TestChart {
    double north = 10;  // top-left corner
    double west = 10;
    double scale = 1;  // nautical miles per pixel: 64 pixels span 64 * scale / 60 degrees
    std::string type = "Topo";
    std::string name;
    std::string revision;
    std::string edition;
    std::vector<std::pair<double, double>> outline;  // (latitude, longitude)
    uint32_t magic = 0x1423D5FF;
    uint32_t version = 4;
    bool keep_version = false;
    bool chunked = false;
    bool datum_shift = false;
    double shift_lat = 0, shift_lon = 0;
    uint32_t flags = 0;

    double Span() const { return 64 * scale / 60; }
    double CentreLat() const { return north - Span() / 2; }
    double CentreLon() const { return west + Span() / 2; }
};

inline std::array<double, 40> LinearGeoref(double north, double west, double degrees_per_pixel) {
    std::array<double, 40> c{};
    const double k = degrees_per_pixel;
    c[0] = -west / k;  // x(lat, lon) = (lon - west) / k
    c[2] = 1 / k;
    c[10] = north / k;  // y(lat, lon) = (north - lat) / k
    c[11] = -1 / k;
    c[20] = north;  // lat(x, y) = north - k y
    c[22] = -k;
    c[30] = west;  // lon(x, y) = west + k x
    c[31] = k;
    return c;
}

inline bool WriteTestChart(const std::string& path, const TestChart& t) {
    QDir().mkpath(QString::fromStdString(path.substr(0, path.find_last_of('/'))));
    CQctWriter w;
    std::vector<uint8_t> pixels(64 * 64, 0);
    for (size_t i = 0; i < pixels.size(); i += 7) pixels[i] = 1;
    if (!w.SetIndexedImage(64, 64, pixels, {0x102030, 0xF0E0D0})) return false;
    w.SetGeoref(LinearGeoref(t.north, t.west, t.scale / 60));
    QctMetadata& m = w.Meta();
    m.name = QString::fromStdString(t.name);
    m.title = QStringLiteral("Title");
    m.map_type = QString::fromStdString(t.type);
    m.revision = QString::fromStdString(t.revision);
    m.edition = QString::fromStdString(t.edition);
    m.outline = t.outline;
    m.magic = t.magic;
    m.version = t.version;
    m.keep_version_high_byte = t.keep_version;
    m.has_datum_shift = t.datum_shift;
    m.datum_shift_lat = t.shift_lat;
    m.datum_shift_lon = t.shift_lon;
    m.flags = t.flags;
    std::string error;
    const bool ok = t.chunked ? w.WriteChunked(path, &error) : w.WriteSingleFile(path, &error);
    EXPECT_TRUE(ok) << path << ": " << error;
    return ok;
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Sets a file's modification time (seconds since the epoch).
inline void SetModificationTime(const std::string& path, long seconds) {
    struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}
