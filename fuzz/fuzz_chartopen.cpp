// SPDX-License-Identifier: GPL-3.0-or-later
// Opens arbitrary bytes as a chart, then reads a few tiles and a rectangle at several zooms.
#include <QCoreApplication>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "charts/qct.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/fuzz_chartopen_" + std::to_string(::getpid()) + ".qct";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    CQuickChart* chart = nullptr;
    CQuickChart::CreateNew(NV_HWND(), path, [&](CQuickChart* c, bool ok) {
        if (ok)
            chart = c;
        else
            delete c;
    });
    if (!chart) return 0;
    ThreadDataForRead td;
    unsigned char tile[4096];
    for (int i = 0; i < 4; ++i) chart->ReadBlock(i, i / 2, i & 3, tile, &td);
    std::vector<unsigned int> out(128 * 128);
    for (int z = -2; z <= 3; ++z) chart->ReadRectRGB(0, 0, 128, 128, 128, z, out.data(), &td);
    std::string s = chart->GetTitle();
    CPolygon poly;
    chart->getBoundaryPolygon(poly);
    chart->doesContain(50, -1);
    POINT p;
    chart->latlong_to_xy(50, -1, p);
    delete chart;
    return 0;
}
