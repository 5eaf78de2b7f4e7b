// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A chunked chart as a chunk server and a device see it: the complete chart (the
// reference), the server's copy of its chunk file under "/mapchunks/", and the chart file
// alone on the device, its chunk store still to come.

#include <QDir>
#include <QFile>
#include <QString>

#include <functional>
#include <string>

#include "charts/qct_writer.h"
#include "test_qct_helpers.h"

namespace onlinetest {

// Noisy enough that chunks need several thousand words per level.
inline void Fill(CQctWriter& w, int width, int height) {
    qcttest::PictureStyle st{7, 9, 14, 7, 30, 3, 60, 60};
    w.SetIndexedImage(width, height, qcttest::NoisyPicture(width, height, st), qcttest::Palette128());
    w.SetGeorefFromCorners(51, 50, -2, -1);
}

struct ChartSet {
    QString reference;  // complete chart: <dir>/full/NAME.qct
    QString local;      // <dir>/local/NAME.qct, no chunk store
    QString server;     // <dir>/server/mapchunks/NAME.qc3
};

// `server_plan` shapes the server's copy (blank chunks, …); `local_plan`, when set, gives
// the device a chunk store of its own.
inline bool MakeChartSet(const QString& dir, const std::string& name, int width, int height, ChartSet& out,
                         std::function<ChunkPlan(int, int)> server_plan = {},
                         std::function<ChunkPlan(int, int)> local_plan = {}) {
    const QString qname = QString::fromStdString(name);
    for (const char* sub : {"full", "local", "server/mapchunks", "serverchart"}) QDir().mkpath(dir + "/" + sub);
    out.reference = dir + "/full/" + qname + ".qct";
    out.local = dir + "/local/" + qname + ".qct";
    out.server = dir + "/server/mapchunks/" + qname + ".qc3";
    CQctWriter w;
    Fill(w, width, height);
    if (!w.WriteChunked(out.reference.toStdString())) return false;
    std::string source = (dir + "/full/" + qname + ".qc3/0").toStdString();
    if (server_plan) {
        CQctWriter s;
        Fill(s, width, height);
        s.SetChunkPlan(server_plan);
        const QString p = dir + "/serverchart/" + qname + ".qct";
        if (!s.WriteChunked(p.toStdString())) return false;
        source = (dir + "/serverchart/" + qname + ".qc3/0").toStdString();
    }
    if (!QFile::copy(QString::fromStdString(source), out.server)) return false;
    if (local_plan) {
        CQctWriter l;
        Fill(l, width, height);
        l.SetChunkPlan(local_plan);
        return l.WriteChunked(out.local.toStdString());
    }
    return QFile::copy(out.reference, out.local);
}

inline EncodedChunk EncodeChunkOf(int width, int height, int cx, int cy) {
    CQctWriter w;
    Fill(w, width, height);
    std::vector<uint8_t> chunk(qct::kChunkBytes, 0);
    const size_t pw = size_t(w.TilesWide()) * qct::kTileSide, ph = size_t(w.TilesHigh()) * qct::kTileSide;
    for (size_t r = 0; r < size_t(qct::kChunkSide); ++r) {
        const size_t y = size_t(cy) * qct::kChunkSide + r, x0 = size_t(cx) * qct::kChunkSide;
        if (y >= ph) break;
        std::memcpy(chunk.data() + r * qct::kChunkSide, w.Indices().data() + y * pw + x0,
                    std::min<size_t>(qct::kChunkSide, pw - x0));
    }
    return CQctWriter::EncodeChunk(chunk.data());
}

}  // namespace onlinetest
