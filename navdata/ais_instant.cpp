// SPDX-License-Identifier: GPL-3.0-or-later
// The target list some AIS transponders hand out over HTTP when a plotter connects, so
// that the names of ships in range show at once instead of after their next static
// report (up to six minutes).
//
// <Watchmate><Target><MMSI>…</MMSI><Name>…</Name><CallSign>…</CallSign>
//   <VesselTypeString>…</VesselTypeString></Target>…</Watchmate>

#include <QFile>
#include <QXmlStreamReader>

#include <cstdio>

#include "navdata/ais.h"

namespace {

// A list of a few thousand targets is well under a megabyte.
constexpr qint64 kMaxListBytes = 16LL * 1024 * 1024;

struct Entry {
    QString mmsi, name, callsign, type;
};

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

}  // namespace

bool CAISTargetManager::ReadInstantTargets(const std::string& file, std::string* error) {
    QFile f(QString::fromStdString(file));
    if (!f.open(QIODevice::ReadOnly)) return Fail(error, "cannot open " + file + ": " + f.errorString().toStdString());
    if (f.size() > kMaxListBytes) return Fail(error, file + " is too large for an AIS target list");
    QXmlStreamReader xml(&f);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("Watchmate"))
        return Fail(error, file + " is not an AIS target list (no Watchmate element)");
    const double now = CDataSource::Now();
    int count = 0;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("Target")) {
            xml.skipCurrentElement();
            continue;
        }
        Entry e;
        while (xml.readNextStartElement()) {
            const auto tag = xml.name();
            QString* field = tag == QLatin1String("MMSI")               ? &e.mmsi
                             : tag == QLatin1String("Name")             ? &e.name
                             : tag == QLatin1String("CallSign")         ? &e.callsign
                             : tag == QLatin1String("VesselTypeString") ? &e.type
                                                                        : nullptr;
            if (field) {
                *field = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            } else {
                xml.skipCurrentElement();
            }
        }
        bool ok = false;
        const uint mmsi = e.mmsi.toUInt(&ok);
        // MMSIs have nine digits at most; anything else is not a station.
        if (!ok || mmsi == 0 || mmsi > 999999999u) continue;
        CAISTarget& t = FindOrInsert(mmsi);
        const QByteArray name = e.name.toUtf8(), callsign = e.callsign.toUtf8(), type = e.type.toUtf8();
        CNMEASentence::strncpy_to_TCHAR(t.name, name.constData(), int(sizeof t.name));
        CNMEASentence::strncpy_to_TCHAR(t.callsign, callsign.constData(), int(sizeof t.callsign));
        CNMEASentence::strncpy_to_TCHAR(t.ship_type, type.constData(), int(sizeof t.ship_type));
        if (!t.HasKind()) {
            const char* beacon = CAISTarget::BeaconKind(t.mmsi_text);
            t.kind = beacon ? beacon : CAISTarget::kInstant;
            if (beacon) t.base_colour = t.colour = 0xFFFF0000;
        }
        char buf[160];
        std::snprintf(buf, sizeof buf, "\"%s\" Type:%s Callsign:%s, MMSI:%u", t.name, t.ship_type, t.callsign, t.mmsi);
        t.description.assign(buf);
        if (t.last_time < now) t.last_time = now;
        t.OnUpdatedPosition(now);
        Publish(t, COverlayObject::UPDATE_CHANGED);
        ++count;
    }
    if (xml.hasError())
        return Fail(error, file + ": " + xml.errorString().toStdString() + " at line " +
                               std::to_string(xml.lineNumber()));
    if (count > 0) EnableSettings();
    return true;
}
