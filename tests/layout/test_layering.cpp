// SPDX-License-Identifier: GPL-3.0-or-later
// The libraries form a one-way stack. These checks read the sources and fail the build's
// tests when an include reaches upwards or when engine code pulls in QtQuick, so the
// shape cannot erode one convenient include at a time.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// What each subsystem may include (and link) besides itself. The online services sit
// below the charts so that chart chunks can be fetched with the web client.
const std::map<std::string, std::set<std::string>> kAllowed = {
    {"core", {}},
    {"units", {"core"}},
    {"online", {"core"}},
    {"charts", {"core", "online"}},
    {"overlays", {"charts", "units", "core"}},
    {"navdata", {"overlays", "charts", "units", "online", "core"}},
    {"displays", {"overlays", "navdata", "charts", "units", "online", "core"}},
    {"maplib", {"displays", "navdata", "overlays", "charts", "units", "online", "core"}},
};

// Folders whose code must stay free of the user-interface toolkit.
const std::set<std::string> kEngine = {"core",     "units",   "online",   "charts",
                                       "overlays", "navdata", "displays", "maplib"};

struct Violation {
    std::string file;
    std::string include;
};

std::vector<Violation> Scan(const std::string& subsystem, bool checkQuick) {
    std::vector<Violation> found;
    const QString root = QStringLiteral(NAVORA_SOURCE_DIR "/") + QString::fromStdString(subsystem);
    if (!QDir(root).exists()) return found;
    static const QRegularExpression inc(QStringLiteral("^\\s*#\\s*include\\s*[<\"]([^>\"]+)[>\"]"),
                                        QRegularExpression::MultilineOption);
    QDirIterator it(root, {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(root).relativeFilePath(path);
        // The QtQuick adaptors of a subsystem live in its quick/ folder, outside the engine.
        const bool quickFolder = rel.startsWith(QStringLiteral("quick/"));
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) continue;
        const QString text = QString::fromUtf8(f.readAll());
        auto m = inc.globalMatch(text);
        while (m.hasNext()) {
            const std::string header = m.next().captured(1).toStdString();
            if (checkQuick && !quickFolder &&
                (header.rfind("QQuick", 0) == 0 || header.rfind("QtQuick", 0) == 0 || header.rfind("QQml", 0) == 0 ||
                 header.rfind("QtQml", 0) == 0)) {
                found.push_back({path.toStdString(), header});
                continue;
            }
            const auto slash = header.find('/');
            if (slash == std::string::npos) continue;
            const std::string target = header.substr(0, slash);
            if (target == subsystem || !kAllowed.count(target)) {
                // Our own folder, a system header, or a folder outside the stack (tools, app).
                if (target == "app" || target == "tools" || target == "tests")
                    found.push_back({path.toStdString(), header});
                continue;
            }
            if (!kAllowed.at(subsystem).count(target)) found.push_back({path.toStdString(), header});
        }
    }
    return found;
}

QString ReadSource(const QString& relative) {
    QFile f(QStringLiteral(NAVORA_SOURCE_DIR "/") + relative);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

}  // namespace

// The CMake targets must follow the same stack as the includes: a library that links one
// above it would let the includes follow.
TEST(Layering, LibrariesLinkOnlyDownwards) {
    static const QRegularExpression target(QStringLiteral("\\bnavora_([a-z]+)\\b(?!_)"));
    for (const auto& [subsystem, allowed] : kAllowed) {
        const QString cmake = ReadSource(QString::fromStdString(subsystem) + QStringLiteral("/CMakeLists.txt"));
        auto m = target.globalMatch(cmake);
        while (m.hasNext()) {
            const std::string linked = m.next().captured(1).toStdString();
            if (linked == subsystem || !kAllowed.count(linked)) continue;
            if (!allowed.count(linked))
                ADD_FAILURE() << subsystem << "/CMakeLists.txt links navora_" << linked << ", above " << subsystem;
        }
    }
}

// The root adds the libraries lowest first, so that each finds the targets it links.
TEST(Layering, LibrariesAreAddedLowestFirst) {
    static const QRegularExpression loop(QStringLiteral("foreach\\(lib ([a-z ]+)\\)"));
    const auto m = loop.match(ReadSource(QStringLiteral("CMakeLists.txt")));
    ASSERT_TRUE(m.hasMatch()) << "the root CMakeLists.txt no longer adds the libraries in one loop";
    std::vector<std::string> order;
    for (const QString& name : m.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts)) order.push_back(name.toStdString());
    for (size_t i = 0; i < order.size(); ++i) {
        if (!kAllowed.count(order[i])) continue;
        for (const std::string& below : kAllowed.at(order[i])) {
            const auto at = std::find(order.begin(), order.end(), below);
            EXPECT_TRUE(at != order.end() && at < order.begin() + static_cast<long>(i))
                << order[i] << " is added before " << below << ", which it uses";
        }
    }
}

TEST(Layering, IncludesOnlyReachDownwards) {
    for (const auto& [subsystem, allowed] : kAllowed) {
        for (const Violation& v : Scan(subsystem, false))
            ADD_FAILURE() << v.file << " includes " << v.include << ", above " << subsystem << " in the stack";
    }
}

TEST(Layering, EngineCodeDoesNotUseQtQuick) {
    for (const std::string& subsystem : kEngine) {
        for (const Violation& v : Scan(subsystem, true)) {
            if (v.include.rfind("QQuick", 0) == 0 || v.include.rfind("QtQuick", 0) == 0 ||
                v.include.rfind("QQml", 0) == 0 || v.include.rfind("QtQml", 0) == 0)
                ADD_FAILURE() << v.file << " includes " << v.include << " (engine code must not know QtQuick)";
        }
    }
}
