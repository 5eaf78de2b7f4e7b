// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>

#include <cstring>
#include <fstream>
#include <iterator>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "core/apppaths.h"
#include "core/heartbeat.h"
#include "overlays/syncable.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A stored object as the marks and routes store themselves: the synchronisation section
// followed by a section of the object's own.
struct Item : CSyncable {
    std::string own = "own-default";
    bool Serialize(IOStream& s) override {
        const bool sync = SerializeSyncable(s);
        Section sec(s);
        return sec.declare(own) && sync;
    }
};

Bytes ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

void WriteAll(const std::string& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

template <class T>
void Put(Bytes& b, T v) {
    unsigned char raw[sizeof(T)];
    std::memcpy(raw, &v, sizeof(T));
    b.insert(b.end(), raw, raw + sizeof(T));
}

// A file holding one sync section with the given body, then an "own" section.
Bytes FileWithSyncBody(const Bytes& body, const std::string& own = "tail") {
    Bytes b;
    Put<uint32_t>(b, CSerializable::kFileMagic);
    b.push_back(0xBE);
    Put<uint32_t>(b, uint32_t(5 + body.size()));
    b.insert(b.end(), body.begin(), body.end());
    b.push_back(0xBE);
    Put<uint32_t>(b, uint32_t(5 + 4 + own.size()));
    Put<uint32_t>(b, uint32_t(own.size()));
    b.insert(b.end(), own.begin(), own.end());
    return b;
}

class SyncFiles : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }
};

TEST(SyncIdentity, ObjectIdTextRoundTripsAndIsFoundAnywhere) {
    EXPECT_EQ(CSyncable::ParseObjectID("nvid:1F"), 31u);
    EXPECT_EQ(CSyncable::ParseObjectID("<desc>whatever nvid:1f</desc>"), 31u);
    EXPECT_EQ(CSyncable::ParseObjectID("nvid:FFFFFFFFFFFFFFFF"), ~uint64_t(0));
    EXPECT_EQ(CSyncable::ParseObjectID("no id here"), 0u);
    EXPECT_EQ(CSyncable::ParseObjectID("nvid:"), 0u);
    EXPECT_EQ(CSyncable::ParseObjectID("nvid:xyz"), 0u);
    EXPECT_EQ(CSyncable::ParseObjectID("nvid:10000000000000000"), 0u);  // 17 digits: not ours
    EXPECT_EQ(CSyncable::ParseObjectID(""), 0u);

    Item a;
    EXPECT_EQ(a.PeekObjectID(), 0u);
    const uint64_t id = a.GetObjectID();
    EXPECT_NE(id, 0u);
    EXPECT_EQ(a.GetObjectID(), id);  // assigned once
    const std::string text = a.GetObjectIDstr();
    EXPECT_EQ(text.rfind("nvid:", 0), 0u);
    EXPECT_EQ(text.find_first_of("abcdef", 5), std::string::npos);  // upper-case hex
    EXPECT_EQ(CSyncable::ParseObjectID("link " + text), id);

    Item b;
    b.SetObjectID(0xABCDEF0123ull);
    EXPECT_EQ(b.GetObjectIDstr(), "nvid:ABCDEF0123");
}

TEST(SyncIdentity, GeneratedIdsCarryTheClockOutsideTheRandomBits) {
    const uint64_t before = uint64_t(QDateTime::currentMSecsSinceEpoch());
    const uint64_t id = CSyncable::GenerateUniqueID();
    const uint64_t after = uint64_t(QDateTime::currentMSecsSinceEpoch());
    const uint64_t outside = 0xFFFF00000000FFFFull;
    bool matched = false;
    for (uint64_t ms = before; ms <= after; ++ms) matched |= (ms & outside) == (id & outside);
    EXPECT_TRUE(matched) << std::hex << id;
    // Two ids made in the same millisecond still differ (random part).
    int distinct = 0;
    for (int i = 0; i < 20; ++i) distinct += CSyncable::GenerateUniqueID() != CSyncable::GenerateUniqueID();
    EXPECT_GE(distinct, 19);
}

TEST(SyncFlags, ModifiedTimeFollowsEditsNotViewPreferences) {
    Item a;
    EXPECT_TRUE(a.isVisibleFlag());
    EXPECT_FALSE(a.isLocked() || a.isDoNotSync() || a.isDeleted());
    EXPECT_EQ(a.getModifiedTime(), a.getCreatedTime());
    EXPECT_NEAR(a.getModifiedTime(), CHeartbeat::Timestamp(), 5);

    a.setModifiedTime(100);
    a.setVisible(false);
    EXPECT_EQ(a.getVisibleState(), CSyncable::CHECK_CLEAR);
    EXPECT_EQ(a.getModifiedTime(), 100);  // hiding is not an edit

    a.setLocked(false);  // unchanged
    a.setDoNotSync(false);
    EXPECT_EQ(a.getModifiedTime(), 100);
    a.setLocked(true);
    EXPECT_EQ(a.getLockedState(), CSyncable::CHECK_SET);
    EXPECT_GT(a.getModifiedTime(), 100);

    a.setModifiedTime(100);
    a.setDoNotSync(true);
    EXPECT_GT(a.getModifiedTime(), 100);
    a.setModifiedTime(100);
    a.setCategory("Harbours");
    EXPECT_GT(a.getModifiedTime(), 100);
}

TEST(SyncFlags, DeletedObjectsIgnoreFlagChangesUntilUndeleted) {
    Item a;
    a.GetObjectID();
    a.DeleteSyncItem();
    EXPECT_TRUE(a.isDeleted());
    EXPECT_FALSE(a.isVisibleFlag());
    EXPECT_FALSE(a.isDoNotSync());  // it had an id: the account must learn of the deletion

    a.setVisible(true);
    a.setLocked(true);
    a.setDoNotSync(true);
    EXPECT_FALSE(a.isVisibleFlag());
    EXPECT_FALSE(a.isLocked());
    EXPECT_FALSE(a.isDoNotSync());

    a.setModifiedTime(100);
    a.UndeleteSyncItem();
    EXPECT_FALSE(a.isDeleted());
    EXPECT_TRUE(a.isVisibleFlag());
    EXPECT_GT(a.getModifiedTime(), 100);
}

TEST(Tombstones, KeptOnlyWhileTheAccountStillNeedsToHear) {
    const double now = CHeartbeat::Timestamp();
    const double day = 86400;

    // Never synchronised: nothing to tell the account, gone at the next purge.
    Item neverSynced;
    neverSynced.DeleteSyncItem();
    EXPECT_TRUE(neverSynced.isDoNotSync());
    EXPECT_FALSE(neverSynced.NeedsSyncToCloud(0));
    EXPECT_TRUE(neverSynced.CanPurgeTombstone(0, now));

    Item synced;
    synced.GetObjectID();
    synced.DeleteSyncItem();
    EXPECT_TRUE(synced.NeedsSyncToCloud(now - day));
    EXPECT_FALSE(synced.CanPurgeTombstone(now - day, now));
    EXPECT_FALSE(synced.CanPurgeTombstone(now - day, now + 13 * day));
    EXPECT_TRUE(synced.CanPurgeTombstone(now - day, now + 14 * day + 1));  // too old to keep
    EXPECT_TRUE(synced.CanPurgeTombstone(now + 1, now));                   // already sent

    Item alive;
    alive.setModifiedTime(0);
    EXPECT_FALSE(alive.CanPurgeTombstone(-1, now + 1000 * day));

    std::vector<Item*> raw{new Item, new Item, new Item};
    raw[0]->DeleteSyncItem();
    raw[2]->GetObjectID();
    raw[2]->DeleteSyncItem();
    Item* keepLive = raw[1];
    Item* keepTomb = raw[2];
    EXPECT_EQ(PurgeTombstones(raw, now - day, now), 1u);
    EXPECT_EQ(raw, (std::vector<Item*>{keepLive, keepTomb}));
    for (Item* p : raw) delete p;

    std::list<std::unique_ptr<Item>> owned;
    owned.push_back(std::make_unique<Item>());
    owned.back()->DeleteSyncItem();
    EXPECT_EQ(PurgeTombstones(owned, 0, now), 1u);
    EXPECT_TRUE(owned.empty());
}

TEST(SyncFlags, NeedsSyncRespectsDoNotSyncAndTime) {
    Item a;
    a.setModifiedTime(1000);
    EXPECT_TRUE(a.NeedsSyncToCloud(999));
    EXPECT_FALSE(a.NeedsSyncToCloud(1000));
    a.setDoNotSync(true);
    EXPECT_FALSE(a.NeedsSyncToCloud(0));
}

TEST(SyncCategory, RenamingAFolderMovesItsContents) {
    struct Case {
        const char* category;
        const char* newPath;
        const char* oldPath;
        const char* expected;
    };
    const Case cases[] = {
        {"Boats/Sail", "Ships", "Boats", "Ships/Sail"},
        {"Boats/Sail/Small", "Fleet/Boats", "Boats", "Fleet/Boats/Sail/Small"},
        {"Boats/Sail", "", "Boats", "Sail"},  // lifted to the top, separator dropped
        {"Boats", "", "Boats", ""},
        {"Boats", "Ships", "Boats", "Ships"},
        {"Harbours", "Ships", "Boats", "Ships"},  // not under the old folder
        {"Harbours", "", "", "Harbours"},         // nothing to rename
    };
    for (const Case& c : cases) {
        Item a;
        a.setCategory(c.category);
        a.setModifiedTime(100);
        a.changeCategoryPath(c.newPath, c.oldPath);
        EXPECT_EQ(a.getCategory(), c.expected) << c.category << " " << c.oldPath << "->" << c.newPath;
        EXPECT_GT(a.getModifiedTime(), 100);
    }
}

TEST(SyncSearch, CaseInsensitiveIncludingAccentedLetters) {
    Item a;
    a.setName("Île de Ré anchorage");
    a.setDescription("Good holding in SAND");
    EXPECT_TRUE(a.matches_search("île"));
    EXPECT_TRUE(a.matches_search("ANCHOR"));
    EXPECT_TRUE(a.matches_search("sand"));
    EXPECT_FALSE(a.matches_search("mud"));
    EXPECT_TRUE(a.matches_search(""));

    Item b;
    b.setName("ÎLE DE RÉ ANCHORAGE");
    b.setDescription("good holding in sand");
    EXPECT_TRUE(a.sameSyncableData(b));
    b.setCategory("x");
    EXPECT_FALSE(a.sameSyncableData(b));
    b.setCategory("");
    b.DeleteSyncItem();
    EXPECT_FALSE(a.sameSyncableData(b));
}

TEST_F(SyncFiles, SectionLayoutIsFixed) {
    // The online account reads this section byte by byte; its layout must not drift.
    Item a;
    a.SetObjectID(0x1122334455667788ull);
    a.setDoNotSync(true);
    a.setLocked(true);
    a.setModifiedTime(1700000000.5);
    a.setCreatedTime(1600000000.25);
    a.setVisible(false);
    ASSERT_TRUE(a.WriteFile(Path("a.nv")));
    const Bytes b = ReadAll(Path("a.nv"));
    Bytes body;
    Put<uint64_t>(body, 0x1122334455667788ull);
    body.push_back(1);
    Put<double>(body, 1700000000.5);
    body.push_back(0);
    Put<double>(body, 1600000000.25);
    body.push_back(0);
    body.push_back(1);
    EXPECT_EQ(b, FileWithSyncBody(body, "own-default"));
}

TEST_F(SyncFiles, RoundTripAndRepairOnRead) {
    Item a;
    a.SetObjectID(77);
    a.setLocked(true);
    a.own = "payload";
    a.setModifiedTime(5000);
    a.setCreatedTime(4000);
    ASSERT_TRUE(a.WriteFile(Path("a.nv")));
    Item r;
    ASSERT_TRUE(r.ReadFile(Path("a.nv")));
    EXPECT_EQ(r.PeekObjectID(), 77u);
    EXPECT_TRUE(r.isLocked());
    EXPECT_TRUE(r.isVisibleFlag());
    EXPECT_FALSE(r.isDeleted());
    EXPECT_EQ(r.getModifiedTime(), 5000);
    EXPECT_EQ(r.getCreatedTime(), 4000);
    EXPECT_EQ(r.own, "payload");

    // Created after modified (a clock set wrong on some device), a deleted object stored
    // visible, and flag bytes other than 1: all repaired or understood on reading.
    Bytes body;
    Put<uint64_t>(body, 5);
    body.push_back(7);  // do-not-sync
    Put<double>(body, 2000);
    body.push_back(1);  // deleted
    Put<double>(body, 3000);
    body.push_back(1);  // visible
    body.push_back(0);
    WriteAll(Path("b.nv"), FileWithSyncBody(body));
    Item d;
    ASSERT_TRUE(d.ReadFile(Path("b.nv")));
    EXPECT_EQ(d.getCreatedTime(), 2000);
    EXPECT_EQ(d.getModifiedTime(), 2000);
    EXPECT_TRUE(d.isDeleted());
    EXPECT_FALSE(d.isVisibleFlag());
    EXPECT_TRUE(d.isDoNotSync());
    EXPECT_EQ(d.own, "tail");
}

TEST_F(SyncFiles, OlderAndNewerLayoutsStillRead) {
    // An older writer that stopped after the deleted flag.
    Bytes older;
    Put<uint64_t>(older, 9);
    older.push_back(0);
    Put<double>(older, 1234);
    older.push_back(0);
    WriteAll(Path("old.nv"), FileWithSyncBody(older));
    Item o;
    o.setCreatedTime(99999);  // would be later than the stored modified time
    o.setLocked(true);
    ASSERT_TRUE(o.ReadFile(Path("old.nv")));
    EXPECT_EQ(o.PeekObjectID(), 9u);
    EXPECT_EQ(o.getModifiedTime(), 1234);
    EXPECT_EQ(o.getCreatedTime(), 1234);
    EXPECT_TRUE(o.isVisibleFlag());
    EXPECT_TRUE(o.isLocked());  // absent fields keep what the object had
    EXPECT_EQ(o.own, "tail");

    // A newer writer that appended fields: they are skipped and the next section is
    // still found.
    Bytes newer;
    Put<uint64_t>(newer, 10);
    newer.push_back(0);
    Put<double>(newer, 50);
    newer.push_back(0);
    Put<double>(newer, 40);
    newer.push_back(1);
    newer.push_back(1);
    Put<double>(newer, 3.14);
    Put<uint32_t>(newer, 0xDEADBEEF);
    WriteAll(Path("new.nv"), FileWithSyncBody(newer, "after"));
    Item n;
    ASSERT_TRUE(n.ReadFile(Path("new.nv")));
    EXPECT_EQ(n.PeekObjectID(), 10u);
    EXPECT_EQ(n.getCreatedTime(), 40);
    EXPECT_TRUE(n.isLocked());
    EXPECT_EQ(n.own, "after");
}

TEST_F(SyncFiles, TruncatedOrCorruptSectionsFailCleanly) {
    Item a;
    a.SetObjectID(1);
    ASSERT_TRUE(a.WriteFile(Path("a.nv")));
    const Bytes good = ReadAll(Path("a.nv"));
    // A file cut inside a section is corrupt. One cut exactly between sections looks
    // like an older, shorter file: what is there is read and the rest keeps defaults.
    const size_t afterSync = 4 + 5 + 28;
    for (size_t n = 4; n < good.size(); ++n) {
        WriteAll(Path("t.nv"), Bytes(good.begin(), good.begin() + long(n)));
        Item r;
        r.own = "untouched";
        const bool boundary = n == 4 || n == afterSync;
        EXPECT_EQ(r.ReadFile(Path("t.nv")), boundary) << n;
        if (n == afterSync) {
            EXPECT_EQ(r.PeekObjectID(), 1u);
            EXPECT_EQ(r.own, "untouched");
        }
    }
    Bytes huge = good;
    huge[5] = 0xFF;  // section length far beyond the file
    huge[8] = 0x7F;
    WriteAll(Path("h.nv"), huge);
    Item r;
    EXPECT_FALSE(r.ReadFile(Path("h.nv")));
}

TEST_F(SyncFiles, GpxFileOfAnObjectWithoutGpxForm) {
    Item a;
    ASSERT_TRUE(a.WriteGPXFile(Path("x.gpx")));
    const Bytes b = ReadAll(Path("x.gpx"));
    const std::string text(b.begin(), b.end());
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\"", 0), 0u);
    EXPECT_NE(text.find("\n<!-- Don't know how to write object -->\n</gpx>\n"), std::string::npos);
    EXPECT_FALSE(FileExists(Path("x.gpx.tmp")));

    EXPECT_FALSE(a.WriteGPXFile(Path("missing-dir/x.gpx")));
    EXPECT_FALSE(FileExists(Path("missing-dir/x.gpx")));
}

}  // namespace
