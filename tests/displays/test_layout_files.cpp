// SPDX-License-Identifier: GPL-3.0-or-later
// The layout file, its backup and default, the current-page file and page import.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "core/apppaths.h"
#include "fake_window.h"
#include "support/recording_ui.h"

using Settings = CDisplayView::CItemSettings;
using Type = CDisplayView::CItemSettingsType;

namespace {

// An item as an older (or foreign) writer stores it: the base fields by hand.
class RawItem : public CSerializable {
public:
    RawItem(int type, int older, int layer, bool withNewLayer)
        : m_type(type), m_older(older), m_layer(layer), m_withNew(withNewLayer) {}
    uint32_t GetTypeId() const override { return uint32_t(m_type); }
    bool Serialize(IOStream& s) override {
        Section sec(s);
        int row = 1, col = 2, h = 3, w = 4;
        bool option = true;
        bool ok = sec.declare_value(row) && sec.declare_value(col) && sec.declare_value(h) && sec.declare_value(w) &&
                  sec.declare_value(m_older) && sec.declare_value(option);
        if (m_withNew) ok = ok && sec.declare_value(m_layer);
        return ok;
    }

private:
    int m_type, m_older, m_layer;
    bool m_withNew;
};

// A page holding raw items, in the page format.
class RawPage : public CSerializable {
public:
    std::vector<std::unique_ptr<RawItem>> items;
    bool Serialize(IOStream& s) override {
        {
            Section sec(s);
            std::string name = "raw";
            int sig[5] = {0, 0, 0, 0, 0};
            if (!sec.declare(name) || !sec.declare_fblock(sig, sizeof sig)) return false;
        }
        {
            Section sec(s);
            int rows = 25, cols = 51, margin = 2;
            if (!sec.declare_value(rows) || !sec.declare_value(cols) || !sec.declare_value(margin)) return false;
        }
        Section sec(s);
        uint32_t n = uint32_t(items.size());
        if (!sec.declare_value(n)) return false;
        for (auto& i : items)
            if (!i->WritePolymorphic(s)) return false;
        return true;
    }
};

struct LayoutFiles : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        setAppDirectoryForTesting(dir.path().toStdString());
    }
    std::string Path(const char* name) const { return dir.path().toStdString() + "/" + name; }
    static void Truncate(const std::string& path, qint64 size) {
        QFile f(QString::fromStdString(path));
        ASSERT_TRUE(f.resize(size));
    }
    static void Fill(CDisplayViewArrangementSet& a) {
        CDisplayViewArrangementSet::BuildDefaultLayout(a);
        a.AddNewArrangement(320, 640);
        a.getPageSet()->name = "Portrait";
        a.getPageSet()->pages.front()->Arrangement().settings.front()->option = true;
    }
    static std::vector<std::vector<int>> Describe(const CDisplayViewArrangementSet& a) {
        std::vector<std::vector<int>> out;
        for (auto& set : a.pageSets) {
            out.push_back({set->width, set->height, int(set->pages.size())});
            for (auto& p : set->pages) {
                const auto& ar = p->Arrangement();
                out.push_back({ar.rows, ar.cols, ar.margin});
                for (auto& s : ar.settings)
                    out.push_back({s->TypeId(), s->row, s->col, s->height, s->width, s->layer, s->option, s->locked});
            }
        }
        return out;
    }
    QTemporaryDir dir;
};

}  // namespace

TEST_F(LayoutFiles, LayerFieldRules) {
    RawPage raw;
    raw.items.push_back(std::make_unique<RawItem>(42, 2, 0, true));    // new field 0: older + 5 = 7
    raw.items.push_back(std::make_unique<RawItem>(42, 2, 3, true));    // new field wins
    raw.items.push_back(std::make_unique<RawItem>(42, -1, 0, false));  // older file: 4
    raw.items.push_back(std::make_unique<RawItem>(42, 50, 0, true));   // clamped to 9
    raw.items.push_back(std::make_unique<RawItem>(42, 0, -7, true));   // clamped to 1
    raw.items.push_back(std::make_unique<RawItem>(4242, 0, 5, true));  // unknown type: skipped
    raw.items.push_back(std::make_unique<RawItem>(41, 0, 6, true));    // and reading goes on
    ASSERT_TRUE(raw.WriteFile(Path("raw.dvpage"), {}, CDisplayViewArrangementSet::kPageFileMagic));

    CDisplayView page;
    ASSERT_TRUE(page.ReadFile(Path("raw.dvpage"), {}, CDisplayViewArrangementSet::kPageFileMagic));
    auto& s = page.Arrangement().settings;
    ASSERT_EQ(s.size(), 6u);
    EXPECT_EQ(s[0]->layer, 7);
    EXPECT_EQ(s[1]->layer, 3);
    EXPECT_EQ(s[2]->layer, 4);
    EXPECT_EQ(s[3]->layer, 9);
    EXPECT_EQ(s[4]->layer, 1);
    EXPECT_EQ(s[5]->TypeId(), 41);
    EXPECT_EQ(s[5]->layer, 6);
    EXPECT_TRUE(s[0]->option);
    EXPECT_EQ(s[0]->row, 1);
    EXPECT_EQ(s[0]->col, 2);
    EXPECT_EQ(s[0]->height, 3);
    EXPECT_EQ(s[0]->width, 4);
    EXPECT_EQ(page.Signature()[0], 42);

    // Written back, the older field carries layer - 5 for older readers.
    s[0]->layer = 8;
    ASSERT_TRUE(page.WriteFile(Path("again.dvpage")));
    CDisplayView back;
    ASSERT_TRUE(back.ReadFile(Path("again.dvpage")));
    EXPECT_EQ(back.Arrangement().settings[0]->layer, 8);
}

TEST_F(LayoutFiles, LayoutRoundTripWithAndWithoutMagic) {
    CDisplayViewArrangementSet a;
    Fill(a);
    a.getPageSet()->pages.front()->Arrangement().settings.front()->locked = true;
    ASSERT_TRUE(a.WriteFileWithMagic(Path("with.pstf")));
    EXPECT_EQ(CSerializable::readMagic(Path("with.pstf")), uint32_t(CDisplayViewArrangementSet::kLayoutFileMagic));
    ASSERT_TRUE(a.WriteFile(Path("without.pstf")));

    for (const char* name : {"with.pstf", "without.pstf"}) {
        CDisplayViewArrangementSet b;
        ASSERT_TRUE(b.ReadFileWithMagic(Path(name))) << name;
        EXPECT_EQ(Describe(b), Describe(a)) << name;
        EXPECT_EQ(b.pageSets.back()->name, "Portrait");
        EXPECT_EQ(b.pageSets[0]->pages.size(), 3u);
    }
    // A page file is not a layout.
    ASSERT_TRUE(CDisplayViewArrangementSet::ExportPage(*a.getCurrentPage(), Path("one.dvpage")));
    CDisplayViewArrangementSet c;
    EXPECT_FALSE(c.ReadFileWithMagic(Path("one.dvpage")));
}

TEST_F(LayoutFiles, ReadingLimits) {
    CDisplayViewArrangementSet a;
    for (int i = 0; i < 30; ++i) {
        a.pageSets.push_back(std::make_unique<CDisplayViewPageSet>(&a));
        a.pageSets.back()->width = 100 + i;
        a.pageSets.back()->AddNewPage();
    }
    ASSERT_TRUE(a.WriteFileWithMagic(Path("many_sets.pstf")));
    CDisplayViewArrangementSet b;
    ASSERT_TRUE(b.ReadFileWithMagic(Path("many_sets.pstf")));
    ASSERT_EQ(b.pageSets.size(), 25u);
    EXPECT_EQ(b.pageSets.back()->width, 124);

    CDisplayViewArrangementSet big;
    big.pageSets.push_back(std::make_unique<CDisplayViewPageSet>(&big));
    for (int i = 0; i < 101; ++i) big.pageSets.back()->pages.push_back(std::make_unique<CDisplayView>());
    ASSERT_TRUE(big.WriteFileWithMagic(Path("many_pages.pstf")));
    CDisplayViewArrangementSet c;
    EXPECT_FALSE(c.ReadFileWithMagic(Path("many_pages.pstf")));
    EXPECT_TRUE(c.pageSets.empty());
}

TEST_F(LayoutFiles, EveryTruncationFailsCleanly) {
    CDisplayViewArrangementSet a;
    Fill(a);
    ASSERT_TRUE(a.WriteFileWithMagic(Path("full.pstf")));
    QFile f(QString::fromStdString(Path("full.pstf")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    f.close();
    // Cutting the file anywhere must give a clean failure, never a crash or a partly
    // read layout claimed as good.
    for (int n = 0; n < bytes.size(); n += 3) {
        QFile out(QString::fromStdString(Path("cut.pstf")));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes.left(n));
        out.close();
        CDisplayViewArrangementSet b;
        EXPECT_FALSE(b.ReadFileWithMagic(Path("cut.pstf"))) << n;
        EXPECT_TRUE(b.pageSets.empty());
    }
    // Flipping bytes: whatever happens, no crash and a consistent result.
    for (int i = 0; i < bytes.size(); i += 7) {
        QByteArray bad = bytes;
        bad[i] = char(bad[i] ^ 0xFF);
        QFile out(QString::fromStdString(Path("bad.pstf")));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bad);
        out.close();
        CDisplayViewArrangementSet b;
        if (b.ReadFileWithMagic(Path("bad.pstf"))) {
            EXPECT_LE(b.pageSets.size(), 25u);
            for (auto& set : b.pageSets)
                for (auto& p : set->pages)
                    for (auto& s : p->Arrangement().settings) {
                        EXPECT_LE(s->row + s->height, p->Arrangement().rows);
                        EXPECT_LE(s->col + s->width, p->Arrangement().cols);
                        EXPECT_GE(s->layer, 1);
                        EXPECT_LE(s->layer, 9);
                    }
        }
    }
}

TEST_F(LayoutFiles, SavingWritesLayoutOnlyWhenChangedAndAlwaysTheCurrentPage) {
    CDisplayViewArrangementSet a;
    Fill(a);
    ASSERT_TRUE(a.save_layout_if_changed());
    ASSERT_TRUE(FileExists(CDisplayViewArrangementSet::LayoutFilePath()));
    EXPECT_FALSE(a.AnythingChanged());
    int sig[5];
    ASSERT_TRUE(CDisplayViewArrangementSet::ReadSignatureFile(CDisplayViewArrangementSet::CurrentPageFilePath(), sig));
    EXPECT_TRUE(a.getCurrentPage()->compareSignature(sig));
    EXPECT_EQ(FileSize(CDisplayViewArrangementSet::CurrentPageFilePath()), 20);

    // Unchanged: the layout file is left alone, the current page still written.
    std::remove(CDisplayViewArrangementSet::LayoutFilePath().c_str());
    a.getPageSet()->nextPage();
    ASSERT_TRUE(a.save_layout_if_changed());
    EXPECT_FALSE(FileExists(CDisplayViewArrangementSet::LayoutFilePath()));
    ASSERT_TRUE(CDisplayViewArrangementSet::ReadSignatureFile(CDisplayViewArrangementSet::CurrentPageFilePath(), sig));
    EXPECT_TRUE(a.getCurrentPage()->compareSignature(sig));

    // Start-up shows the page named by the current-page file.
    a.getCurrentPage()->MarkChanged();
    ASSERT_TRUE(a.save_layout_if_changed());
    CDisplayViewArrangementSet b;
    ASSERT_TRUE(b.loadInitialLayout());
    EXPECT_EQ(Describe(b), Describe(a));
    ASSERT_NE(b.getCurrentPage(), nullptr);
    EXPECT_TRUE(b.getCurrentPage()->compareSignature(sig));
}

TEST_F(LayoutFiles, DamagedLayoutFallsBackToBackupThenDefault) {
    RecordingUi ui;
    CDisplayViewArrangementSet a;
    Fill(a);
    a.getPageSet()->name = "Mine";
    ASSERT_TRUE(a.save_layout_if_changed());
    ASSERT_TRUE(a.saveBackupLayout());
    const qint64 size = FileSize(CDisplayViewArrangementSet::LayoutFilePath());
    Truncate(CDisplayViewArrangementSet::LayoutFilePath(), size / 2);

    CDisplayViewArrangementSet b;
    ASSERT_TRUE(b.loadInitialLayout(640, 320));
    EXPECT_EQ(Describe(b), Describe(a));

    Truncate(CDisplayViewArrangementSet::BackupFilePath(), 10);
    CDisplayViewArrangementSet c;
    ASSERT_TRUE(c.loadInitialLayout(640, 320));
    CDisplayViewArrangementSet def;
    CDisplayViewArrangementSet::BuildDefaultLayout(def);
    EXPECT_EQ(Describe(c), Describe(def));
    EXPECT_TRUE(c.AnythingChanged());
    EXPECT_TRUE(ui.messages.empty());

    // Garbage of every kind, including an empty file.
    for (const char* text : {"", "x", "\x82\xfb\xf8\x47", "page_layout"}) {
        QFile out(QString::fromStdString(CDisplayViewArrangementSet::LayoutFilePath()));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(text);
        out.close();
        CDisplayViewArrangementSet d;
        ASSERT_TRUE(d.loadInitialLayout(640, 320));
        EXPECT_EQ(d.getPageSet()->pages.size(), 3u);
    }
}

TEST_F(LayoutFiles, ShippedDefaultLayoutMatchesTheBuiltOne) {
    QFile res(QStringLiteral(":/default_page_layout"));
    if (!res.exists()) GTEST_SKIP() << "default layout resource not linked";
    CDisplayViewArrangementSet shipped;
    ASSERT_TRUE(shipped.restoreDefaultLayout(0, 0));
    CDisplayViewArrangementSet built;
    CDisplayViewArrangementSet::BuildDefaultLayout(built);
    EXPECT_EQ(Describe(shipped), Describe(built));
    // A large map page, a map with instruments, and instruments only.
    ASSERT_EQ(shipped.getPageSet()->pages.size(), 3u);
    EXPECT_EQ(shipped.getPageSet()->pages[0]->Signature()[0], 111);
    EXPECT_EQ(shipped.getPageSet()->pages[1]->Signature()[0], 111);
    EXPECT_NE(shipped.getPageSet()->pages[2]->Signature()[0], 111);
}

TEST_F(LayoutFiles, RevertReturnsToTheBackup) {
    CDisplayViewArrangementSet a;
    Fill(a);
    ASSERT_TRUE(a.saveBackupLayout());
    const auto before = Describe(a);
    a.getCurrentPage()->AddItem(Type::findType(46), 0, 0, 2, 2);
    EXPECT_NE(Describe(a), before);
    ASSERT_TRUE(a.revertToSavedLayout(640, 320));
    EXPECT_EQ(Describe(a), before);
    // A bad file to load leaves the layout untouched.
    EXPECT_FALSE(a.LoadFile(Path("missing.pstf"), 640, 320));
    EXPECT_EQ(Describe(a), before);
}

TEST_F(LayoutFiles, ImportingAPageTwiceAddsItOnce) {
    RecordingUi ui;
    CDisplayViewArrangementSet source;
    CDisplayViewArrangementSet::BuildDefaultLayout(source);
    CDisplayView& page = *source.getPageSet()->pages[2];
    page.AddItem(Type::findType(95), 0, 0, 3, 3);  // unlike any page of the default layout
    ASSERT_TRUE(CDisplayViewArrangementSet::ExportPage(page, Path("mine.dvpage")));

    CDisplayViewArrangementSet a;
    CDisplayViewArrangementSet::BuildDefaultLayout(a);
    SetActiveArrangementSet(&a);
    FakePageWindow window(640, 320);
    a.getCurrentPage()->Attach(window, {});
    CBounds bounds;
    std::string reason;
    ASSERT_TRUE(ImportDisplayPagesFile({}, Path("mine.dvpage"), bounds, reason)) << reason;
    ASSERT_EQ(a.getPageSet()->pages.size(), 4u);
    CDisplayView* imported = a.getPageSet()->pages.back().get();
    EXPECT_EQ(a.getCurrentPage(), imported);
    EXPECT_EQ(imported->Window(), &window);  // shown in place of the old page
    EXPECT_TRUE(FileExists(CDisplayViewArrangementSet::LayoutFilePath()));

    a.getPageSet()->setPage(a.getPageSet()->pages.front().get());
    ASSERT_TRUE(ImportDisplayPagesFile({}, Path("mine.dvpage"), bounds, reason));
    EXPECT_EQ(a.getPageSet()->pages.size(), 4u);
    EXPECT_EQ(a.getCurrentPage(), imported);
    EXPECT_TRUE(ui.messages.empty());

    // A page of the same items saved from a larger screen is still the same page.
    CDisplayViewPageSet bigSet;
    bigSet.width = 1280;
    bigSet.height = 640;
    ASSERT_TRUE(CDisplayViewArrangementSet::ExportPage(page, Path("copy.dvpage")));
    CDisplayView big;
    ASSERT_TRUE(big.ReadFile(Path("copy.dvpage"), {}, CDisplayViewArrangementSet::kPageFileMagic));
    big.SetPageSet(&bigSet);
    big.AdjustCellsForScreen();
    ASSERT_EQ(big.Arrangement().cols, 102);
    ASSERT_TRUE(CDisplayViewArrangementSet::ExportPage(big, Path("big.dvpage")));
    ASSERT_TRUE(ImportDisplayPagesFile({}, Path("big.dvpage"), bounds, reason));
    EXPECT_EQ(a.getPageSet()->pages.size(), 4u);

    // A broken file: the reason goes back to the caller (who tells the user once), and
    // nothing changes.
    Truncate(Path("mine.dvpage"), 30);
    EXPECT_FALSE(ImportDisplayPagesFile({}, Path("mine.dvpage"), bounds, reason));
    EXPECT_EQ(reason, "mine.dvpage");
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(a.getPageSet()->pages.size(), 4u);
    a.getCurrentPage()->DetachFromWindow();
    EXPECT_TRUE(window.live.empty());
    SetActiveArrangementSet(nullptr);
}

TEST_F(LayoutFiles, EditLayoutShowsTheHintOnce) {
    RecordingUi ui;
    SetLayoutHintShown(false);
    CDisplayViewArrangementSet a;
    CDisplayViewArrangementSet::BuildDefaultLayout(a);
    ui.answer = 1;
    a.EditLayout({});
    EXPECT_TRUE(a.isArranging());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "Hint");
    EXPECT_EQ(ui.messages[0].text,
              "We recommend you read the manual or watch the instructional video on editing the layout");
    EXPECT_EQ(ui.messages[0].buttons, (std::vector<std::string>{" Got it! ", "Show me..."}));
    EXPECT_EQ(ui.help, std::vector<std::string>{"layout"});
    a.EndEditLayout();
    EXPECT_FALSE(a.isArranging());
    a.EditLayout({});
    EXPECT_EQ(ui.messages.size(), 1u);
}
