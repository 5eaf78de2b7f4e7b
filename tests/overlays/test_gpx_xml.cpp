// SPDX-License-Identifier: GPL-3.0-or-later
// The XML reader and writer helpers: what other programs put in their files, broken
// structure, texts that need CDATA or entities in both directions, and GPX times.

#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "overlays/xmlnode.h"
#include "overlays/xmlwrite.h"

namespace {

std::unique_ptr<CXMLnode> Parse(const std::string& text, CXMLnode::Status* status = nullptr) {
    return CXMLnode::ParseBuffer(text.data(), text.size(), status);
}

std::string Contents(const CXMLnode* node) {
    std::string s;
    if (node) node->GetChildContents(s);
    return s;
}

// What XMLwrite_tag writes for a text.
std::string Written(const char* tag, const std::string& text) {
    QTemporaryFile tmp;
    EXPECT_TRUE(tmp.open());
    FILE* f = std::fopen(tmp.fileName().toLocal8Bit().constData(), "w+");
    EXPECT_TRUE(XMLwrite_tag(f, tag, text));
    std::rewind(f);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

}  // namespace

TEST(GpxXml, ReadsEntitiesCdataCaseAndPrefixesAsOtherProgramsWriteThem) {
    const auto root = Parse(
        "\xEF\xBB\xBF<?xml version='1.0'?>\n<!DOCTYPE gpx [<!ENTITY boom 'x'> ]>\n<!-- <gpx> in a comment -->\n"
        "<GPX><wpt LAT='1.5' lon=\"-2\" >\n  <Name>A &amp; B &lt;C&gt; &#233;&#x20AC; &boom; &</Name>\n"
        "<desc><![CDATA[<b>&amp;</b>]]></desc><gpxx:Ext><gpxx:Proximity>\n 50 \n</gpxx:Proximity></gpxx:Ext>"
        "<link href='a?b=1&amp;c=&quot;2&quot;'/></wpt></GPX>");
    ASSERT_TRUE(root);
    root->StartFindRecursive();
    const CXMLnode* gpx = root->FindNextRecursive("gpx");
    ASSERT_TRUE(gpx);
    EXPECT_EQ(root->FindNextRecursive("gpx"), nullptr);  // the comment holds no element
    const CXMLnode* wpt = gpx->FindChild("WPT");
    ASSERT_TRUE(wpt);
    EXPECT_DOUBLE_EQ(wpt->FindAttributeDbl("lat", 0), 1.5);
    EXPECT_DOUBLE_EQ(wpt->FindAttributeDbl("lon", 0), -2);
    EXPECT_EQ(wpt->FindAttributeDbl("ele", 7), 7);
    std::string text;
    ASSERT_TRUE(wpt->FindChildGetContents("name", text));
    // Undeclared entities stay as they are; none declared in the file is ever expanded.
    EXPECT_EQ(text, "A & B <C> \xC3\xA9\xE2\x82\xAC &boom; &");
    ASSERT_TRUE(wpt->FindChildGetContents("desc", text));
    EXPECT_EQ(text, "<b>&amp;</b>");  // CDATA is literal
    double p = 0;
    ASSERT_TRUE(wpt->FindChild("ext")->FindChildGetContents("proximity", p));
    EXPECT_EQ(p, 50);
    EXPECT_TRUE(wpt->FindChild("gpxx:Ext"));
    EXPECT_FALSE(wpt->FindChild("other:Ext"));
    ASSERT_TRUE(wpt->FindChild("link"));
    EXPECT_EQ(*wpt->FindChild("link")->FindAttribute("href"), "a?b=1&c=\"2\"");
}

TEST(GpxXml, BrokenStructureIsReadAsFarAsItMakesSense) {
    CXMLnode::Status st;
    // An element left open, a stray closing tag, an unquoted attribute, a lone "<".
    auto root = Parse("<gpx><wpt lat=\"1\" lon=\"2\"><name>x < y</wpt></trk><wpt lat=3 lon=\"4\"/><trk/></gpx>", &st);
    ASSERT_TRUE(root);
    EXPECT_TRUE(st.warning.empty()) << st.warning;
    const CXMLnode* gpx = root->FindChild("gpx");
    ASSERT_TRUE(gpx);
    ASSERT_EQ(gpx->Children().size(), 3u);
    EXPECT_EQ(Contents(gpx->Children()[0]->FindChild("name")), "x < y");
    EXPECT_EQ(gpx->Children()[1]->FindAttributeDbl("lat", 0), 3);
    EXPECT_TRUE(gpx->Children()[2]->Is("trk"));

    // Cut short in a tag, in a quoted value, in a CDATA section, in a comment.
    for (const char* cut : {"<gpx><wpt lat=\"1\" lon=\"2\"/><wpt lat=\"5\"", "<gpx><wpt lat=\"1\" lon=\"2\"/><wpt lat=\"5",
                            "<gpx><wpt lat=\"1\" lon=\"2\"/><wpt><name><![CDATA[never ends",
                            "<gpx><wpt lat=\"1\" lon=\"2\"/><!-- never ends"}) {
        root = Parse(cut, &st);
        ASSERT_TRUE(root) << cut;
        EXPECT_FALSE(st.warning.empty()) << cut;
        ASSERT_TRUE(root->FindChild("gpx")) << cut;
        EXPECT_EQ(root->FindChild("gpx")->Children()[0]->FindAttributeDbl("lon", 0), 2) << cut;
    }

    // Deep nesting stops the reading with a warning instead of growing without end.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<a x=\"1\">";
    root = Parse("<gpx><wpt lat=\"1\" lon=\"2\"/>" + deep, &st);
    ASSERT_TRUE(root);
    EXPECT_NE(st.warning.find("nests its elements more than 256 deep"), std::string::npos) << st.warning;
    EXPECT_EQ(root->FindChild("gpx")->Children().size(), 2u);
}

TEST(GpxXml, TextsGoOutSafelyAndComeBackTheSame) {
    EXPECT_EQ(Written("name", "Pier 4"), "<name>Pier 4</name>\n");
    EXPECT_EQ(Written("name", "Fish & chips"), "<name><![CDATA[Fish & chips]]></name>\n");
    EXPECT_EQ(Written("desc", "two\nlines"), "<desc><![CDATA[two\nlines]]></desc>\n");
    EXPECT_FALSE(XMLneeds_cdata("caf\xC3\xA9 \"quoted\" 'single'"));
    EXPECT_EQ(XML_encode_ampersand("a&b&&c"), "a&amp;b&amp;&amp;c");
    EXPECT_EQ(XML_decode_ampersand(XML_encode_ampersand("a&amp;b & c")), "a&amp;b & c");

    // Whatever a text holds, the document stays well-formed and reads back as written;
    // bytes that are not UTF-8 become U+FFFD and control characters are dropped.
    const std::string texts[] = {"<tag> & \"q\" 'a' </tag>", "end ]]> of CDATA ]]]]> twice", "\n\n",
                                 "Caf\xE9 \x01\x1F\xC3\x28 ok", "\xF0\x9F\x9A\xA2 boat", "]]>"};
    for (const std::string& t : texts) {
        const std::string xml = "<r>" + Written("t", t) + "<a v=\"" + XMLattribute_text(t) + "\"/></r>";
        const auto root = Parse(xml);
        ASSERT_TRUE(root);
        const CXMLnode* r = root->FindChild("r");
        ASSERT_TRUE(r && r->FindChild("t") && r->FindChild("a")) << xml;
        std::string back;
        r->FindChild("t")->GetChildContents(back);
        EXPECT_EQ(back, XMLclean_text(t)) << xml;
        EXPECT_EQ(*r->FindChild("a")->FindAttribute("v"), XMLclean_text(t)) << xml;
    }
    EXPECT_EQ(XMLclean_text("Caf\xE9 \x01\x1F\xC3\x28"), "Caf\xEF\xBF\xBD \xEF\xBF\xBD(");

    std::string s;
    AppendFixed(s, -0.00000000001, 10);
    EXPECT_EQ(s, "0.0000000000");
    EXPECT_EQ(FormatFixed(51.123456789012, 10), "51.1234567890");
    std::string tag;
    AppendPointTag(tag, "wpt", 10, 190);  // GPX wants longitudes below 180
    EXPECT_EQ(tag, "<wpt lat=\"10.0000000000\" lon=\"-170.0000000000\">");
}

TEST(GpxXml, TimesReadWithFractionsAndZonesAndWriteAsUtc) {
    const double noon = 1714566600;  // 2024-05-01 12:30:00 UTC
    EXPECT_EQ(parse_time("2024-05-01T12:30:00Z"), noon);
    // The fraction and the zone are not read: the clock time counts as UTC.
    EXPECT_EQ(parse_time("2024-05-01T12:30:00.5+02:00"), noon);
    EXPECT_EQ(parse_time("2024-05-01T12:30:00.999-07:00"), noon);
    EXPECT_EQ(parse_time(" 2024-05-01 12:30:00"), noon);
    // Another date in between must not leave the day of the first behind.
    EXPECT_EQ(parse_time("2024-02-29T00:00:00Z"), 1709164800);
    EXPECT_EQ(parse_time("2024-05-01T12:30:01Z"), noon + 1);
    EXPECT_EQ(parse_time("1969-07-20T20:17:40Z"), -14182940);
    for (const char* bad : {"", "2024-05-01", "2024-05-01T12:30", "2024-13-01T00:00:00Z", "2024/05/01T12:30:00",
                            "99999999999-01-01T00:00:00", "garbage"})
        EXPECT_EQ(parse_time(bad), 0) << bad;

    EXPECT_EQ(format_time(noon + 0.75), "2024-05-01T12:30:00Z");
    EXPECT_EQ(format_time(1709251199), "2024-02-29T23:59:59Z");
    EXPECT_EQ(format_time(-14182940), "1969-07-20T20:17:40Z");
    EXPECT_EQ(format_time(std::nan("")), "1970-01-01T00:00:00Z");
    EXPECT_EQ(format_time(1e300), "9999-12-31T23:59:59Z");
    for (double t : {0.0, 951782400.0, 4102444799.0, -2208988800.0}) EXPECT_EQ(parse_time(format_time(t)), t);
}
