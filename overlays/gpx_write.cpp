// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/gpx_write.h"

#include <QDateTime>

#include <cmath>

bool GpxNeedsCdata(const std::string& text) {
    return text.find_first_of("<>&\n\r") != std::string::npos;
}

bool GpxWriteTag(FILE* f, const char* tag, const std::string& text) {
    if (GpxNeedsCdata(text)) {
        // "]]>" cannot stand inside one section: split it across two.
        std::string safe;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 3, "]]>") == 0) {
                safe += "]]]]><![CDATA[>";
                i += 2;
            } else {
                safe += text[i];
            }
        }
        return std::fprintf(f, "<%s><![CDATA[%s]]></%s>\n", tag, safe.c_str(), tag) > 0;
    }
    return std::fprintf(f, "<%s>%s</%s>\n", tag, text.c_str(), tag) > 0;
}

std::string GpxEncodeAmpersand(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else
            out += c;
    }
    return out;
}

std::string GpxFormatTime(double seconds) {
    if (!std::isfinite(seconds)) seconds = 0;
    const QDateTime t = QDateTime::fromSecsSinceEpoch(qint64(std::floor(seconds)), Qt::UTC);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.date().year(), t.date().month(),
                  t.date().day(), t.time().hour(), t.time().minute(), t.time().second());
    return buf;
}
