// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/userguide.h"

#include <QDesktopServices>
#include <QFile>
#include <QUrl>

const std::vector<CUserGuide::Chapter>& CUserGuide::Chapters() {
    static const std::vector<Chapter> chapters = {
        {"start", "Getting started"}, {"charts", "Charts and the map"}, {"gps", "Connecting a GPS"},
        {"ais", "Ships around you: AIS"}, {"pages", "Pages and layout"}, {"overlays", "Marks, routes and tracks"},
        {"units", "Units"},
        {"data", "Your data"},
    };
    return chapters;
}

int CUserGuide::ChapterForTag(const QString& tag) {
    const QString t = tag.trimmed().toLower();
    const auto& chapters = Chapters();
    for (size_t i = 0; i < chapters.size(); ++i)
        if (t == QLatin1String(chapters[i].tag)) return int(i);
    // Screens name their help by what they are about.
    struct Alias {
        const char* prefix;
        const char* chapter;
    };
    static const Alias aliases[] = {
        {"layout", "pages"}, {"page", "pages"},  {"edit", "pages"},   {"item", "pages"},
        {"gps", "gps"},      {"serial", "gps"},  {"tcp", "gps"},      {"udp", "gps"},
        {"nmea", "gps"},     {"connection", "gps"}, {"map", "charts"}, {"chart", "charts"},
        {"ais", "ais"},      {"unit", "units"},   {"position_format", "units"}, {"data", "data"}, {"file", "data"},
        {"mark", "overlays"}, {"route", "overlays"}, {"track", "overlays"}, {"overlay", "overlays"},
        {"alarm", "overlays"},
    };
    for (const Alias& a : aliases) {
        if (!t.startsWith(QLatin1String(a.prefix))) continue;
        for (size_t i = 0; i < chapters.size(); ++i)
            if (QLatin1String(chapters[i].tag) == QLatin1String(a.chapter)) return int(i);
    }
    return 0;
}

QString CUserGuide::ChapterText(int index) {
    const auto& chapters = Chapters();
    if (index < 0 || index >= int(chapters.size())) return {};
    QFile f(QStringLiteral(":/guide/%1.md").arg(QLatin1String(chapters[size_t(index)].tag)));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QString text = QString::fromUtf8(f.readAll());
    // The licence line is for the source tree, not for the reader.
    if (text.startsWith(QLatin1String("<!--"))) text = text.mid(text.indexOf(QLatin1String("-->")) + 3).trimmed();
    return text;
}

CUserGuide::CUserGuide(QObject* parent) : QObject(parent) {}

QStringList CUserGuide::titles() const {
    QStringList out;
    for (const Chapter& c : Chapters()) out << QString::fromUtf8(c.title);
    return out;
}

void CUserGuide::setCurrent(int index) {
    if (index < 0 || index >= int(Chapters().size()) || index == m_current) return;
    m_current = index;
    Q_EMIT currentChanged();
}

QString CUserGuide::text() const {
    return ChapterText(m_current);
}

void CUserGuide::openLink(const QString& link) {
    if (link.startsWith(QLatin1String("help:"))) return showTag(link.mid(5));
    if (link.startsWith(QLatin1Char('#'))) return showTag(link.mid(1));
    QDesktopServices::openUrl(QUrl(link));
}
