// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Application settings. Each subsystem owns one settings object: a nested class
// derived from PersistantData whose constructor passes the key prefix (by convention
// the owning class name) and whose DeclareData() declares its values:
//
//   class CTrackManager {
//       class Persistant : public PersistantData {
//       public:
//           Persistant() : PersistantData("CTrackManager") {}
//           void DeclareData() override { Declare("doRecordTrack", doRecordTrack); }
//           bool doRecordTrack = true;
//       };
//       static Persistant settings;
//   };
//
// The same DeclareData() loads and saves: LoadAll() reads every value that is in the
// settings file (a missing key keeps the compiled-in default), SaveAll() writes the
// objects whose `changed` flag is set. All values live in one text file of "key=value"
// lines, the key being the prefix, ":" and the field name.
//
// GUI thread only: loading and saving use class-wide state (the attribute set being
// read or written, the direction, the Numbered() buffer), so they must not run on two
// threads or be re-entered from inside DeclareData().

#include <set>
#include <string>
#include <vector>

#include "core/geometry.h"

class CAttributes;

class PersistantData {
public:
    explicit PersistantData(const char* name);
    virtual ~PersistantData() = default;
    PersistantData(const PersistantData&) = delete;
    PersistantData& operator=(const PersistantData&) = delete;

    virtual void DeclareData() = 0;

    void SetChanged(bool c = true) { changed = c; }
    bool IsChanged() const { return changed; }
    const std::string& Name() const { return name; }
    PersistantData* Next() const { return next; }

    // "field[i]", the field part cut to 180 characters. The result lives in a static
    // buffer that the next call overwrites.
    static const char* Numbered(const char* field, int i);

    // Reads the settings file of `appname` into every registered object.
    static void LoadAll(const std::string& appname);
    // Writes the objects whose `changed` flag is set, keeping every other key of the file.
    static void SaveAll();
    // The stored text form of one setting (key = prefix ":" field).
    static bool GetValue(const std::string& key, std::string& out);
    // Changes one setting from its text form; the file is written by the next SaveAll().
    static bool SetValue(const std::string& key, const std::string& value);
    static PersistantData* find_persistor(const std::string& key);
    // The settings file in the application directory, first copied from the
    // non-volatile directory or the built-in defaults when it does not exist yet.
    static std::string Filename(const std::string& appname);
    // The application name given to LoadAll (empty before).
    static const std::string& AppName();
    // The first registered object; the list runs through Next().
    static PersistantData* First() { return s_list; }

protected:
    void Declare(const char* field, int& value);
    void Declare(const char* field, bool& value);
    void Declare(const char* field, float& value);
    void Declare(const char* field, double& value);
    void Declare(const char* field, std::string& value);
    void Declare(const char* field, GraphicsColor& value);
    void Declare(const char* field, std::vector<std::string>& value);
    void Declare(const char* field, std::set<std::string>& value);
    void Declare(const char* field, void* buf, int len);

    // True while declarations write into the attribute set.
    static bool IsSaving() { return s_saving; }

    bool changed = false;

private:
    std::string Key(const char* field) const;
    template <class T>
    void DeclareRaw(const char* field, T& value);
    template <class Container>
    void DeclareStrings(const char* field, Container& value);

    PersistantData* next;
    std::string name;

    static PersistantData* s_list;
    static CAttributes* s_attributes;
    static bool s_saving;
};
