// SPDX-License-Identifier: GPL-3.0-or-later
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "charts/slicedfile.h"

namespace {

class SlicedFile : public ::testing::Test {
protected:
    std::string Path(const std::string& n) { return dir.path().toStdString() + "/" + n; }
    static long long Size(const std::string& p) { return QFileInfo(QString::fromStdString(p)).size(); }
    static void MakeFile(const std::string& p, off_t size) {
        const int fd = ::open(p.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);  // sparse
        ::close(fd);
    }
    QTemporaryDir dir;
    CMultiThreadedSlicedFile f_;
};

TEST_F(SlicedFile, OpeningRules) {
    CMultiThreadedSlicedFile f;
    EXPECT_FALSE(f.ReOpen(Path("none"), CFile64::modeRead));
    EXPECT_FALSE(f.IsOpen());
    ASSERT_TRUE(f.ReOpen(Path("new.qc3"), CFile64::modeReadWrite));
    EXPECT_FALSE(f.IsSingleFile());
    EXPECT_TRUE(QFileInfo(QString::fromStdString(Path("new.qc3/0"))).isFile());
    EXPECT_EQ(Size(Path("new.qc3/0")), 0);
    f.Close();
    f.Close();
    EXPECT_EQ(f.Mode(), CFile64::modeClosed);

    MakeFile(Path("plain"), 10);
    ASSERT_TRUE(f.ReOpen(Path("plain"), CFile64::modeRead));
    EXPECT_TRUE(f.IsSingleFile());
    EXPECT_FALSE(f.LockedWrite(0, "x", 1));
    EXPECT_EQ(f.AllocAtEnd2(10, 0), -1);  // not in a writing mode
}

TEST_F(SlicedFile, AllocationAlignsAndExtends) {
    MakeFile(Path("d"), 0);
    ::unlink(Path("d").c_str());
    ASSERT_TRUE(f_.ReOpen(Path("d"), CFile64::modeReadWrite));
    MakeFile(Path("d/0"), 5000);
    EXPECT_EQ(f_.AllocAtEnd2(100, 1024), 5120);
    EXPECT_EQ(Size(Path("d/0")), 5220);
    EXPECT_EQ(f_.AllocAtEnd2(10, 0), 5220);
    EXPECT_TRUE(f_.WasWrittenTo());

    // Plain file form: addresses are plain offsets.
    MakeFile(Path("p"), 3);
    CMultiThreadedSlicedFile p;
    ASSERT_TRUE(p.ReOpen(Path("p"), CFile64::modeReadWrite));
    EXPECT_EQ(p.AllocAtEnd2(4, 8), 8);
    EXPECT_EQ(Size(Path("p")), 12);
}

TEST_F(SlicedFile, SlicesAreFoundAndAddressedByTheHighWord) {
    ASSERT_TRUE(f_.ReOpen(Path("s"), CFile64::modeReadWrite));
    MakeFile(Path("s/1"), 0);
    MakeFile(Path("s/2"), 100);
    // The last existing slice takes new space.
    EXPECT_EQ(f_.AllocAtEnd2(8, 4), (int64_t(2) << 32) | 100);
    ASSERT_TRUE(f_.LockedWrite2((int64_t(2) << 32) | 100, "abcd", 4, "efgh", 4));
    char buf[9] = {};
    EXPECT_EQ(f_.LockedRead((int64_t(2) << 32) | 100, buf, 8), 8);
    EXPECT_STREQ(buf, "abcdefgh");
    EXPECT_EQ(f_.LockedRead(100, buf, 8), 0);  // past the end of slice 0: nothing, not an error
}

TEST_F(SlicedFile, FullSliceMovesToTheNextAndSliceNumbersAreBounded) {
    ASSERT_TRUE(f_.ReOpen(Path("big"), CFile64::modeReadWrite));
    MakeFile(Path("big/0"), 0xFFFFFF00LL);
    EXPECT_EQ(f_.AllocAtEnd2(0x200, 16), int64_t(1) << 32);
    EXPECT_EQ(Size(Path("big/1")), 0x200);
    EXPECT_FALSE(f_.LockedWrite(int64_t(100) << 32, "x", 1));
    EXPECT_EQ(f_.LastError(), EINVAL);
    EXPECT_EQ(f_.LockedRead(-5, nullptr, 0), -1);
}

}  // namespace
