// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <clocale>
#include <fstream>
#include <iterator>
#include <string>

#include "core/apppaths.h"
#include "core/attributes.h"

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

TEST(Attributes, QueryStringParsing) {
    CAttributes a;
    a.AddString("a=1&b=&=3& c = x+y%41");
    EXPECT_EQ(a.Size(), 2u);
    EXPECT_EQ(a.Get("a"), "1");
    EXPECT_EQ(a.Get("c"), "x yA");
    EXPECT_FALSE(a.Has("b"));

    CAttributes b;
    b.AddString("novalue&k=v=w&x=%4a%4A");
    EXPECT_EQ(b.Size(), 2u);
    EXPECT_EQ(b.Get("k"), "v=w");  // split at the first "="
    EXPECT_EQ(b.Get("x"), "JJ");
}

TEST(Attributes, UnescapeOddPercentSigns) {
    EXPECT_EQ(CAttributes::Unescape("ab%zzcd"), "ab%zzcd");
    EXPECT_EQ(CAttributes::Unescape("%4"), "");
    EXPECT_EQ(CAttributes::Unescape("abc%"), "abc");
    EXPECT_EQ(CAttributes::Unescape("abc%4"), "abc");
    EXPECT_EQ(CAttributes::Unescape("abc%41"), "abcA");
    EXPECT_EQ(CAttributes::Unescape("%g1%41"), "%g1A");
    EXPECT_EQ(CAttributes::Unescape("%00x"), std::string("\0x", 2));
}

TEST(Attributes, EscapingRoundTripsEveryByte) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    const std::string esc = CAttributes::Escape(all);
    EXPECT_EQ(esc.find_first_of("&=\n\r %#+"), esc.find('%'));  // only "%" escapes appear
    EXPECT_NE(esc.find("%0a"), std::string::npos);              // lower-case hex
    EXPECT_EQ(CAttributes::Unescape(esc), all);
    EXPECT_EQ(CAttributes::Escape("a b$-_.!*'()~"), "a+b$-_.!*'()%7e");
}

TEST(Attributes, TextForms) {
    CAttributes a;
    a.Set("b", "two words");
    a.Set("a", "x&y=z");
    a.Set("empty", "");
    EXPECT_EQ(a.ToText(), "a=x&y=z\nb=two words");
    EXPECT_EQ(a.ToString(), "a=x%26y%3dz&b=two+words");
    CAttributes back;
    back.AddString(a.ToString());
    EXPECT_EQ(back.Get("a"), "x&y=z");
    EXPECT_EQ(back.Get("b"), "two words");

    std::string present = "unchanged";
    EXPECT_TRUE(a.GetIfPresent("empty", present));
    EXPECT_EQ(present, "");
    EXPECT_FALSE(a.GetIfPresent("missing", present));
    EXPECT_EQ(a.GetStr("missing", "dflt"), "dflt");

    CAttributes merged;
    merged.Set("b", "old");
    merged.Set("empty", "kept");
    merged.Add(a);
    EXPECT_EQ(merged.Get("b"), "two words");
    EXPECT_EQ(merged.Get("empty"), "kept");
    merged.Set("sp", "  \t padded \r\n");
    merged.TrimAllSpaces();
    EXPECT_EQ(merged.Get("sp"), "padded");
    merged.Clear("sp");
    EXPECT_FALSE(merged.GetIfPresent("sp", present));
}

TEST(Attributes, TypedValues) {
    CAttributes a;
    a.SetInt("hex", 255);
    a.SetInt("neg", -1);
    a.SetIntD("dec", -42);
    a.SetDecimal("d", 0.5);
    a.SetNumberedInt("list", 3, 9);
    a.SetNumbered("list", 4, "four");
    EXPECT_EQ(a.Get("hex"), "0xff");
    EXPECT_EQ(a.Get("neg"), "0xffffffff");
    EXPECT_EQ(a.GetInt("neg", 0), -1);
    EXPECT_EQ(a.GetInt("dec", 0), -42);
    EXPECT_EQ(a.Get("d"), "0.5000000000");
    EXPECT_DOUBLE_EQ(a.GetDecimal("d", 0), 0.5);
    EXPECT_EQ(a.Get("list[3]"), "0x9");
    EXPECT_EQ(a.GetNumberedInt("list", 3), 9);
    EXPECT_EQ(a.GetNumbered("list", 4), "four");
    EXPECT_EQ(a.GetNumberedInt("list", 5), 0);

    a.Set("oct", "010");
    a.Set("spaces", "  12");
    a.Set("junk", "abc");
    a.Set("djunk", "x1.5");
    a.Set("huge", "99999999999999999999999");
    EXPECT_EQ(a.GetInt("oct", 0), 8);
    EXPECT_EQ(a.GetInt("spaces", 0), 12);
    EXPECT_EQ(a.GetInt("junk", 5), 5);
    EXPECT_EQ(a.GetInt("missing", 6), 6);
    EXPECT_EQ(a.GetDecimal("djunk", 2.5), 2.5);
    a.GetInt("huge", 0);  // must not crash; value unspecified

    for (const char* t : {"True", "true", "1", "t"}) {
        a.Set("b", t);
        EXPECT_TRUE(a.GetBool("b")) << t;
    }
    for (const char* t : {"False", "0", "yes", ""}) {
        a.Set("b", t);
        EXPECT_FALSE(a.GetBool("b")) << t;
    }
    EXPECT_FALSE(a.GetBool("missing"));

    const unsigned char bytes[3] = {0x00, 0xAB, 0x7F};
    a.SetData("data", bytes, 3);
    EXPECT_EQ(a.Get("data"), "00ab7f");
    unsigned char back[5] = {1, 1, 1, 1, 1};
    EXPECT_EQ(a.GetData("data", back, 5), 3);
    EXPECT_EQ(back[1], 0xAB);
    EXPECT_EQ(back[3], 1);
    EXPECT_EQ(a.GetData("data", back, 2), 2);
    a.Set("odd", "ABc");  // upper case accepted, odd tail ignored
    EXPECT_EQ(a.GetData("odd", back, 5), 1);
    EXPECT_EQ(back[0], 0xAB);
}

TEST(Attributes, DecimalsIgnoreTheCLocale) {
    const std::string old = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
        GTEST_SKIP() << "no locale with a decimal comma installed";
    }
    CAttributes a;
    a.SetDecimal("d", 1.25);
    a.Set("e", "2.75");
    const std::string written = a.Get("d");
    const double read = a.GetDecimal("e", 0);
    std::setlocale(LC_NUMERIC, old.c_str());
    EXPECT_EQ(written, "1.250000000");
    EXPECT_DOUBLE_EQ(read, 2.75);
}

TEST(Attributes, FileRoundTripAndLineRules) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/a.ini";
    {
        std::ofstream f(path, std::ios::binary);
        f << "# comment\n"
          << "   \t# indented comment=x\n"
          << "\n   \n"
          << "plain=1\r\n"
          << "nul=a" << '\0' << "b\n"
          << "multi=1&second=2\n"
          << "esc=a%0ab\n"
          << "last=no newline";
    }
    CAttributes a;
    ASSERT_TRUE(a.AddFile(path));
    EXPECT_EQ(a.Get("plain"), "1");
    EXPECT_EQ(a.Get("nul"), "ab");
    EXPECT_EQ(a.Get("second"), "2");
    EXPECT_EQ(a.Get("esc"), "a\nb");
    EXPECT_EQ(a.Get("last"), "no newline");
    EXPECT_FALSE(a.Has("# indented comment"));
    EXPECT_EQ(a.Size(), 6u);

    a.Set("tricky", "x=y&z\r\n%#");
    ASSERT_TRUE(a.ToFile(path));
    EXPECT_FALSE(FileExists(path + ".tmp"));
    CAttributes back;
    ASSERT_TRUE(back.AddFile(path));
    EXPECT_EQ(back.Pairs(), a.Pairs());
    EXPECT_EQ(ReadText(path).find("tricky=x%3dy%26z%0d%0a%25%23\n") != std::string::npos, true);

    EXPECT_FALSE(a.AddFile(path + ".missing"));
    EXPECT_FALSE(a.ToFile(path + "/not/a/dir.ini"));
    CAttributes reread;
    reread.AddFile(path);
    EXPECT_EQ(reread.Pairs(), a.Pairs());  // the failed write touched nothing
}

TEST(Attributes, OverlongLineEndsReading) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/long.ini";
    {
        std::ofstream f(path, std::ios::binary);
        f << "first=1\n"
          << "long=" << std::string(1000001, 'x') << "\nafter=2\n";
    }
    CAttributes a;
    EXPECT_TRUE(a.AddFile(path));
    EXPECT_EQ(a.Get("first"), "1");
    EXPECT_FALSE(a.Has("long"));
    EXPECT_FALSE(a.Has("after"));
}

}  // namespace
