// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The pictures of marks. Built-in icons are our own SVG drawings compiled into the
// program; user icons are files in the "Icons" folder of the application directory.
// An icon is known by its normalised name (to_file_name). An icon whose file name ends
// in "_c" before the extension is colourisable: it is drawn in white and shades of grey,
// and a mark with a colour tints it (white takes the mark's colour, black stays black).
//
// GUI thread only (the image cache is not guarded).

#include <QImage>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/geometry.h"

class CIconManager {
public:
    static constexpr const char* kNone = "None";
    static constexpr const char* kNotes = "Notes";
    static constexpr const char* kMob = "MOB";
    static constexpr int kDefaultSize = 32;  // device pixels

    struct IconInfo {
        std::string path;  // a resource path (":/marks/...") or a file in the Icons folder
        bool colorizable = false;
        bool builtin = false;
        double hotspot_x = 0.5;  // fraction of the width and height the position sits at
        double hotspot_y = 0.5;
    };

    // The one icon manager; built on first use.
    static CIconManager& Instance();

    // "MOB" stays; otherwise the first character is upper-cased, later letters
    // lower-cased, digits, "_" and "@" kept, spaces become "_" and everything else is
    // dropped ("first aid" -> "First_aid").
    static std::string to_file_name(const std::string& name);

    // Fills the map with the built-in icons and those in the Icons folder.
    void initMap();
    // Names of all icons, built-in first in their fixed order, then the user's.
    std::vector<std::string> iconNames();
    // The built-in icon names in their fixed order (index = legacy icon number for the
    // first 32).
    static const std::vector<std::string>& builtinNames();
    bool hasIcon(const std::string& name);
    const IconInfo* find(const std::string& name);

    // The picture for a name and colour at `size` device pixels (square); `hotspot` gets
    // the pixel the mark's position sits at. A null image for "None" or an unknown name.
    // Colourisable icons take the colour when it is valid (alpha above 0).
    const QImage& GetIcon(const std::string& name, const GraphicsColor& color, FPoint& hotspot,
                          int size = kDefaultSize);
    bool isColorized(const std::string& name);
    void clearIconCache();

    // The Icons folder of the application directory (created when missing).
    static std::string iconFolder();
    // Copies an svg, png or bmp file (and a txt companion beside it, which may give the
    // hotspot) into the Icons folder under its normalised name. Returns the icon's name,
    // empty (with `error` set) when the file cannot be taken.
    std::string importCustomIcon(const std::string& path, std::string* error = nullptr);
    // Icon names found in the Icons folder.
    std::vector<std::string> getCustomIconSet();
    // Removes the user icons (their files in the Icons folder, with resolution variants,
    // colourisable variants and txt companions) that no name in `inUse` refers to. Only
    // files of icon kinds directly inside the Icons folder are ever touched. Returns the
    // number of icons removed.
    int deleteUnusedIcons(const std::set<std::string>& inUse);

    // Where user icons live; tests and tools point this elsewhere. Empty = the
    // application directory's "Icons" folder.
    static void setIconFolderForTesting(const std::string& dir);

    // The icon name that a user icon file stands for: the part before the first "." or
    // "@", without a trailing "_c" of a colourisable variant. Empty for other files.
    static std::string iconNameOfFile(const std::string& fileName);

private:
    CIconManager() = default;
    void addBuiltins();
    void addCustom();
    QImage render(const IconInfo& info, int size) const;

    struct CacheKey {
        std::string name;
        uint32_t argb;
        int size;
        bool operator<(const CacheKey& o) const {
            if (name != o.name) return name < o.name;
            if (argb != o.argb) return argb < o.argb;
            return size < o.size;
        }
    };
    struct CacheEntry {
        QImage image;
        FPoint hotspot;
    };

    std::map<std::string, IconInfo> m_icons;
    std::map<CacheKey, CacheEntry> m_cache;
    bool m_initialised = false;
    QImage m_null;
};
