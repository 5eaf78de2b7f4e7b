// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/iconmanager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cctype>
#include <cmath>

#include "core/apppaths.h"
#include "core/attributes.h"

namespace {

std::string g_folderOverride;

// Kinds of files the Icons folder may hold; nothing else there is ever touched.
bool IsIconExtension(const std::string& ext) {
    return ext == "svg" || ext == "png" || ext == "bmp";
}
bool IsIconFileExtension(const std::string& ext) {
    return IsIconExtension(ext) || ext == "txt";
}

constexpr qint64 kMaxIconBytes = 4 * 1024 * 1024;

// The position of the icon's point on the ground, as fractions of its size; centred
// unless the drawing stands on its point.
void BuiltinHotspot(const std::string& name, double& x, double& y) {
    if (name == "Pin" || name == "G_pin" || name == "Fishing") {
        x = 0.5;
        y = 1.0;
        if (name == "Fishing") x = 0.17;
    } else if (name == "Flag") {
        x = 0.21;
        y = 0.92;
    } else {
        x = y = 0.5;
    }
}

}  // namespace

CIconManager& CIconManager::Instance() {
    static CIconManager manager;
    return manager;
}

namespace {
// The drawings shipped in the program, by file name. The first 32 are the legacy icon
// numbers of older overlay files, in their order.
const std::vector<std::string>& BuiltinFiles() {
    static const std::vector<std::string> files = {
        "Dot",       "House",    "Fuel",          "Car",        "Fish",         "Boat",        "Anchor",
        "Wreck",     "Exit",     "Skull",         "Flag",       "Tent",         "MOB",         "Deer",
        "First_aid", "Trackback", "TinyDot",      "Triangle",   "Square",       "Circle",      "Buoy_can",
        "Buoy_conical", "Buoy_round", "Geocache", "Buoy_cardinal", "Person",    "Pin",         "Warning",
        "X",         "G_Pin",    "Foot",          "Water",      "None",         "Notes",       "Waypoint",
        "Lighthouse", "Marina",  "Mooring",       "Rock",       "Diver",        "Danger",      "Fishing",
    };
    return files;
}
}  // namespace

const std::vector<std::string>& CIconManager::builtinNames() {
    // Icons are known by their normalised names ("TinyDot" is "Tinydot").
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (const std::string& f : BuiltinFiles()) n.push_back(to_file_name(f));
        return n;
    }();
    return names;
}

std::string CIconManager::to_file_name(const std::string& name) {
    if (name == kMob) return name;
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        char k;
        if (u < 0x80 && std::isalpha(u)) {
            k = char(out.empty() ? std::toupper(u) : std::tolower(u));
        } else if ((u < 0x80 && std::isdigit(u)) || c == '_' || c == '@') {
            k = c;
        } else if (c == ' ') {
            k = '_';
        } else {
            continue;  // anything else would make an awkward or unsafe file name
        }
        out.push_back(k);
    }
    return out;
}

std::string CIconManager::iconNameOfFile(const std::string& fileName) {
    const size_t dot = fileName.find('.');
    if (dot == std::string::npos || dot == 0) return {};
    const std::string ext = FileExtension(fileName);
    if (!IsIconFileExtension(ext)) return {};
    std::string name = fileName.substr(0, std::min(dot, fileName.find('@')));
    if (fileName.find("_c.") != std::string::npos && name.size() > 2 && name.compare(name.size() - 2, 2, "_c") == 0)
        name.resize(name.size() - 2);
    return name;
}

void CIconManager::setIconFolderForTesting(const std::string& dir) {
    g_folderOverride = dir;
    Instance().m_initialised = false;
    Instance().m_icons.clear();
    Instance().clearIconCache();
}

std::string CIconManager::iconFolder() {
    if (!g_folderOverride.empty()) {
        createDirectory(g_folderOverride);
        return g_folderOverride;
    }
    return getAppDirectory("Icons");
}

void CIconManager::initMap() {
    m_icons.clear();
    addBuiltins();
    addCustom();
    m_initialised = true;
}

void CIconManager::addBuiltins() {
    for (const std::string& file : BuiltinFiles()) {
        const std::string name = to_file_name(file);
        IconInfo info;
        info.builtin = true;
        const QString plain = QStringLiteral(":/marks/%1.svg").arg(QString::fromStdString(file));
        const QString tinted = QStringLiteral(":/marks/%1_c.svg").arg(QString::fromStdString(file));
        if (QFile::exists(tinted)) {
            info.path = tinted.toStdString();
            info.colorizable = true;
        } else {
            info.path = plain.toStdString();
        }
        BuiltinHotspot(name, info.hotspot_x, info.hotspot_y);
        m_icons[name] = info;
    }
}

void CIconManager::addCustom() {
    const QDir dir(QString::fromStdString(iconFolder()));
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    // Per icon, the best file: the plain picture over a resolution variant of it, the
    // highest resolution among variants.
    struct Candidate {
        std::string path;
        bool colorizable = false;
        int resolution = 0;
    };
    std::map<std::string, Candidate> best;
    for (const QFileInfo& fi : files) {
        const std::string file = fi.fileName().toStdString();
        const std::string name = iconNameOfFile(file);
        const std::string ext = FileExtension(file);
        if (name.empty() || !IsIconExtension(ext)) continue;
        if (name == kNone) continue;  // "None" always means no picture
        int resolution = 1;
        const size_t at = file.find('@');
        if (at != std::string::npos) resolution = std::max(1, std::atoi(file.c_str() + at + 1));
        if (ext == "svg") resolution = 1000;  // scales to anything
        Candidate c{fi.absoluteFilePath().toStdString(), file.find("_c.") != std::string::npos, resolution};
        auto it = best.find(name);
        if (it == best.end() || c.resolution > it->second.resolution) best[name] = c;
    }
    for (const auto& [name, c] : best) {
        IconInfo info;
        info.path = c.path;
        info.colorizable = c.colorizable;
        // A companion "<name>.txt" may place the hotspot: hotspot_x=0.5 and hotspot_y=1.
        CAttributes attrs;
        const std::string txt = (dir.absolutePath() + "/").toStdString() + name + ".txt";
        if (FileSize(txt) > 0 && FileSize(txt) < 4096 && attrs.AddFile(txt)) {
            info.hotspot_x = std::clamp(attrs.GetDecimal("hotspot_x", 0.5), 0.0, 1.0);
            info.hotspot_y = std::clamp(attrs.GetDecimal("hotspot_y", 0.5), 0.0, 1.0);
        }
        m_icons[name] = info;  // a user icon of a built-in's name takes its place
    }
}

std::vector<std::string> CIconManager::iconNames() {
    if (!m_initialised) initMap();
    std::vector<std::string> out = builtinNames();
    for (const auto& [name, info] : m_icons) {
        if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
    }
    return out;
}

bool CIconManager::hasIcon(const std::string& name) {
    return find(name) != nullptr;
}

const CIconManager::IconInfo* CIconManager::find(const std::string& name) {
    if (!m_initialised) initMap();
    auto it = m_icons.find(name);
    if (it == m_icons.end()) it = m_icons.find(to_file_name(name));  // a name as typed or imported
    return it == m_icons.end() ? nullptr : &it->second;
}

bool CIconManager::isColorized(const std::string& name) {
    const IconInfo* info = find(name);
    return info && info->colorizable;
}

void CIconManager::clearIconCache() {
    m_cache.clear();
}

QImage CIconManager::render(const IconInfo& info, int size) const {
    const QString path = QString::fromStdString(info.path);
    if (QFileInfo(path).size() > kMaxIconBytes) return {};
    QImageReader reader(path);
    const QSize natural = reader.size();
    if (natural.isValid() && natural.width() > 0 && natural.height() > 0) {
        // Keep the picture's shape inside the square.
        QSize s = natural.scaled(size, size, Qt::KeepAspectRatio);
        reader.setScaledSize(s.expandedTo(QSize(1, 1)));
    } else {
        reader.setScaledSize(QSize(size, size));
    }
    QImage img = reader.read();
    if (img.isNull()) return {};
    return img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

const QImage& CIconManager::GetIcon(const std::string& name, const GraphicsColor& color, FPoint& hotspot, int size) {
    hotspot = FPoint();
    if (name.empty() || name == kNone || size <= 0 || size > 1024) return m_null;
    const IconInfo* info = find(name);
    if (!info) return m_null;
    const bool tint = info->colorizable && color.a > 0;
    const CacheKey key{name, tint ? color.ToArgb() : 0u, size};
    auto it = m_cache.find(key);
    if (it == m_cache.end()) {
        CacheEntry entry;
        entry.image = render(*info, size);
        if (tint && !entry.image.isNull()) {
            // Multiply: white takes the colour, grey a darker shade, black stays black.
            QPainter p(&entry.image);
            p.setCompositionMode(QPainter::CompositionMode_Multiply);
            p.fillRect(entry.image.rect(), QColor(color.r, color.g, color.b));
            p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            p.drawImage(0, 0, render(*info, size));
        }
        entry.hotspot = FPoint(std::round(info->hotspot_x * entry.image.width()),
                               std::round(info->hotspot_y * entry.image.height()));
        // A cache that grows with every colour ever used is bounded by starting afresh.
        if (m_cache.size() > 2000) m_cache.clear();
        it = m_cache.emplace(key, std::move(entry)).first;
    }
    hotspot = it->second.hotspot;
    return it->second.image;
}

std::string CIconManager::importCustomIcon(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& text) {
        if (error) *error = text;
        return std::string();
    };
    const QFileInfo src(QString::fromStdString(path));
    const std::string ext = FileExtension(path);
    if (!IsIconExtension(ext)) return fail("Only svg, png and bmp pictures can be used as icons: " + path);
    if (!src.isFile()) return fail("The file does not exist: " + path);
    if (src.size() <= 0 || src.size() > kMaxIconBytes) return fail("The picture is empty or too large: " + path);
    {
        QImageReader reader(src.absoluteFilePath());
        if (!reader.canRead()) return fail("The file is not a picture that can be read: " + path);
    }
    // "buoy_c.svg" is the colourisable variant of the icon "Buoy"; "pin@2x.png" a
    // resolution variant of "Pin".
    const std::string base = src.fileName().toStdString();
    std::string stem = base.substr(0, base.find('.'));
    std::string variant;
    const size_t at = stem.find('@');
    if (at != std::string::npos) {
        variant = "@" + to_file_name(stem.substr(at + 1)).substr(0, 8);
        stem.resize(at);
    }
    bool colorizable = false;
    if (stem.size() > 2 && stem.compare(stem.size() - 2, 2, "_c") == 0) {
        colorizable = true;
        stem.resize(stem.size() - 2);
    }
    const std::string name = to_file_name(stem);
    if (name.empty() || name == kNone) return fail("The picture's file name does not make an icon name: " + path);
    const std::string folder = iconFolder() + "/";
    const std::string target = folder + name + (colorizable ? "_c" : "") + variant + "." + ext;
    if (QFileInfo(QString::fromStdString(target)).absoluteFilePath() != src.absoluteFilePath()) {
        if (!CopyFile(path, target)) return fail("The icon could not be copied to " + target);
    }
    const std::string companion = src.absolutePath().toStdString() + "/" + base.substr(0, base.find('.')) + ".txt";
    if (FileExists(companion) && FileSize(companion) < 4096) CopyFile(companion, folder + name + ".txt");
    initMap();
    clearIconCache();
    return name;
}

std::vector<std::string> CIconManager::getCustomIconSet() {
    std::vector<std::string> out;
    const QDir dir(QString::fromStdString(iconFolder()));
    for (const QFileInfo& fi : dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const std::string file = fi.fileName().toStdString();
        if (!IsIconExtension(FileExtension(file))) continue;
        const std::string name = iconNameOfFile(file);
        if (!name.empty() && std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
    }
    return out;
}

int CIconManager::deleteUnusedIcons(const std::set<std::string>& inUse) {
    const QDir dir(QString::fromStdString(iconFolder()));
    // Only regular files directly in the folder; links and folders stay. A txt file goes
    // only with the picture it describes, so a note the user left there is kept.
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    std::set<std::string> unused;
    for (const QFileInfo& fi : files) {
        const std::string file = fi.fileName().toStdString();
        const std::string name = iconNameOfFile(file);
        if (!name.empty() && IsIconExtension(FileExtension(file)) && !inUse.count(name)) unused.insert(name);
    }
    std::set<std::string> removed;
    for (const QFileInfo& fi : files) {
        const std::string file = fi.fileName().toStdString();
        const std::string name = iconNameOfFile(file);
        if (!unused.count(name)) continue;
        if (QFile::remove(fi.absoluteFilePath()) && IsIconExtension(FileExtension(file))) removed.insert(name);
    }
    if (!removed.empty()) {
        initMap();
        clearIconCache();
    }
    return int(removed.size());
}
