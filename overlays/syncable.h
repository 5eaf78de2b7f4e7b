// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The identity that user-owned overlays (marks, routes, tracks) carry so that they can be
// synchronised with the online account: a 64-bit id, modification and creation times,
// visibility/lock/do-not-sync flags, a category path and a deleted (tombstone) flag.
//
// GUI thread only.

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/geometry.h"
#include "core/serializable.h"

class CSyncable : public CSerializable {
public:
    // Flags are held as check states so that list views can show them directly.
    enum check_state : int {
        CHECK_CLEAR = 0,
        CHECK_SET = 2,
    };

    // How long a deleted object is kept for the online account to learn of its deletion.
    static constexpr double kTombstoneSeconds = 1209600.0;  // 14 days

    CSyncable();
    CSyncable(const CSyncable&) = default;
    CSyncable& operator=(const CSyncable&) = default;
    ~CSyncable() override = default;

    // What the synchronisation sends; by default the object's ordinary form.
    virtual bool SyncObject(IOStream& s, double since);
    // Geographic extent (x longitude, y latitude); false when the object has none.
    virtual bool getLonLatBounds(CBounds& bounds) const;
    // One line for lists, distances measured in the given grid.
    virtual std::string getSubText(const CSimpleGrid& grid) const;
    // Writes the object's GPX elements; false on a write error.
    virtual bool WriteGPX(FILE* file) const;

    // Writes a GPX 1.1 file holding just this object, through a ".tmp" file that replaces
    // `path` only when everything was written.
    bool WriteGPXFile(const std::string& path) const;

    // The id, assigned on first use.
    uint64_t GetObjectID();
    uint64_t PeekObjectID() const { return m_objectId; }  // 0 when none assigned yet
    void SetObjectID(uint64_t id) { m_objectId = id; }
    // "nvid:" and the id in upper-case hexadecimal (assigning one if needed).
    std::string GetObjectIDstr();
    // The hexadecimal number right after the first "nvid:" in the text; 0 when there is
    // none, when no digit follows, or when it does not fit 64 bits.
    static uint64_t ParseObjectID(const std::string& text);
    // Milliseconds since the epoch with a random 32-bit number xor-ed into bits 16..47:
    // unique across devices in practice, never 0.
    static uint64_t GenerateUniqueID();

    void SetModifiedNow();
    double getModifiedTime() const { return m_modified; }
    double getCreatedTime() const { return m_created; }
    void setModifiedTime(double t) { m_modified = t; }
    void setCreatedTime(double t) { m_created = t; }

    const std::string& getName() const { return m_name; }
    const std::string& getDescription() const { return m_description; }
    const std::string& getCategory() const { return m_category; }
    // Name and description do not touch the modified time: editors change several
    // fields and then call SetModifiedNow once.
    void setName(const std::string& name) { m_name = name; }
    void setDescription(const std::string& text) { m_description = text; }
    void setCategory(const std::string& category);
    // Renames a category folder: a category under `oldPath` moves under `newPath`; any
    // other becomes `newPath`. An empty `newPath` lifts the contents one level up.
    void changeCategoryPath(const std::string& newPath, const std::string& oldPath);

    bool isVisibleFlag() const { return m_visible != CHECK_CLEAR; }
    bool isLocked() const { return m_locked != CHECK_CLEAR; }
    bool isDoNotSync() const { return m_doNotSync != CHECK_CLEAR; }
    bool isDeleted() const { return m_deleted; }
    int getVisibleState() const { return m_visible; }
    int getLockedState() const { return m_locked; }
    int getDoNotSyncState() const { return m_doNotSync; }

    // Showing or hiding is a view preference, not an edit: the modified time stays.
    void setVisible(bool visible);
    void setLocked(bool locked);
    void setDoNotSync(bool doNotSync);

    void DeleteSyncItem();
    void UndeleteSyncItem();
    bool NeedsSyncToCloud(double lastSyncTime) const;
    // Whether a deleted object may now be dropped from its list for good.
    bool CanPurgeTombstone(double lastSyncTime, double now) const;

    // Case-insensitive substring of the name or the description.
    bool matches_search(const std::string& text) const;
    bool sameSyncableData(const CSyncable& other) const;

    // The synchronisation section of the object's stored form.
    bool SerializeSyncable(IOStream& s);

protected:
    double m_modified;
    double m_created;
    std::string m_name;
    std::string m_description;
    std::string m_category;  // folder path, written to GPX as "type"
    int m_visible = CHECK_SET;
    int m_locked = CHECK_CLEAR;
    int m_doNotSync = CHECK_CLEAR;
    uint64_t m_objectId = 0;
    bool m_deleted = false;
};

// Removes from `list` (a container of owning raw or unique pointers to CSyncable-derived
// objects) every deleted object that need not be kept any longer, destroying it. Live
// objects stay. Returns the number removed.
template <class Container>
size_t PurgeTombstones(Container& list, double lastSyncTime, double now) {
    size_t removed = 0;
    for (auto it = list.begin(); it != list.end();) {
        if ((*it)->CanPurgeTombstone(lastSyncTime, now)) {
            serializable_detail::Element<typename Container::value_type>::Free(*it);
            it = list.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    return removed;
}
