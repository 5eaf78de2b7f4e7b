// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/syncable.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QString>
#include <cinttypes>

#include "core/apppaths.h"
#include "core/heartbeat.h"
#include "overlays/gpxoutput.h"

CSyncable::CSyncable() : m_modified(CHeartbeat::Timestamp()), m_created(m_modified) {}

bool CSyncable::SyncObject(IOStream& s, double /*since*/) {
    return Serialize(s);
}

bool CSyncable::getLonLatBounds(CBounds& /*bounds*/) const {
    return false;
}

std::string CSyncable::getSubText(const CSimpleGrid& /*grid*/) const {
    return {};
}

bool CSyncable::WriteGPX(FILE* file) const {
    return std::fputs("<!-- Don't know how to write object -->\n", file) >= 0;
}

bool CSyncable::WriteGPXFile(const std::string& path) const {
    CGPXOutput out(path);
    if (!out.IsOpen()) return false;
    if (!WriteGPX(out.File())) out.SetFailed();
    return out.Close();
}

uint64_t CSyncable::GetObjectID() {
    if (m_objectId == 0) m_objectId = GenerateUniqueID();
    return m_objectId;
}

std::string CSyncable::GetObjectIDstr() {
    char buf[32];
    std::snprintf(buf, sizeof buf, "nvid:%" PRIX64, GetObjectID());
    return buf;
}

uint64_t CSyncable::ParseObjectID(const std::string& text) {
    static const std::string kPrefix = "nvid:";
    const size_t at = text.find(kPrefix);
    if (at == std::string::npos) return 0;
    uint64_t id = 0;
    int digits = 0;
    for (size_t i = at + kPrefix.size(); i < text.size(); ++i) {
        const char c = text[i];
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else
            break;
        // Sixteen digits fill 64 bits; a longer number is not one of our ids.
        if (++digits > 16) return 0;
        id = (id << 4) | uint64_t(v);
    }
    return id;
}

uint64_t CSyncable::GenerateUniqueID() {
    for (;;) {
        const uint64_t ms = uint64_t(QDateTime::currentMSecsSinceEpoch());
        const uint64_t id = ms ^ (uint64_t(QRandomGenerator::global()->generate()) << 16);
        if (id != 0) return id;  // 0 means "no id yet"
    }
}

void CSyncable::SetModifiedNow() {
    m_modified = CHeartbeat::Timestamp();
}

void CSyncable::setCategory(const std::string& category) {
    m_category = category;
    SetModifiedNow();
}

void CSyncable::changeCategoryPath(const std::string& newPath, const std::string& oldPath) {
    if (m_category.compare(0, oldPath.size(), oldPath) != 0) {
        m_category = newPath;
    } else if (!newPath.empty() || oldPath.empty()) {
        m_category = newPath + m_category.substr(oldPath.size());
    } else {
        // Lifting the folder's contents to the top: drop the separator as well.
        m_category = m_category.size() > oldPath.size() + 1 ? m_category.substr(oldPath.size() + 1) : std::string();
    }
    SetModifiedNow();
}

void CSyncable::setVisible(bool visible) {
    if (m_deleted) return;
    m_visible = visible ? CHECK_SET : CHECK_CLEAR;
}

void CSyncable::setLocked(bool locked) {
    const int state = locked ? CHECK_SET : CHECK_CLEAR;
    if (m_deleted || state == m_locked) return;
    m_locked = state;
    SetModifiedNow();
}

void CSyncable::setDoNotSync(bool doNotSync) {
    const int state = doNotSync ? CHECK_SET : CHECK_CLEAR;
    if (m_deleted || state == m_doNotSync) return;
    m_doNotSync = state;
    SetModifiedNow();
}

void CSyncable::DeleteSyncItem() {
    m_deleted = true;
    m_visible = CHECK_CLEAR;
    SetModifiedNow();
    // The account never heard of it, so there is nobody to tell about the deletion.
    if (m_objectId == 0) m_doNotSync = CHECK_SET;
}

void CSyncable::UndeleteSyncItem() {
    m_deleted = false;
    m_visible = CHECK_SET;
    SetModifiedNow();
}

bool CSyncable::NeedsSyncToCloud(double lastSyncTime) const {
    if (isDoNotSync()) return false;
    return m_modified > lastSyncTime;
}

bool CSyncable::CanPurgeTombstone(double lastSyncTime, double now) const {
    if (!m_deleted) return false;
    const bool keep = NeedsSyncToCloud(lastSyncTime) && now - m_modified < kTombstoneSeconds;
    return !keep;
}

bool CSyncable::matches_search(const std::string& text) const {
    const QString needle = QString::fromStdString(text);
    return QString::fromStdString(m_name).contains(needle, Qt::CaseInsensitive) ||
           QString::fromStdString(m_description).contains(needle, Qt::CaseInsensitive);
}

bool CSyncable::sameSyncableData(const CSyncable& other) const {
    auto same = [](const std::string& a, const std::string& b) {
        return QString::compare(QString::fromStdString(a), QString::fromStdString(b), Qt::CaseInsensitive) == 0;
    };
    return m_deleted == other.m_deleted && same(m_name, other.m_name) && same(m_description, other.m_description) &&
           same(m_category, other.m_category);
}

bool CSyncable::SerializeSyncable(IOStream& s) {
    Section sec(s);
    // Flags travel as 0/1 bytes; any non-zero byte reads as set.
    uint8_t doNotSync = isDoNotSync() ? 1 : 0;
    uint8_t deleted = m_deleted ? 1 : 0;
    uint8_t visible = isVisibleFlag() ? 1 : 0;
    uint8_t locked = isLocked() ? 1 : 0;
    bool ok = sec.declare_value(m_objectId);
    ok = sec.declare_value(doNotSync) && ok;
    ok = sec.declare_value(m_modified) && ok;
    ok = sec.declare_value(deleted) && ok;
    ok = sec.declare_value(m_created) && ok;
    ok = sec.declare_value(visible) && ok;
    ok = sec.declare_value(locked) && ok;
    if (sec.IsReading()) {
        m_doNotSync = doNotSync ? CHECK_SET : CHECK_CLEAR;
        m_deleted = deleted != 0;
        m_visible = visible ? CHECK_SET : CHECK_CLEAR;
        m_locked = locked ? CHECK_SET : CHECK_CLEAR;
        if (m_created > m_modified) m_created = m_modified;
        if (m_deleted) m_visible = CHECK_CLEAR;
    }
    return ok;
}
