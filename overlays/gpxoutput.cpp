// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/gpxoutput.h"

#include <cerrno>
#include <cstring>

#include "core/apppaths.h"
#include "overlays/markmanager.h"
#include "overlays/overlaymark.h"
#include "overlays/overlayroute.h"
#include "overlays/track.h"
#include "overlays/trackmanager.h"

#ifndef NAVORA_VERSION
#define NAVORA_VERSION ""
#endif

CGPXOutput::CGPXOutput(const std::string& path) : m_path(path), m_tmp(path + ".tmp") {
    m_file = std::fopen(m_tmp.c_str(), "w");
    if (!m_file) {
        m_error = std::strerror(errno);
        return;
    }
    std::setvbuf(m_file, nullptr, _IOFBF, 1 << 16);
    m_ok = true;
    std::string creator = kCreator;
    if (*NAVORA_VERSION) creator += std::string(" ") + NAVORA_VERSION;
    creator += std::string(" ") + kWebAddress;
    const int n = std::fprintf(
        m_file,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"%s\"\n"
        " xmlns=\"http://www.topografix.com/GPX/1/1\"\n"
        " xmlns:xstyle=\"%s\"\n"
        " xmlns:xgarmin=\"%s\"\n"
        " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
        " xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd "
        "%s http://www.topografix.com/GPX/gpx_style/0/2/gpx_style.xsd "
        "%s http://www8.garmin.com/xmlschemas/GpxExtensionsv3.xsd\">\n",
        creator.c_str(), kStyleNamespace, kGarminNamespace, kStyleNamespace, kGarminNamespace);
    if (n <= 0) m_ok = false;
}

CGPXOutput::~CGPXOutput() {
    Close();
}

bool CGPXOutput::Close() {
    if (m_closed) return m_ok;
    m_closed = true;
    if (!m_file) return false;
    if (std::fputs("</gpx>\n", m_file) < 0) m_ok = false;
    if (std::ferror(m_file)) m_ok = false;
    if (m_ok && m_error.empty() && std::fflush(m_file) != 0) m_error = std::strerror(errno);
    if (std::fclose(m_file) != 0) {
        m_ok = false;
        if (m_error.empty()) m_error = std::strerror(errno);
    }
    m_file = nullptr;
    if (m_ok && !ReplaceFile(m_tmp, m_path)) {
        m_ok = false;
        m_error = "the finished file could not be put in place";
    }
    if (!m_ok) {
        if (m_error.empty()) m_error = "a write failed (is the disk full?)";
        std::remove(m_tmp.c_str());
    }
    return m_ok;
}

namespace {

int KindOrder(const CSyncable* o) {
    if (dynamic_cast<const COverlayMark*>(o)) return 0;
    if (dynamic_cast<const COverlayRoute*>(o)) return 1;
    if (dynamic_cast<const COverlayTrack*>(o)) return 2;
    return 3;
}

}  // namespace

bool ExportGPX(const std::string& path, const std::vector<const CSyncable*>& objects, std::string* error) {
    CGPXOutput out(path);
    if (!out.IsOpen()) {
        if (error) *error = "The file cannot be created: " + path + " (" + out.Error() + ").";
        return false;
    }
    bool ok = true;
    for (int kind = 0; kind < 4; ++kind) {
        for (const CSyncable* o : objects) {
            if (!o || o->isDeleted() || KindOrder(o) != kind) continue;
            ok = o->WriteGPX(out.File()) && ok;
        }
    }
    if (!ok) out.SetFailed();
    if (!out.Close()) {
        if (error) *error = "The file could not be written: " + path + " (" + out.Error() + ").";
        return false;
    }
    return true;
}

bool ExportAllGPX(const std::string& path, std::string* error) {
    std::vector<const CSyncable*> all;
    if (g_mark_manager) {
        for (const auto& m : g_mark_manager->Marks()) all.push_back(m.get());
        for (const auto& r : g_mark_manager->Routes()) all.push_back(r.get());
    }
    if (g_track_manager)
        for (const auto& t : g_track_manager->GetTracks()) all.push_back(t.get());
    return ExportGPX(path, all, error);
}

const CSyncable* ExportableObjectOf(const COverlayObject* object) {
    if (!object) return nullptr;
    if (const auto* m = dynamic_cast<const COverlayMark*>(object)) return m;
    if (const auto* r = dynamic_cast<const COverlayRoute*>(object)) return r;
    if (const auto* s = dynamic_cast<const CTrackSection*>(object)) return s->Track();
    return nullptr;
}
