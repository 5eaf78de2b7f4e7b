// SPDX-License-Identifier: GPL-3.0-or-later
#include "displays/actionsheet.h"


CActionSheetMenu::Entry& CActionSheetMenu::add(std::string text, std::function<void()> action, std::string icon) {
    Entry e;
    e.text = std::move(text);
    e.icon = std::move(icon);
    e.action = std::move(action);
    entries.push_back(std::move(e));
    return entries.back();
}

CActionSheetMenu& CActionSheetMenu::addSubmenu(std::string text, std::string submenuTitle, std::string icon) {
    Entry e;
    e.text = std::move(text);
    e.icon = std::move(icon);
    e.submenu = std::make_shared<CActionSheetMenu>(std::move(submenuTitle));
    entries.push_back(std::move(e));
    return *entries.back().submenu;
}

const CActionSheetMenu::Entry* CActionSheetMenu::find(const std::string& text) const {
    for (const Entry& e : entries) {
        if (e.text == text) return &e;
    }
    return nullptr;
}

bool CActionSheetMenu::choose(const std::string& text, const NV_HWND& hwnd) const {
    const Entry* e = find(text);
    if (!e) return false;
    if (e->submenu) {
        ShowActionSheet(hwnd, e->submenu);
    } else if (e->action) {
        // Copy first: the action may replace the menu that holds it.
        auto action = e->action;
        action();
    }
    return true;
}

void ShowActionSheet(const NV_HWND& hwnd, std::shared_ptr<CActionSheetMenu> menu) {
    if (!menu) return;
    std::vector<CChoice> choices;
    choices.reserve(menu->entries.size());
    for (const CActionSheetMenu::Entry& e : menu->entries) choices.push_back({e.text, e.icon, e.checked});
    // The menu stays alive until the user has chosen (or dismissed it).
    ChooseFromList(hwnd, menu->title, choices, [hwnd, menu](int index) {
        if (index < 0 || index >= static_cast<int>(menu->entries.size())) return;
        menu->choose(menu->entries[static_cast<size_t>(index)].text, hwnd);
    });
}
