// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A menu as plain data: the engine fills it, whichever user interface is installed shows
// it and runs the chosen entry's action. Runs on the GUI thread.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/uiservices.h"

class CActionSheetMenu {
public:
    struct Entry {
        std::string text;
        std::string icon;
        std::function<void()> action;
        // Set for an entry that opens a further menu instead of acting.
        std::shared_ptr<CActionSheetMenu> submenu;
        bool checked = false;
    };

    explicit CActionSheetMenu(std::string title = {}) : title(std::move(title)) {}

    Entry& add(std::string text, std::function<void()> action, std::string icon = {});
    // Adds an entry opening a sub-menu and returns that sub-menu.
    CActionSheetMenu& addSubmenu(std::string text, std::string submenuTitle, std::string icon = {});

    const Entry* find(const std::string& text) const;
    // Runs the entry named `text` (showing its sub-menu when it has one); false when absent.
    bool choose(const std::string& text, const NV_HWND& hwnd = {}) const;
    bool empty() const { return entries.empty(); }

    std::string title;
    std::vector<Entry> entries;
};

// Shows the menu as a list of choices (core/uiservices.h); a chosen entry runs its action or
// shows its sub-menu the same way.
void ShowActionSheet(const NV_HWND& hwnd, std::shared_ptr<CActionSheetMenu> menu);
