// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "core/apppaths.h"
#include "core/attributes.h"
#include "core/persistantdata.h"

namespace {

struct TestSettings : PersistantData {
    TestSettings() : PersistantData("CTestSettings") {}
    void Reset() { *this = Values(); }
    struct Values {
        int count = 3;
        bool flag = true;
        float ratio = 0.25f;
        double scale = 1.5;
        std::string label = "default";
        GraphicsColor colour{10, 20, 30, 40};
        std::vector<std::string> names{"x"};
        std::set<std::string> tags;
        unsigned char raw[4] = {1, 2, 3, 4};
    } v;
    TestSettings& operator=(const Values& values) {
        v = values;
        return *this;
    }
    void DeclareData() override {
        Declare("count", v.count);
        Declare("flag", v.flag);
        Declare("ratio", v.ratio);
        Declare("scale", v.scale);
        Declare("label", v.label);
        Declare("colour", v.colour);
        Declare("names", v.names);
        Declare("tags", v.tags);
        Declare("raw", v.raw, sizeof v.raw);
    }
};

struct OtherSettings : PersistantData {
    OtherSettings() : PersistantData("COther") {}
    int level = 1;
    void DeclareData() override { Declare("level", level); }
};

TestSettings g_settings;
OtherSettings g_other;

class PersistantDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_settings.Reset();
        g_settings.SetChanged(false);
        g_other.level = 1;
        g_other.SetChanged(false);
        // Each test gets its own settings file.
        app = std::string("Settings_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::remove(PersistantData::Filename(app).c_str());
    }
    void WriteSettings(const std::string& text) {
        std::ofstream f(PersistantData::Filename(app), std::ios::binary | std::ios::trunc);
        f << text;
    }
    CAttributes ReadSettings() {
        CAttributes a;
        a.AddFile(PersistantData::Filename(app));
        return a;
    }
    std::string app;
};

TEST_F(PersistantDataTest, LoadAppliesStoredValuesAndKeepsDefaultsForMissingKeys) {
    WriteSettings(
        "CTestSettings:count=0x10\n"
        "CTestSettings:flag=0\n"
        "CTestSettings:scale=0.5\n"
        "CTestSettings:ratio=2.5\n"
        "CTestSettings:label=hello+world\n"
        "CTestSettings:colour=#F00\n"
        "CTestSettings:names:n=3\n"
        "CTestSettings:names[0]=a\n"
        "CTestSettings:names[2]=c\n"
        "CTestSettings:tags:n=2\n"
        "CTestSettings:tags[0]=b\n"
        "CTestSettings:tags[1]=a\n"
        "CTestSettings:raw=0a0b\n"
        "COther:level=7\n");
    PersistantData::LoadAll(app);
    EXPECT_EQ(PersistantData::AppName(), app);
    EXPECT_EQ(g_settings.v.count, 16);
    EXPECT_FALSE(g_settings.v.flag);
    EXPECT_DOUBLE_EQ(g_settings.v.scale, 0.5);
    EXPECT_FLOAT_EQ(g_settings.v.ratio, 2.5f);
    EXPECT_EQ(g_settings.v.label, "hello world");
    EXPECT_EQ(g_settings.v.colour, GraphicsColor(240, 0, 0, 255));
    EXPECT_EQ(g_settings.v.names, (std::vector<std::string>{"a", "", "c"}));
    EXPECT_EQ(g_settings.v.tags, (std::set<std::string>{"a", "b"}));
    EXPECT_EQ(g_settings.v.raw[0], 0x0a);
    EXPECT_EQ(g_settings.v.raw[1], 0x0b);
    EXPECT_EQ(g_settings.v.raw[2], 3);  // a short block leaves the rest
    EXPECT_EQ(g_other.level, 7);
    EXPECT_FALSE(g_settings.IsChanged());

    // A missing file changes nothing.
    g_settings.Reset();
    std::remove(PersistantData::Filename(app).c_str());
    PersistantData::LoadAll(app);
    EXPECT_EQ(g_settings.v.count, 3);
    EXPECT_EQ(g_settings.v.names, std::vector<std::string>{"x"});
}

TEST_F(PersistantDataTest, ColourForms) {
    struct Case {
        const char* text;
        GraphicsColor expected;
    };
    const GraphicsColor dflt(10, 20, 30, 40);
    const Case cases[] = {
        {"#F00", {240, 0, 0, 255}},
        {"#8F00", {240, 0, 0, 128}},
        {"#00FF80", {0, 255, 128, 255}},
        {"#80FF0001", {255, 0, 1, 128}},
        {"#ff00aa", {255, 0, 170, 255}},
        {"#12345", dflt},
        {"#GGG", dflt},
        {"red", dflt},
    };
    for (const Case& c : cases) {
        g_settings.Reset();
        WriteSettings(std::string("CTestSettings:colour=") + CAttributes::Escape(c.text) + "\n");
        PersistantData::LoadAll(app);
        EXPECT_EQ(g_settings.v.colour, c.expected) << c.text;
    }

    // The raw four-float form of older files, under the plain key only when the key has
    // no string value; a negative red means "not stored".
    CAttributes raw;
    const float f[4] = {1.0f, 0.0f, 0.5f, 1.0f};
    raw.SetData("CTestSettings:colour", f, sizeof f);
    WriteSettings("CTestSettings:colour=" + raw.Get("CTestSettings:colour") + "\n");
    g_settings.Reset();
    PersistantData::LoadAll(app);
    // Hex digits without "#" are a non-empty string: the colour stays.
    EXPECT_EQ(g_settings.v.colour, dflt);

    g_settings.v.colour = GraphicsColor(1, 2, 3, 4);
    g_settings.SetChanged();
    PersistantData::SaveAll();
    EXPECT_EQ(ReadSettings().Get("CTestSettings:colour"), "#04010203");
}

TEST_F(PersistantDataTest, FloatingPointIsStoredAsRawHex) {
    WriteSettings("CTestSettings:scale=0.5\nCTestSettings:ratio=0000c03f\n");
    PersistantData::LoadAll(app);
    EXPECT_DOUBLE_EQ(g_settings.v.scale, 0.5);
    EXPECT_FLOAT_EQ(g_settings.v.ratio, 1.5f);

    g_settings.v.scale = 0.1;  // not exact in decimal; must survive bit for bit
    g_settings.SetChanged();
    PersistantData::SaveAll();
    const CAttributes stored = ReadSettings();
    EXPECT_EQ(stored.Get("CTestSettings:scale"), "9a9999999999b93f");
    EXPECT_EQ(stored.Get("CTestSettings:ratio"), "0000c03f");

    g_settings.v.scale = 0;
    PersistantData::LoadAll(app);
    EXPECT_EQ(g_settings.v.scale, 0.1);

    // Too short or not hexadecimal: the value stays.
    WriteSettings("CTestSettings:scale=abcd\nCTestSettings:ratio=zz00c03f\n");
    PersistantData::LoadAll(app);
    EXPECT_EQ(g_settings.v.scale, 0.1);
    EXPECT_FLOAT_EQ(g_settings.v.ratio, 1.5f);
}

TEST_F(PersistantDataTest, SaveKeepsUnknownKeysAndUnchangedObjects) {
    WriteSettings("Unknown:key=kept\nCOther:level=9\nCTestSettings:count=0x5\n");
    PersistantData::LoadAll(app);
    EXPECT_EQ(g_other.level, 9);

    // Nothing changed: the file is not rewritten.
    WriteSettings("Unknown:key=kept\nCOther:level=9\nCTestSettings:count=0x5\nmarker=1\n");
    PersistantData::SaveAll();
    EXPECT_EQ(ReadSettings().Get("marker"), "1");

    g_other.level = 99;  // changed in memory but not flagged: its stored value stays
    g_settings.v.count = 12;
    g_settings.v.names = {"p", "q"};
    g_settings.v.tags = {"t"};
    g_settings.SetChanged();
    PersistantData::SaveAll();
    EXPECT_FALSE(g_settings.IsChanged());
    EXPECT_FALSE(FileExists(PersistantData::Filename(app) + ".tmp"));

    const CAttributes stored = ReadSettings();
    EXPECT_EQ(stored.Get("Unknown:key"), "kept");
    EXPECT_EQ(stored.Get("COther:level"), "9");  // written as found
    EXPECT_EQ(stored.Get("CTestSettings:count"), "0xc");
    EXPECT_EQ(stored.Get("CTestSettings:flag"), "1");
    EXPECT_EQ(stored.Get("CTestSettings:names:n"), "2");
    EXPECT_EQ(stored.Get("CTestSettings:names[1]"), "q");
    EXPECT_EQ(stored.Get("CTestSettings:tags[0]"), "t");

    // Lists shrink on the next load from the saved count.
    g_settings.Reset();
    PersistantData::LoadAll(app);
    EXPECT_EQ(g_settings.v.names, (std::vector<std::string>{"p", "q"}));
    EXPECT_EQ(g_settings.v.count, 12);
}

TEST_F(PersistantDataTest, SetValueChangesOnlyItsField) {
    g_settings.v.names = {"keep", "these"};
    g_settings.v.count = 8;
    ASSERT_TRUE(PersistantData::SetValue("CTestSettings:label", "new label"));
    EXPECT_EQ(g_settings.v.label, "new label");
    EXPECT_EQ(g_settings.v.count, 8);
    EXPECT_EQ(g_settings.v.names, (std::vector<std::string>{"keep", "these"}));
    EXPECT_EQ(g_settings.v.colour, GraphicsColor(10, 20, 30, 40));
    EXPECT_DOUBLE_EQ(g_settings.v.scale, 1.5);
    EXPECT_TRUE(g_settings.IsChanged());
    EXPECT_FALSE(g_other.IsChanged());

    ASSERT_TRUE(PersistantData::SetValue("CTestSettings:scale", "2.25"));
    EXPECT_DOUBLE_EQ(g_settings.v.scale, 2.25);

    std::string out;
    ASSERT_TRUE(PersistantData::GetValue("CTestSettings:count", out));
    EXPECT_EQ(out, "0x8");
    ASSERT_TRUE(PersistantData::GetValue("CTestSettings:colour", out));
    EXPECT_EQ(out, "#280A141E");
    EXPECT_FALSE(PersistantData::GetValue("CTestSettings:nosuchfield", out));
    EXPECT_FALSE(PersistantData::GetValue("Nobody:x", out));
    EXPECT_FALSE(PersistantData::SetValue("Nobody:x", "1"));

    EXPECT_EQ(PersistantData::find_persistor("COther:level"), &g_other);
    EXPECT_EQ(PersistantData::find_persistor("CTestSettings:x"), &g_settings);
    EXPECT_EQ(PersistantData::find_persistor("CTest"), nullptr);
}

TEST_F(PersistantDataTest, HostileListCountsAndNumberedNames) {
    WriteSettings("CTestSettings:names:n=-5\nCTestSettings:tags:n=0x7fffffff\nCTestSettings:tags[3]=z\n");
    PersistantData::LoadAll(app);
    EXPECT_TRUE(g_settings.v.names.empty());
    EXPECT_EQ(g_settings.v.tags, (std::set<std::string>{"", "z"}));

    EXPECT_STREQ(PersistantData::Numbered("field", 12), "field[12]");
    const std::string longName(300, 'f');
    const std::string numbered = PersistantData::Numbered(longName.c_str(), -1);
    EXPECT_EQ(numbered, std::string(180, 'f') + "[-1]");
}

TEST_F(PersistantDataTest, FilenameLivesInTheAppDirectory) {
    EXPECT_EQ(PersistantData::Filename("Navora"), getAppDirectory() + "/Navora.ini");
}

}  // namespace
