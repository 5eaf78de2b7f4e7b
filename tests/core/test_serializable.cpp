// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/apppaths.h"
#include "core/serializable.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

void WriteAll(const std::string& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

void PutU32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

Bytes FileHeader() {
    Bytes b;
    PutU32(b, CSerializable::kFileMagic);
    return b;
}

// An older layout and a newer one that appended fields to the same section.
struct RecordV1 : CSerializable {
    int a = -1;
    std::string name = "default";
    bool Serialize(IOStream& s) override {
        Section sec(s);
        return sec.declare_value(a) && sec.declare(name);
    }
};

struct RecordV2 : CSerializable {
    int a = -1;
    std::string name = "default";
    double extra = 7.5;
    std::string more = "more-default";
    bool Serialize(IOStream& s) override {
        Section sec(s);
        return sec.declare_value(a) && sec.declare(name) && sec.declare_value(extra) && sec.declare(more);
    }
};

// Two records one after the other in one file.
template <class First, class Second>
struct Pair : CSerializable {
    First first;
    Second second;
    bool Serialize(IOStream& s) override { return first.Serialize(s) && second.Serialize(s); }
};

class SerializableTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }
    QTemporaryDir dir;
};

TEST_F(SerializableTest, NewerAndOlderLayoutsReadEachOther) {
    const std::string path = Path("records.dat");
    {
        Pair<RecordV2, RecordV1> out;
        out.first.a = 11;
        out.first.name = "first";
        out.first.extra = 1.25;
        out.first.more = "appended";
        out.second.a = 22;
        out.second.name = "second";
        ASSERT_TRUE(out.WriteFile(path, {}, 0x12345678));
    }
    // An older reader skips the appended fields and still finds the next record.
    Pair<RecordV1, RecordV1> older;
    ASSERT_TRUE(older.ReadFile(path, {}, 0x12345678));
    EXPECT_EQ(older.first.a, 11);
    EXPECT_EQ(older.first.name, "first");
    EXPECT_EQ(older.second.a, 22);
    EXPECT_EQ(older.second.name, "second");

    // A newer reader of an older section keeps the defaults of the missing fields.
    Pair<RecordV2, RecordV2> newer;
    ASSERT_TRUE(newer.ReadFile(path, {}, 0x12345678));
    EXPECT_EQ(newer.first.more, "appended");
    EXPECT_EQ(newer.second.a, 22);
    EXPECT_EQ(newer.second.name, "second");
    EXPECT_EQ(newer.second.extra, 7.5);
    EXPECT_EQ(newer.second.more, "more-default");

    EXPECT_EQ(CSerializable::readMagic(path), 0x12345678u);
    EXPECT_FALSE(older.ReadFile(path, {}, 0x12345679));
}

TEST_F(SerializableTest, ByteLayoutOfFileAndSections) {
    const std::string path = Path("layout.dat");
    RecordV1 r;
    r.a = 0x01020304;
    r.name = "xy";
    ASSERT_TRUE(r.WriteFile(path, {}, int(0xCA2EAF82)));
    const Bytes expected = {0x49, 0xF2, 0xAC, 0x73,                               // file magic
                            0xBE, 9,    0,    0,    0,   0x82, 0xAF, 0x2E, 0xCA,  // class magic section
                            0xBE, 15,   0,    0,    0,   4,    3,    2,    1,     // record section, a
                            2,    0,    0,    0,    'x', 'y'};
    EXPECT_EQ(ReadAll(path), expected);
    EXPECT_EQ(CSerializable::readMagic(path), 0xCA2EAF82u);
    EXPECT_FALSE(FileExists(path + ".tmp"));
}

TEST_F(SerializableTest, ByteThatIsNotASectionIsLeftForTheNextReader) {
    const std::string path = Path("nosection.dat");
    Bytes b = FileHeader();
    b.push_back(0x07);
    WriteAll(path, b);

    CSerializable::InStream in(path);
    uint32_t magic = 0;
    ASSERT_TRUE(in.ReadU32(magic));
    {
        CSerializable::Section sec(in);
        int v = 42;
        EXPECT_TRUE(sec.AtEnd());
        EXPECT_TRUE(sec.declare_value(v));
        EXPECT_EQ(v, 42);
    }
    unsigned char next = 0;
    ASSERT_TRUE(in.Read(&next, 1));
    EXPECT_EQ(next, 0x07);
}

TEST_F(SerializableTest, ArrayRecordsSurviveGrowingAndShrinking) {
    struct Small {
        int32_t x, y;
    };
    struct Big {
        int32_t x, y, z;
    };
    const std::string path = Path("array.dat");
    {
        CSerializable::OutStream out(path);
        CSerializable::Section sec(out);
        Small rec[3] = {{1, 2}, {3, 4}, {5, 6}};
        ASSERT_TRUE(sec.declare_array(rec, sizeof(Small), 3));
    }
    {
        // Reader's records are larger: tails keep what they held.
        CSerializable::InStream in(path);
        CSerializable::Section sec(in);
        Big rec[3] = {{0, 0, -9}, {0, 0, -9}, {0, 0, -9}};
        ASSERT_TRUE(sec.declare_array(rec, sizeof(Big), 3));
        EXPECT_EQ(rec[1].x, 3);
        EXPECT_EQ(rec[2].y, 6);
        EXPECT_EQ(rec[2].z, -9);
    }
    {
        // Reader's records are smaller: the surplus of each is skipped.
        CSerializable::InStream in(path);
        CSerializable::Section sec(in);
        int32_t xs[3] = {};
        ASSERT_TRUE(sec.declare_array(xs, sizeof(int32_t), 3));
        EXPECT_EQ(xs[0], 1);
        EXPECT_EQ(xs[1], 3);
        EXPECT_EQ(xs[2], 5);
    }
}

TEST_F(SerializableTest, VariableBlockLongerOrShorterThanBuffer) {
    const std::string path = Path("vblock.dat");
    {
        CSerializable::OutStream out(path);
        CSerializable::Section sec(out);
        char six[6] = {'a', 'b', 'c', 'd', 'e', 'f'};
        char two[2] = {'x', 'y'};
        int tail = 99;
        ASSERT_TRUE(sec.declare_vblock(six, 6) && sec.declare_vblock(two, 2) && sec.declare_value(tail));
    }
    CSerializable::InStream in(path);
    CSerializable::Section sec(in);
    char small[3] = {};
    char large[4] = {'-', '-', '-', '-'};
    int tail = 0;
    ASSERT_TRUE(sec.declare_vblock(small, 3) && sec.declare_vblock(large, 4) && sec.declare_value(tail));
    EXPECT_EQ(std::string(small, 3), "abc");
    EXPECT_EQ(std::string(large, 4), "xy--");
    EXPECT_EQ(tail, 99);
}

struct FileRef : CSerializable {
    std::string file;
    bool Serialize(IOStream& s) override {
        Section sec(s);
        return sec.declarefilename(file);
    }
};

TEST_F(SerializableTest, FileNamesRelativeToTheObjectFile) {
    const std::string base = dir.path().toStdString() + "/";
    struct Case {
        std::string written, stored, readBackIn2;
    };
    QTemporaryDir other;
    const std::string base2 = other.path().toStdString() + "/";
    const std::vector<Case> cases = {
        {base + "chart.qct", "chart.qct", base2 + "chart.qct"},
        {base + "sub/chart.qct", "sub/chart.qct", base2 + "sub/chart.qct"},
        {"/elsewhere/chart.qct", "/elsewhere/chart.qct", "/elsewhere/chart.qct"},
        {"C:\\charts\\x.qct", "C:\\charts\\x.qct", "C:\\charts\\x.qct"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        FileRef out;
        out.file = c.written;
        ASSERT_TRUE(out.WriteFile(base + "ref.dat"));
        const Bytes bytes = ReadAll(base + "ref.dat");
        ASSERT_GE(bytes.size(), 13u);
        EXPECT_EQ(std::string(bytes.begin() + 13, bytes.end()), c.stored) << c.written;

        // Moved to another directory, relative names follow the file.
        ASSERT_TRUE(CopyFile(base + "ref.dat", base2 + "ref.dat"));
        FileRef in;
        ASSERT_TRUE(in.ReadFile(base2 + "ref.dat"));
        EXPECT_EQ(in.file, c.readBackIn2) << c.written;
    }
}

TEST_F(SerializableTest, ColourAndMagicDeclarations) {
    const std::string path = Path("colour.dat");
    {
        CSerializable::OutStream out(path);
        CSerializable::Section sec(out);
        GraphicsColor c(255, 0, 51, 128);
        ASSERT_TRUE(sec.declarecolor(c) && sec.declaremagic(0x1234));
    }
    EXPECT_EQ(FileSize(path), 5 + 16 + 4);
    CSerializable::InStream in(path);
    CSerializable::Section sec(in);
    GraphicsColor c;
    ASSERT_TRUE(sec.declarecolor(c));
    EXPECT_EQ(c, GraphicsColor(255, 0, 51, 128));
    EXPECT_FALSE(sec.declaremagic(0x1235));
}

// ---- corrupt input ----

TEST_F(SerializableTest, CorruptSectionLengthsMakeTheStreamUnusable) {
    for (uint32_t len : {0u, 1000000001u, 0xFFFFFFFFu}) {
        const std::string path = Path("corrupt.dat");
        Bytes b = FileHeader();
        b.push_back(0xBE);
        PutU32(b, len);
        PutU32(b, 5);
        WriteAll(path, b);
        RecordV1 r;
        EXPECT_FALSE(r.ReadFile(path)) << len;

        CSerializable::InStream in(path);
        uint32_t m;
        ASSERT_TRUE(in.ReadU32(m));
        { CSerializable::Section sec(in); }
        CSerializable::Section later(in);
        int v = 0;
        EXPECT_FALSE(later.declare_value(v)) << len;
    }
    // The largest length allowed opens the section; reading past the file then fails.
    Bytes b = FileHeader();
    b.push_back(0xBE);
    PutU32(b, 1000000000u);
    WriteAll(Path("big.dat"), b);
    RecordV1 r;
    EXPECT_FALSE(r.ReadFile(Path("big.dat")));
}

TEST_F(SerializableTest, StringLengthLimit) {
    for (uint32_t len : {1000001u, 0x80000000u}) {
        Bytes b = FileHeader();
        b.push_back(0xBE);
        PutU32(b, 1000);
        PutU32(b, 7);  // a
        PutU32(b, len);
        b.resize(b.size() + 100, 'z');
        WriteAll(Path("str.dat"), b);
        RecordV1 r;
        EXPECT_FALSE(r.ReadFile(Path("str.dat"))) << len;
    }
    // A length within the limit but beyond the file fails without a huge allocation.
    Bytes b = FileHeader();
    b.push_back(0xBE);
    PutU32(b, 2000000);
    PutU32(b, 7);
    PutU32(b, 1000000);
    WriteAll(Path("str.dat"), b);
    RecordV1 r;
    EXPECT_FALSE(r.ReadFile(Path("str.dat")));
    EXPECT_EQ(r.name, "default");
}

// ---- lists ----

struct Item : CSerializable {
    int value = 0;
    bool Serialize(IOStream& s) override {
        Section sec(s);
        if (!sec.declare_value(value)) return false;
        return s.IsWriting() || value >= 0;  // a negative value stands for an item that fails to load
    }
};

struct ItemList : CSerializable {
    std::vector<std::unique_ptr<Item>> items;
    int after = 0;
    bool Serialize(IOStream& s) override {
        Section sec(s);
        return CSerializableDeclareStatic(sec, items) && sec.declare_value(after);
    }
};

struct RawItemList : CSerializable {
    std::list<Item*> items;
    ~RawItemList() override {
        for (Item* i : items) delete i;
    }
    bool Serialize(IOStream& s) override {
        Section sec(s);
        return CSerializableDeclareStatic(sec, items);
    }
};

TEST_F(SerializableTest, HomogeneousListsDropFailedItemsAndRejectCorruptCounts) {
    const std::string path = Path("list.dat");
    {
        ItemList out;
        for (int v : {1, -5, 3}) {
            out.items.push_back(std::make_unique<Item>());
            out.items.back()->value = v;
        }
        out.after = 77;
        ASSERT_TRUE(out.WriteFile(path));
    }
    ItemList in;
    in.items.push_back(std::make_unique<Item>());  // replaced by what is read
    ASSERT_TRUE(in.ReadFile(path));
    ASSERT_EQ(in.items.size(), 2u);
    EXPECT_EQ(in.items[0]->value, 1);
    EXPECT_EQ(in.items[1]->value, 3);
    EXPECT_EQ(in.after, 77);

    RawItemList raw;
    raw.items.push_back(new Item);
    ASSERT_TRUE(raw.ReadFile(path));
    EXPECT_EQ(raw.items.size(), 2u);

    // Counts: above the limit, and a count far larger than the items present.
    for (uint32_t count : {10000001u, 5000000u}) {
        Bytes b = FileHeader();
        b.push_back(0xBE);
        PutU32(b, 5 + 4 + 9);
        PutU32(b, count);
        b.push_back(0xBE);
        PutU32(b, 9);
        PutU32(b, 4);
        WriteAll(path, b);
        ItemList bad;
        EXPECT_FALSE(bad.ReadFile(path)) << count;
        EXPECT_LE(bad.items.size(), 1u);
    }
    // A list section that ended before the list keeps it empty.
    Bytes b = FileHeader();
    b.push_back(0xBE);
    PutU32(b, 5);
    WriteAll(path, b);
    ItemList empty;
    empty.items.push_back(std::make_unique<Item>());
    ASSERT_TRUE(empty.ReadFile(path));
    EXPECT_TRUE(empty.items.empty());
}

// ---- polymorphic objects ----

struct ShapeA : CSerializable {
    std::string label;
    uint32_t GetTypeId() const override { return 900001; }
    bool Serialize(IOStream& s) override {
        Section sec(s);
        return sec.declare(label);
    }
};
struct ShapeB : CSerializable {
    int n = 0;
    uint32_t GetTypeId() const override { return 900002; }
    bool Serialize(IOStream& s) override {
        Section sec(s);
        return sec.declare_value(n) && n != 13;
    }
};
struct Unregistered : CSerializable {
    uint32_t GetTypeId() const override { return 900099; }
    bool Serialize(IOStream& s) override {
        Section sec(s);
        std::string junk(100, 'j');
        return sec.declare(junk);
    }
};
CSerializable::TypeOf<ShapeA> g_typeA(900001);
CSerializable::TypeOf<ShapeB> g_typeB(900002);

TEST_F(SerializableTest, PolymorphicObjectsSkipUnknownAndFailedOnes) {
    const std::string path = Path("poly.dat");
    // A body whose Serialize fails leaves a header of length 0; patch in the real length
    // so that the reader meets a complete object whose body fails to load.
    {
        CSerializable::OutStream out(path);
        ShapeA a;
        a.label = "one";
        Unregistered u;
        ShapeB failing;
        failing.n = 13;
        ShapeB b;
        b.n = 5;
        ASSERT_TRUE(a.WritePolymorphic(out) && u.WritePolymorphic(out));
        const long long mark = out.Position();
        failing.WritePolymorphic(out);
        ASSERT_TRUE(out.Seek(mark + 4) && out.WriteU32(4 + 5) && out.SeekToEnd());
        ASSERT_TRUE(b.WritePolymorphic(out));
    }
    CSerializable::InStream in(path);
    std::unique_ptr<CSerializable> first(CSerializable::ReadPolymorphic(in));
    ASSERT_TRUE(first && first->IsType(900001));
    EXPECT_EQ(static_cast<ShapeA*>(first.get())->label, "one");
    EXPECT_EQ(CSerializable::ReadPolymorphic(in), nullptr);  // unknown id
    EXPECT_EQ(CSerializable::ReadPolymorphic(in), nullptr);  // body fails
    std::unique_ptr<CSerializable> last(CSerializable::ReadPolymorphic(in));
    ASSERT_TRUE(last && last->IsType(900002));
    EXPECT_EQ(static_cast<ShapeB*>(last.get())->n, 5);
    EXPECT_EQ(CSerializable::ReadPolymorphic(in), nullptr);  // end of file
}

// ---- whole-file writes ----

struct Failing : CSerializable {
    bool Serialize(IOStream& s) override {
        Section sec(s);
        std::string big(5000, 'x');
        sec.declare(big);
        return false;
    }
};

TEST_F(SerializableTest, FailedWritesNeverTouchTheOldFile) {
    const std::string path = Path("keep.dat");
    RecordV1 good;
    good.a = 5;
    ASSERT_TRUE(good.WriteFile(path, {}, 0x55));
    const Bytes before = ReadAll(path);

    Failing failing;
    EXPECT_FALSE(failing.WriteFile(path, {}, 0x55));
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_FALSE(FileExists(path + ".tmp"));

    // A directory that cannot be created (its parent is a file).
    EXPECT_FALSE(good.WriteFile(path + "/sub/x.dat"));
    EXPECT_EQ(ReadAll(path), before);

    // Writing into a full device fails at some point and must not replace the file.
    if (FileExists("/dev/full")) {
        CSerializable::OutStream full("/dev/full");
        CSerializable::Section sec(full);
        std::string big(200000, 'x');
        EXPECT_FALSE(sec.declare(big) && full.Close());
    }
}

TEST_F(SerializableTest, ReadFileChecksBothMagics) {
    const std::string path = Path("magic.dat");
    Bytes b = {1, 2, 3, 4};
    WriteAll(path, b);
    RecordV1 r;
    EXPECT_FALSE(r.ReadFile(path));
    EXPECT_EQ(CSerializable::readMagic(path), 0u);
    EXPECT_FALSE(r.ReadFile(Path("missing.dat")));
    EXPECT_EQ(CSerializable::readMagic(Path("missing.dat")), 0u);

    // Without a class magic the first section is the object itself, so readMagic gives 0.
    r.a = 3;
    ASSERT_TRUE(r.WriteFile(path));
    EXPECT_EQ(CSerializable::readMagic(path), 0u);
    RecordV1 back;
    ASSERT_TRUE(back.ReadFile(path));
    EXPECT_EQ(back.a, 3);
    // Expecting a class magic where the object is: the first section is not 4 bytes of it.
    EXPECT_FALSE(back.ReadFile(path, {}, 0x77));
}

// Everything below runs a rich reader over damaged files; it passes when nothing
// crashes or hangs (the sanitizer build checks memory errors).
struct Rich : CSerializable {
    RecordV2 rec;
    std::vector<std::unique_ptr<Item>> items;
    std::string file;
    int32_t arr[4] = {};
    bool Serialize(IOStream& s) override {
        Section sec(s);
        if (!rec.Serialize(s) || !CSerializableDeclareStatic(sec, items) || !sec.declarefilename(file) ||
            !sec.declare_array(arr, sizeof(int32_t), 4))
            return false;
        if (s.IsWriting()) {
            ShapeA a;
            a.label = "poly";
            return a.WritePolymorphic(s);
        }
        std::unique_ptr<CSerializable> p(ReadPolymorphic(s));
        return true;
    }
};

TEST_F(SerializableTest, TruncatedAndGarbageFilesAreHandled) {
    const std::string path = Path("rich.dat");
    Rich out;
    out.rec.name = "rich";
    for (int i = 0; i < 5; ++i) {
        out.items.push_back(std::make_unique<Item>());
        out.items.back()->value = i;
    }
    out.file = Path("x.qct");
    ASSERT_TRUE(out.WriteFile(path, {}, 0x42));
    const Bytes whole = ReadAll(path);
    {
        Rich in;
        ASSERT_TRUE(in.ReadFile(path, {}, 0x42));
        EXPECT_EQ(in.items.size(), 5u);
        EXPECT_EQ(in.file, out.file);
    }
    const std::string damaged = Path("damaged.dat");
    for (size_t len = 0; len < whole.size(); ++len) {
        WriteAll(damaged, Bytes(whole.begin(), whole.begin() + long(len)));
        Rich in;
        in.ReadFile(damaged, {}, 0x42);
    }
    std::mt19937 rng(1234);
    for (int round = 0; round < 300; ++round) {
        Bytes b = whole;
        const int flips = 1 + int(rng() % 6);
        for (int i = 0; i < flips; ++i) b[rng() % b.size()] = static_cast<unsigned char>(rng());
        if (round % 3 == 0) {
            b.resize(4 + rng() % 64);
            for (size_t i = 4; i < b.size(); ++i) b[i] = static_cast<unsigned char>(rng());
        }
        WriteAll(damaged, b);
        Rich in;
        in.ReadFile(damaged, {}, 0x42);
    }
}

}  // namespace
