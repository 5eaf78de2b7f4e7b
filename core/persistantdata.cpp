// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/persistantdata.h"

#include <QFile>

#include <cstdio>
#include <cstring>

#include "core/apppaths.h"
#include "core/attributes.h"

// Zero-initialised before any constructor runs, so registration during static
// initialisation is safe whatever the order of translation units.
PersistantData* PersistantData::s_list = nullptr;
CAttributes* PersistantData::s_attributes = nullptr;
bool PersistantData::s_saving = false;

namespace {
std::string& AppNameStorage() {
    static std::string name;
    return name;
}

// Lists longer than this in a settings file are corrupt; never loop on a hostile count.
constexpr int kMaxListItems = 1000000;

// Runs DeclareData() of `obj` against `attrs` in one direction, restoring the class-wide
// state afterwards.
class ScopedDeclare {
public:
    ScopedDeclare(CAttributes*& current, bool& saving, CAttributes* attrs, bool save)
        : m_current(current), m_saving(saving), m_oldAttrs(current), m_oldSaving(saving) {
        m_current = attrs;
        m_saving = save;
    }
    ~ScopedDeclare() {
        m_current = m_oldAttrs;
        m_saving = m_oldSaving;
    }
    ScopedDeclare(const ScopedDeclare&) = delete;
    ScopedDeclare& operator=(const ScopedDeclare&) = delete;

private:
    CAttributes*& m_current;
    bool& m_saving;
    CAttributes* m_oldAttrs;
    bool m_oldSaving;
};
}  // namespace

PersistantData::PersistantData(const char* prefix) : next(s_list), name(prefix ? prefix : "") {
    s_list = this;
}

const std::string& PersistantData::AppName() {
    return AppNameStorage();
}

std::string PersistantData::Key(const char* field) const {
    return name + ":" + (field ? field : "");
}

const char* PersistantData::Numbered(const char* field, int i) {
    static char buf[200];
    std::snprintf(buf, sizeof buf, "%.180s[%d]", field ? field : "", i);
    return buf;
}

// ---- declarations ----

void PersistantData::Declare(const char* field, int& value) {
    if (!s_attributes) return;
    const std::string key = Key(field);
    if (s_saving)
        s_attributes->SetInt(key, value);
    else
        value = s_attributes->GetInt(key, value);
}

void PersistantData::Declare(const char* field, bool& value) {
    if (!s_attributes) return;
    const std::string key = Key(field);
    if (s_saving)
        s_attributes->SetIntD(key, value ? 1 : 0);
    else
        value = s_attributes->GetInt(key, value ? 1 : 0) != 0;
}

void PersistantData::Declare(const char* field, std::string& value) {
    if (!s_attributes) return;
    const std::string key = Key(field);
    if (s_saving)
        s_attributes->Set(key, value);
    else
        value = s_attributes->GetStr(key, value);
}

void PersistantData::Declare(const char* field, void* buf, int len) {
    if (!s_attributes || !buf || len <= 0) return;
    const std::string key = Key(field);
    if (s_saving)
        s_attributes->SetData(key, buf, len);
    else
        s_attributes->GetData(key, buf, len);
}

// Floating-point values are stored as their raw bytes so they survive exactly; a value
// typed by hand with a "." is read as a decimal number.
template <class T>
void PersistantData::DeclareRaw(const char* field, T& value) {
    if (!s_attributes) return;
    const std::string key = Key(field);
    if (s_saving) {
        s_attributes->SetData(key, &value, int(sizeof(T)));
        return;
    }
    std::string text;
    if (!s_attributes->GetIfPresent(key, text) || text.empty()) return;
    if (text.find('.') != std::string::npos) {
        value = static_cast<T>(s_attributes->GetDecimal(key, double(value)));
        return;
    }
    T decoded = value;
    if (s_attributes->GetData(key, &decoded, int(sizeof(T))) == int(sizeof(T))) value = decoded;
}

void PersistantData::Declare(const char* field, float& value) {
    DeclareRaw(field, value);
}

void PersistantData::Declare(const char* field, double& value) {
    DeclareRaw(field, value);
}

void PersistantData::Declare(const char* field, GraphicsColor& value) {
    if (!s_attributes) return;
    const std::string key = Key(field);
    if (s_saving) {
        s_attributes->Set(key, value.ToString());
        return;
    }
    const std::string& text = s_attributes->Get(key);
    if (!text.empty()) {
        if (text[0] == '#') value.FromString(text);
        return;
    }
    // Older files kept the colour as four raw floats.
    float f[4] = {-1, -1, -1, -1};
    s_attributes->GetData(key, f, int(sizeof f));
    if (f[0] >= 0) value.SetFloats(f[0], f[1], f[2], f[3]);
}

template <class Container>
void PersistantData::DeclareStrings(const char* field, Container& value) {
    if (!s_attributes) return;
    const std::string key = Key(field);
    const std::string countKey = key + ":n";
    if (s_saving) {
        s_attributes->SetIntD(countKey, int(value.size()));
        int i = 0;
        for (const auto& item : value) s_attributes->SetNumbered(key, i++, item);
        return;
    }
    // Without a count the stored list is absent: keep the current one, as for every
    // other type (SetValue relies on this to change only its own field).
    std::string countText;
    if (!s_attributes->GetIfPresent(countKey, countText)) return;
    value.clear();
    int n = s_attributes->GetInt(countKey, 0);
    if (n < 0) n = 0;
    if (n > kMaxListItems) n = kMaxListItems;
    for (int i = 0; i < n; ++i) value.insert(value.end(), s_attributes->GetNumbered(key, i));
}

void PersistantData::Declare(const char* field, std::vector<std::string>& value) {
    DeclareStrings(field, value);
}

void PersistantData::Declare(const char* field, std::set<std::string>& value) {
    DeclareStrings(field, value);
}

// ---- the whole set ----

std::string PersistantData::Filename(const std::string& appname) {
    const std::string file = appname + ".ini";
    const std::string path = getAppDirectory() + "/" + file;
    if (FileExists(path)) return path;
    const std::string nonVolatile = getNonVolatileDirectory() + "/" + file;
    if (nonVolatile != path && FileExists(nonVolatile)) {
        CopyFile(nonVolatile, path);
    } else {
        const std::string bundled = getBundleFilepath(file);
        if (QFile::exists(QString::fromStdString(bundled))) CopyFile(bundled, path);
    }
    return path;
}

void PersistantData::LoadAll(const std::string& appname) {
    AppNameStorage() = appname;
    CAttributes attrs;
    attrs.AddFile(Filename(appname));  // a missing or unreadable file acts as an empty one
    ScopedDeclare scope(s_attributes, s_saving, &attrs, false);
    for (PersistantData* p = s_list; p; p = p->next) p->DeclareData();
}

void PersistantData::SaveAll() {
    if (AppName().empty()) return;
    bool any = false;
    for (PersistantData* p = s_list; p; p = p->next) any = any || p->changed;
    if (!any) return;
    const std::string path = Filename(AppName());
    // Start from what is on disk so that objects not saved now, and keys this build does
    // not know, survive.
    CAttributes attrs;
    attrs.AddFile(path);
    std::vector<PersistantData*> saved;
    {
        ScopedDeclare scope(s_attributes, s_saving, &attrs, true);
        for (PersistantData* p = s_list; p; p = p->next) {
            if (!p->changed) continue;
            p->DeclareData();
            p->changed = false;
            saved.push_back(p);
        }
    }
    if (!attrs.ToFile(path)) {
        // Keep the flags so that the next save tries again.
        for (PersistantData* p : saved) p->changed = true;
    }
}

PersistantData* PersistantData::find_persistor(const std::string& key) {
    for (PersistantData* p = s_list; p; p = p->next) {
        if (key.compare(0, p->name.size(), p->name) == 0) return p;
    }
    return nullptr;
}

bool PersistantData::GetValue(const std::string& key, std::string& out) {
    PersistantData* p = find_persistor(key);
    if (!p) return false;
    CAttributes attrs;
    {
        ScopedDeclare scope(s_attributes, s_saving, &attrs, true);
        p->DeclareData();
    }
    if (!attrs.Has(key)) return false;
    out = attrs.Get(key);
    return true;
}

bool PersistantData::SetValue(const std::string& key, const std::string& value) {
    PersistantData* p = find_persistor(key);
    if (!p) return false;
    CAttributes attrs;
    attrs.Set(key, value);
    {
        ScopedDeclare scope(s_attributes, s_saving, &attrs, false);
        p->DeclareData();
    }
    p->changed = true;
    return true;
}
