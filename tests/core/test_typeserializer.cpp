// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstring>
#include <string>

#include "core/typeserializer.h"

namespace {

std::string U32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

// One declaration routine used for both directions, as real callers do.
struct Record {
    int id = 0;
    std::string name;
    char blob[8] = {};
    int blobSize = sizeof(blob);
    bool Declare(CTypeSerializer& s) {
        return s.declaremagic(0x5EED) && s.declare(&id, sizeof id) && s.declare(name) && s.declaresize(blob, blobSize);
    }
};

TEST(TypeSerializer, FileRoundTripAndWireLayout) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/t.bin";
    Record out;
    out.id = 7;
    out.name = "A\xE9";
    std::memcpy(out.blob, "xyz", 3);
    out.blobSize = 3;
    {
        CTypeFileOut f(path);
        ASSERT_TRUE(out.Declare(f));
        EXPECT_EQ(f.count, 4 + 4 + 4 + 4 + 4 + 3);
        ASSERT_TRUE(f.Close());
    }
    Record in;
    CTypeFileIn f(path);
    ASSERT_TRUE(in.Declare(f));
    EXPECT_EQ(in.id, 7);
    EXPECT_EQ(in.name, "A\xE9");
    EXPECT_EQ(in.blobSize, 3);
    EXPECT_EQ(std::string(in.blob, 3), "xyz");
    // Nothing left: a further read fails and stays failed.
    int extra = 0;
    EXPECT_FALSE(f.declare(&extra, sizeof extra));
    EXPECT_FALSE(f.ok);
    EXPECT_FALSE(f.declaremagic(0));
}

TEST(TypeSerializer, WideStringsSignExtendBytes) {
    CTypeMemoryOut out;
    ASSERT_TRUE(out.put(std::string("a\x80\xFF", 3)));
    EXPECT_EQ(out.Data(), U32(3) + std::string("a\0\x80\xFF\xFF\xFF", 6));
    CTypeMemoryIn in(out.Data());
    std::string back;
    ASSERT_TRUE(in.get(back));
    EXPECT_EQ(back, std::string("a\x80\xFF", 3));

    CTypeMemoryOut narrow;
    narrow.wide = false;
    ASSERT_TRUE(narrow.put("hi"));
    EXPECT_EQ(narrow.Data(), U32(2) + "hi");
}

TEST(TypeSerializer, LimitsRejectCorruptCounts) {
    {
        CTypeMemoryIn in(U32(100001) + std::string(10, 'x'));
        std::string s = "keep";
        EXPECT_FALSE(in.get(s));
        EXPECT_EQ(s, "keep");
        EXPECT_FALSE(in.ok);
    }
    {
        CTypeMemoryIn in(U32(100000));  // allowed count, but the data is missing
        std::string s;
        EXPECT_FALSE(in.get(s));
    }
    for (uint32_t n : {1000001u, 0xFFFFFFFFu}) {
        CTypeMemoryIn in(U32(n) + std::string(20, 'x'));
        char buf[16];
        int size = sizeof buf;
        EXPECT_FALSE(in.getsize(buf, size)) << n;
    }
}

TEST(TypeSerializer, SizedBlockLargerThanBufferIsSkipped) {
    CTypeMemoryOut out;
    std::string big(3000, 'q');
    big[0] = 'A';
    ASSERT_TRUE(out.putsize(big.data(), int(big.size())));
    int after = 1234;
    ASSERT_TRUE(out.declare(&after, sizeof after));

    CTypeMemoryIn in(out.Data());
    char buf[10];
    int size = sizeof buf;
    ASSERT_TRUE(in.getsize(buf, size));
    EXPECT_EQ(size, 10);
    EXPECT_EQ(buf[0], 'A');
    int back = 0;
    ASSERT_TRUE(in.declare(&back, sizeof back));
    EXPECT_EQ(back, 1234);
    EXPECT_EQ(in.Remaining(), 0u);
}

TEST(TypeSerializer, GetstrAlwaysTerminates) {
    CTypeMemoryOut out;
    out.put("abcdef");
    out.put("ab");
    CTypeMemoryIn in(out.Data());
    char small[4];
    ASSERT_TRUE(in.getstr(small, sizeof small));
    EXPECT_STREQ(small, "abc");
    char large[8];
    std::memset(large, 'z', sizeof large);
    ASSERT_TRUE(in.getstr(large, sizeof large));
    EXPECT_STREQ(large, "ab");
}

TEST(TypeSerializer, DirectionsRefuseTheOtherWay) {
    CTypeMemoryIn in(U32(1));
    EXPECT_FALSE(in.put("x"));
    EXPECT_FALSE(in.ok);
    CTypeMemoryOut out;
    std::string s;
    EXPECT_FALSE(out.get(s));
    EXPECT_FALSE(out.ok);

    CTypeFileIn missing("/nonexistent/dir/file.bin");
    EXPECT_FALSE(missing.ok);
    int v = 0;
    EXPECT_FALSE(missing.declare(&v, sizeof v));
}

}  // namespace
