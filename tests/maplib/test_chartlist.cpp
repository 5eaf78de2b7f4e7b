// SPDX-License-Identifier: GPL-3.0-or-later
#include <unistd.h>
#include <zlib.h>

#include <cmath>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "core/apppaths.h"
#include "core/pubsub.h"
#include "maplib/chartlist.h"
#include "online/mappackage.h"
#include "maplib/test_chartview_support.h"
#include "support/recording_ui.h"
#include "test_chartlist_support.h"

namespace {

// Open maps are closed around deletions and reopened after, in that order.
class CountingReopener : public IChartReopener {
public:
    CountingReopener() { SetChartReopener(this); }
    ~CountingReopener() override { SetChartReopener(nullptr); }
    void CloseAllCharts() override { ++closed; }
    void ReopenAllCharts() override {
        EXPECT_EQ(closed, reopened + 1);
        ++reopened;
    }
    int closed = 0;
    int reopened = 0;
};


struct ChangeCounter : Listener<CChartList> {
    void OnUpdate(CChartList&) override { ++count; }
    int count = 0;
};


class ChartListTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_show = CSelectMapTypes::Settings().show;
        CSelectMapTypes::Settings().show = CSelectMapTypes::DefaultTypes();
        CChartList::SetFetcher(&fetcher);
    }
    void TearDown() override {
        CSelectMapTypes::Settings().show = saved_show;
        CChartList::SetFetcher(nullptr);
    }
    cvtest::FakeFetcher fetcher;

    std::string Root() const { return dir.path().toStdString(); }
    std::string Path(const std::string& rel) const { return Root() + "/" + rel; }
    std::string Make(const std::string& rel, const TestChart& t) {
        WriteTestChart(Path(rel), t);
        return Path(rel);
    }
    // Charts centred on (`lat`, `lon`) whatever their scale.
    std::string MakeAt(const std::string& rel, double lat, double lon, double scale, const std::string& type = "Topo") {
        TestChart t;
        t.scale = scale;
        t.north = lat + t.Span() / 2;
        t.west = lon - t.Span() / 2;
        t.type = type;
        return Make(rel, t);
    }
    std::unique_ptr<CChartList> List(std::vector<std::string> folders = {}) {
        if (folders.empty()) {
            folders = {Path("maps")};
            QDir().mkpath(QString::fromStdString(folders[0]));
        }
        return std::make_unique<CChartList>(folders, std::string());
    }
    static std::vector<double> Scales(const std::vector<const CChartOutline*>& list) {
        std::vector<double> s;
        for (const auto* o : list) s.push_back(o->scale);
        return s;
    }

    QTemporaryDir dir;
    std::set<std::string> saved_show;
};

TEST_F(ChartListTest, BestChartPrefersClosestScaleAndSelectedTypes) {
    MakeAt("maps/a.qct", 50, 0, 0.1);
    MakeAt("maps/b.qct", 50, 0, 1);
    MakeAt("maps/c.qct", 50, 0, 4);
    MakeAt("maps/nautical.qct", 50, 0, 0.5, "Nautical");
    MakeAt("maps/far.qct", -30, 100, 0.01);
    auto list = List();
    ASSERT_EQ(list->size(), 5u);

    // Scale 0: the most detailed chart of a selected type at the point.
    const CChartOutline* best = list->FindBestChart(50, 0, 0);
    ASSERT_TRUE(best);
    EXPECT_NEAR(best->scale, 0.1, 1e-9);
    // Closeness is a ratio: 1.5 is closer to 1 (x1.5) than to 4 (x2.67).
    EXPECT_NEAR(list->FindBestChart(50, 0, 1.5)->scale, 1, 1e-9);
    EXPECT_NEAR(list->FindBestChart(50, 0, 3)->scale, 4, 1e-9);
    // The unselected type is passed over unless any type will do.
    EXPECT_NEAR(list->FindBestChart(50, 0, 0.5)->scale, 1, 1e-9);
    EXPECT_EQ(list->FindBestChart(50, 0, 0.5, true)->type, "Nautical");
    // Nothing here.
    EXPECT_EQ(list->FindBestChart(0, 50, 1), nullptr);
    // No position: every chart competes on scale alone, whatever its type or place.
    EXPECT_NEAR(list->FindBestChart(999, 999, 0.011)->scale, 0.01, 1e-9);
    EXPECT_EQ(list->FindBestChart(999, 0, 0.5)->type, "Nautical");
    EXPECT_EQ(list->FindBestChart(std::nan(""), 0, 0.5)->type, "Nautical");
    EXPECT_EQ(list->FindBestChart(50, std::nan(""), 0.5), nullptr);

    // Nothing selected: every type is allowed rather than showing no chart.
    CSelectMapTypes::Settings().show.clear();
    EXPECT_EQ(list->FindBestChart(50, 0, 0.5)->type, "Nautical");
    CSelectMapTypes::Settings().show = {"Nautical"};
    EXPECT_EQ(list->FindBestChart(50, 0, 0)->type, "Nautical");
}

TEST_F(ChartListTest, ScaleStepsSkipChartsWithinThreePercent) {
    for (double s : {9.6, 9.8, 10.0, 10.2, 10.4}) MakeAt("maps/s" + std::to_string(int(s * 10)) + ".qct", 0, 0, s);
    MakeAt("maps/other.qct", 0, 0, 5, "Nautical");
    MakeAt("maps/elsewhere.qct", 40, 40, 20);
    auto list = List();

    const CChartOutline* in = list->ScaleIn(0, 0, 10);
    ASSERT_TRUE(in);
    EXPECT_NEAR(in->scale, 9.6, 1e-9);
    const CChartOutline* out = list->ScaleOut(0, 0, 10);
    ASSERT_TRUE(out);
    EXPECT_NEAR(out->scale, 10.4, 1e-9);
    // At the ends: the unselected 5 and the chart elsewhere are never offered.
    EXPECT_EQ(list->ScaleIn(0, 0, 9.6), nullptr);
    EXPECT_EQ(list->ScaleOut(0, 0, 10.4), nullptr);
    // Stepping from a scale between charts.
    EXPECT_NEAR(list->ScaleIn(0, 0, 10.9)->scale, 10.4, 1e-9);

    CSelectMapTypes::Settings().show.clear();
    EXPECT_EQ(list->ScaleIn(0, 0, 10), nullptr);
    EXPECT_EQ(list->ScaleOut(0, 0, 10), nullptr);
}

TEST_F(ChartListTest, HitsComeInAscendingScaleAndOnlyWhereChartsCover) {
    MakeAt("maps/big.qct", 0, 0, 10);
    MakeAt("maps/small.qct", 0, 0, 0.2);
    MakeAt("maps/mid.qct", 0, 0, 2);
    MakeAt("maps/east.qct", 0, 5, 2);
    MakeAt("maps/same.qct", 0, 0, 2);  // equal scales keep reading order
    auto list = List();

    std::vector<const CChartOutline*> at;
    list->ChartsAt(0, 0, at);
    EXPECT_EQ(Scales(at), (std::vector<double>{0.2, 2, 2, 10}));
    EXPECT_EQ(FileNameOf(at[1]->path), "mid.qct");
    EXPECT_EQ(FileNameOf(at[2]->path), "same.qct");

    // NextHit resumes after the given chart.
    CChartList::iterator it = list->end();
    ASSERT_TRUE(list->NextHit(0, 5, it));
    EXPECT_EQ(FileNameOf(it->path), "east.qct");
    ASSERT_TRUE(list->NextHit(0, 5, it));
    EXPECT_NEAR(it->scale, 10, 1e-9);
    EXPECT_FALSE(list->NextHit(0, 5, it));
    EXPECT_TRUE(it == list->end());

    at.clear();
    list->ChartsAt(60, 60, at);
    EXPECT_TRUE(at.empty());
}

TEST_F(ChartListTest, FoldersAreSearchedOnceWhateverTheLinks) {
    MakeAt("maps/a.qct", 0, 0, 1);
    MakeAt("maps/sub/deeper/b.QCT", 0, 0, 2);  // extension in any case
    MakeAt("other/c.qct", 0, 0, 3);
    WriteWholeFile(Path("maps/notes.txt"), "not a chart");
    // A link to another map folder, and a link back up that would loop forever.
    ASSERT_EQ(symlink(Path("other").c_str(), Path("maps/link-to-other").c_str()), 0);
    ASSERT_EQ(symlink(Path("maps").c_str(), Path("maps/sub/loop").c_str()), 0);
    // The same folder named twice, once through a link.
    ASSERT_EQ(symlink(Path("maps").c_str(), Path("maps-again").c_str()), 0);

    auto list = List({Path("maps"), Path("other"), Path("maps-again"), Path("no/such/folder")});
    EXPECT_EQ(list->size(), 3u);
    EXPECT_EQ(list->folders().size(), 2u);
    std::vector<const CChartOutline*> at;
    list->ChartsAt(0, 0, at);
    EXPECT_EQ(Scales(at), (std::vector<double>{1, 2, 3}));

    EXPECT_FALSE(list->AddSearchFolder(Path("other")));
    MakeAt("extra/d.qct", 0, 0, 4);
    ChangeCounter changes;
    EXPECT_TRUE(list->AddSearchFolder(Path("extra")));
    EXPECT_EQ(list->size(), 4u);
    EXPECT_EQ(changes.count, 1);
}

TEST_F(ChartListTest, DamagedFilesAreLeftOutOfTheCatalogue) {
    MakeAt("maps/good.qct", 0, 0, 1);
    const std::string good = ReadWholeFile(Path("maps/good.qct"));
    WriteWholeFile(Path("maps/empty.qct"), "");
    WriteWholeFile(Path("maps/half.qct"), good.substr(0, good.size() / 2));
    WriteWholeFile(Path("maps/text.qct"), std::string(20000, 'x'));
    TestChart newer;
    newer.version = 6;
    Make("maps/newer.qct", newer);
    QDir().mkpath(QString::fromStdString(Path("maps/folder.qct")));  // a directory named like a chart

    auto list = List();
    ASSERT_EQ(list->size(), 1u);
    EXPECT_EQ(FileNameOf(list->begin()->path), "good.qct");
    EXPECT_EQ(list->FindFile(Path("maps/half.qct")), nullptr);
    EXPECT_EQ(list->FindFile(Path("maps/missing.qct")), nullptr);
    EXPECT_EQ(list->size(), 1u);
}

TEST_F(ChartListTest, RefreshIfNeededNoticesNewChangedAndRemovedCharts) {
    MakeAt("maps/a.qct", 0, 0, 1);
    ChangeCounter changes;
    auto list = List();
    EXPECT_EQ(changes.count, 1);
    EXPECT_FALSE(list->RefreshIfNeeded());
    // Writes that are not charts (settings, chunk downloads) do not cost a rescan.
    WriteWholeFile(Path("maps/settings.ini"), "x=1");
    QDir().mkpath(QString::fromStdString(Path("maps/a.qc3")));
    WriteWholeFile(Path("maps/a.qc3/0"), "slice");
    EXPECT_FALSE(list->RefreshIfNeeded());
    EXPECT_EQ(changes.count, 1);

    MakeAt("maps/new/b.qct", 0, 0, 2);
    EXPECT_TRUE(list->RefreshIfNeeded());
    EXPECT_EQ(list->size(), 2u);
    EXPECT_EQ(changes.count, 2);
    EXPECT_FALSE(list->RefreshIfNeeded());

    // A copy that keeps an old modification time is still a new file.
    ASSERT_TRUE(CopyFile(Path("maps/a.qct"), Path("maps/copy.qct")));
    SetModificationTime(Path("maps/copy.qct"), 1000);
    EXPECT_TRUE(list->RefreshIfNeeded());
    EXPECT_EQ(list->size(), 3u);

    ASSERT_EQ(std::remove(Path("maps/new/b.qct").c_str()), 0);
    EXPECT_TRUE(list->RefreshIfNeeded());
    EXPECT_EQ(list->size(), 2u);
}

TEST_F(ChartListTest, FindFileAddsUnknownChartsOnce) {
    MakeAt("maps/a.qct", 0, 0, 1);
    const std::string outside = MakeAt("elsewhere/b.qct", 0, 0, 2);
    auto list = List();
    const CChartOutline* a = list->FindFileUsingHint(Path("maps/a.qct"), 1);
    ASSERT_TRUE(a);
    EXPECT_EQ(list->FindFile(Path("maps/a.qct")), a);
    // A wrong hint still finds the file.
    EXPECT_EQ(list->FindFileUsingHint(Path("maps/a.qct"), 50), a);

    const CChartOutline* b = list->FindFile(outside);
    ASSERT_TRUE(b);
    EXPECT_EQ(list->size(), 2u);
    EXPECT_EQ(list->FindFileUsingHint(outside, 0), b);
    EXPECT_EQ(list->size(), 2u);
}

TEST_F(ChartListTest, DeletingRemovesFileChunkStoreAndOutline) {
    TestChart t;
    t.chunked = true;
    Make("maps/chunked.qct", t);
    MakeAt("maps/keep.qct", 0, 0, 3);
    ASSERT_TRUE(QFileInfo(QString::fromStdString(Path("maps/chunked.qc3"))).isDir());
    WriteWholeFile(Path("maps/chunked.QC3"), "old plain chunk file");
    auto list = List();
    ASSERT_EQ(list->size(), 2u);

    CountingReopener maps;
    const CChartOutline* doomed = list->FindFile(Path("maps/chunked.qct"));
    ASSERT_TRUE(doomed);
    EXPECT_TRUE(list->RemoveAndDeleteChart(doomed));
    EXPECT_EQ(maps.closed, 1);
    EXPECT_EQ(maps.reopened, 1);
    EXPECT_EQ(list->size(), 1u);
    EXPECT_FALSE(FileExists(Path("maps/chunked.qct")));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(Path("maps/chunked.qc3"))));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(Path("maps/chunked.QC3"))));
    EXPECT_TRUE(FileExists(Path("maps/keep.qct")));

    // An outline that is not (or no longer) in the catalogue is refused.
    CChartOutline stranger;
    EXPECT_FALSE(list->DeleteChart(&stranger));
    EXPECT_FALSE(list->DeleteChart(nullptr));
}

TEST_F(ChartListTest, DuplicatesKeepLaterDateThenHigherFolderThenNewerFile) {
    TestChart older, newer;
    older.revision = "01/2020";
    newer.revision = "06/2020";
    // By date, whatever the folders: the later revision sits in the lower folder.
    Make("maps/9/dated.qct", older);
    Make("maps/2/dated.qct", newer);
    // Same date: the higher folder number wins, even against a newer file.
    Make("maps/3/numbered.qct", older);
    Make("maps/12/numbered.qct", older);
    SetModificationTime(Path("maps/12/numbered.qct"), 1000);
    // Same date, no folder numbers: the later modification wins.
    Make("maps/x/timed.qct", older);
    Make("maps/y/timed.qct", older);
    SetModificationTime(Path("maps/x/timed.qct"), 2000);
    SetModificationTime(Path("maps/y/timed.qct"), 1000);
    // Three copies: the survivor of the first comparison meets the third.
    Make("maps/1/triple.qct", older);
    Make("maps/5/triple.qct", older);
    Make("maps/4/triple.qct", older);
    MakeAt("maps/1/unique.qct", 0, 0, 2);

    CChartOutline::SetMapsRoot(Path("maps"));
    auto list = List();
    ASSERT_EQ(list->size(), 10u);
    CountingReopener maps;
    EXPECT_EQ(list->DeleteDuplicates(), 5);
    EXPECT_EQ(maps.closed, 1);
    EXPECT_EQ(list->size(), 5u);
    EXPECT_TRUE(FileExists(Path("maps/2/dated.qct")));
    EXPECT_FALSE(FileExists(Path("maps/9/dated.qct")));
    EXPECT_TRUE(FileExists(Path("maps/12/numbered.qct")));
    EXPECT_FALSE(FileExists(Path("maps/3/numbered.qct")));
    EXPECT_TRUE(FileExists(Path("maps/x/timed.qct")));
    EXPECT_FALSE(FileExists(Path("maps/y/timed.qct")));
    EXPECT_TRUE(FileExists(Path("maps/5/triple.qct")));
    EXPECT_FALSE(FileExists(Path("maps/1/triple.qct")));
    EXPECT_FALSE(FileExists(Path("maps/4/triple.qct")));
    EXPECT_TRUE(FileExists(Path("maps/1/unique.qct")));
    EXPECT_EQ(list->DeleteDuplicates(), 0);

    // Digits in the path above the maps folder do not number the folders: "maps99/x"
    // has no number, so the later file wins; counted from above, 99 would beat 2.
    CChartOutline a, b;
    ASSERT_TRUE(a.Read(Make("maps99/x/r.qct", older)));
    ASSERT_TRUE(b.Read(Make("maps99/2/r.qct", older)));
    SetModificationTime(a.path, 1000);
    SetModificationTime(b.path, 2000);
    CChartOutline::SetMapsRoot(Path("maps99"));
    EXPECT_FALSE(a.is_newer_than(b));
    EXPECT_TRUE(b.is_newer_than(a));
    CChartOutline::SetMapsRoot({});
    EXPECT_TRUE(a.is_newer_than(b));
}

TEST_F(ChartListTest, SortOrdersForChartLists) {
    TestChart t;
    t.name = "beta";
    t.scale = 2;
    Make("maps/1.qct", t);
    t.name = "alpha";
    t.scale = 3;
    Make("maps/2.qct", t);
    t.name = "alp";
    t.scale = 1;
    t.north = 60;
    t.west = 60;
    Make("maps/3.qct", t);
    t.name = "\xc3\xa9t\xc3\xa9";  // non-ASCII sorts after ASCII, byte-wise
    t.scale = 4;
    t.north = 20;
    t.west = 20;
    Make("maps/4.qct", t);
    auto list = List();
    std::vector<const CChartOutline*> v;
    for (const auto& o : *list) v.push_back(&o);
    auto names = [&] {
        std::string s;
        for (const auto* o : v) s += (s.empty() ? "" : ",") + o->name;
        return s;
    };
    using S = CChartOutline::CSortedPointer;
    S::Sort(v, S::kByName, false, nullptr);
    EXPECT_EQ(names(), "alp,alpha,beta,\xc3\xa9t\xc3\xa9");
    S::Sort(v, S::kByScale, true, nullptr);
    EXPECT_EQ(names(), "\xc3\xa9t\xc3\xa9,alpha,beta,alp");
    // Near 9.5 N 10.5 E: the two charts covering it by scale, then the rest by distance.
    const DblPoint here(10.5, 9.5);
    S::Sort(v, S::kByNearness, false, &here);
    EXPECT_EQ(names(), "beta,alpha,\xc3\xa9t\xc3\xa9,alp");
    S::Sort(v, S::kByNearness, false, nullptr);
    EXPECT_EQ(names(), "alp,beta,alpha,\xc3\xa9t\xc3\xa9");
}

TEST_F(ChartListTest, SelectedTypesDefaultWhenEmptyAndGrowWithAddedCharts) {
    const std::string ini = PersistantData::Filename("CatalogueTest");
    WriteWholeFile(ini, "CSelectMapTypes:show:n=0\n");
    PersistantData::LoadAll("CatalogueTest");
    EXPECT_EQ(CSelectMapTypes::Settings().show, CSelectMapTypes::DefaultTypes());
    WriteWholeFile(ini, "CSelectMapTypes:show:n=1\nCSelectMapTypes:show[0]=Nautical\n");
    PersistantData::LoadAll("CatalogueTest");
    EXPECT_EQ(CSelectMapTypes::Settings().show, std::set<std::string>{"Nautical"});

    TestChart t;
    t.type = "Aero";
    const std::string p = Make("maps/aero.qct", t);
    CChartOutline o;
    ASSERT_TRUE(o.Read(p));
    EXPECT_FALSE(o.typeIsSelected());
    EXPECT_TRUE(CChartList(std::vector<std::string>{}, {}).AddQctToSelectedTypes(p));
    EXPECT_TRUE(o.typeIsSelected());
    // Saved at once.
    EXPECT_NE(ReadWholeFile(ini).find("Aero"), std::string::npos);
}

class AssocFileTest : public ChartListTest {
protected:
    void SetUp() override {
        ChartListTest::SetUp();
        kvs = CChartList::getKVSfolder();
        QDir(QString::fromStdString(kvs)).removeRecursively();
        QDir().mkpath(QString::fromStdString(kvs));
        chart = MakeAt("maps/harbour.qct", 0, 0, 1);
    }
    std::string kvs, chart;
    RecordingUi ui;
    bool ok = false;
    std::string got;
    std::function<void(bool, const std::string&)> Capture() {
        return [this](bool o, const std::string& p) {
            ok = o;
            got = p;
        };
    }
};

TEST_F(AssocFileTest, RedirectionsNameTheFileOrNone) {
    CChartList list(std::vector<std::string>{}, {});
    // Nothing known and the network unreachable: no file.
    list.getAssocFile(NV_HWND(), "nvi", chart, Capture());
    EXPECT_FALSE(ok);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "Download failed");

    WriteWholeFile(kvs + "/index.nvi", "index");
    WriteWholeFile(kvs + "/other.nvi", "index");
    ASSERT_TRUE(CChartList::writeDefaultAssoc("nvi", kvs + "/index.nvi"));
    EXPECT_EQ(ReadWholeFile(kvs + "/redir/nvi.default.txt"), "index.nvi\n");  // stored relative
    EXPECT_EQ(CChartList::getDefaultAssocFile("nvi"), kvs + "/index.nvi");
    // The fetch fails again, and the default stands in.
    ui.Clear();
    list.getAssocFile(NV_HWND(), "nvi", chart, Capture());
    EXPECT_TRUE(ok);
    EXPECT_EQ(got, kvs + "/index.nvi");
    ui.Clear();

    const std::string redirect = CChartList::AssocRedirectFile("nvi", chart);
    WriteWholeFile(redirect, "other.nvi\n");
    list.getAssocFile(NV_HWND(), "nvi", chart, Capture());
    EXPECT_EQ(got, kvs + "/other.nvi");
    EXPECT_EQ(list.getAssocFileForQct("nvi", chart), kvs + "/other.nvi");
    WriteWholeFile(redirect, "none\n");
    list.getAssocFile(NV_HWND(), "nvi", chart, Capture());
    EXPECT_FALSE(ok);
    EXPECT_EQ(list.getAssocFileForQct("nvi", chart), "");
    // A redirection to a file that has gone falls back to the default.
    WriteWholeFile(redirect, kvs + "/gone.nvi\n");
    EXPECT_EQ(list.getAssocFileForQct("nvi", chart), kvs + "/index.nvi");
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(AssocFileTest, FetchedFilesAreUnpackedAndRemembered) {
    CChartList list(std::vector<std::string>{}, {});
    std::string asked_target;
    fetcher.fetch = [&](const std::string& type, const std::string& key, const std::string& target,
                        const IChartFetcher::FetchDone& done) {
        EXPECT_EQ(type, "nvi");
        EXPECT_EQ(key, "harbour");
        asked_target = target;
        const std::string gz = target + ".gz";
        gzFile f = gzopen(gz.c_str(), "wb");
        gzputs(f, "place names");
        gzclose(f);
        done(true, gz, "");
    };
    list.getAssocFile(NV_HWND(), "nvi", chart, Capture());
    ASSERT_TRUE(ok);
    EXPECT_EQ(got, asked_target);
    EXPECT_EQ(ReadWholeFile(got), "place names");
    EXPECT_FALSE(FileExists(asked_target + ".gz"));
    EXPECT_EQ(list.getAssocFileForQct("nvi", chart), got);
    EXPECT_EQ(CChartList::getDefaultAssocFile("nvi"), got);

    // Known now: no second fetch.
    fetcher.fetch = [&](auto&&...) { ADD_FAILURE() << "fetched again"; };
    list.getAssocFile(NV_HWND(), "nvi", chart, Capture());
    EXPECT_TRUE(ok);
}

TEST_F(AssocFileTest, FailedFetchTellsTheUserAndFallsBackToTheDefault) {
    CChartList list(std::vector<std::string>{}, {});
    WriteWholeFile(kvs + "/world.nvi", "index");
    CChartList::writeDefaultAssoc("nvi", kvs + "/world.nvi");
    fetcher.fetch = [](const std::string&, const std::string&, const std::string&,
                       const IChartFetcher::FetchDone& done) { done(false, "", "Server said no"); };
    list.getAssocFile(NV_HWND(), "nvi", chart, Capture());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "Download failed");
    EXPECT_EQ(ui.messages[0].text, "Server said no");
    EXPECT_TRUE(ok);
    EXPECT_EQ(got, kvs + "/world.nvi");

    // A download that claims to be compressed but is not.
    ui.Clear();
    fetcher.fetch = [](const std::string&, const std::string&, const std::string& target,
                       const IChartFetcher::FetchDone& done) {
        WriteWholeFile(target + ".gz", "this is not gzip");
        done(true, target + ".gz", "");
    };
    list.getAssocFile(NV_HWND(), "nvi", chart, Capture());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "Download failed");
    EXPECT_EQ(got, kvs + "/world.nvi");
}

TEST_F(AssocFileTest, PackageCheckWalksEveryPackage) {
    CChartList list(std::vector<std::string>{}, {});
    for (const auto& f : QDir(QString::fromStdString(kvs)).entryList({"*.nvpkg"}))
        QFile::remove(QString::fromStdString(kvs) + "/" + f);
    bool done = false;
    list.CheckForPackageUpdates(NV_HWND(), [&] { done = true; });
    EXPECT_TRUE(done);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "No Packages to Check");
    EXPECT_EQ(ui.messages[0].text, "Check for Map Updates only works with KVS Packages");

    WriteWholeFile(kvs + "/b.nvpkg", "");
    WriteWholeFile(kvs + "/a.NVPKG", "");
    WriteWholeFile(kvs + "/c.nvpkg.tmp", "");
    std::vector<std::string> asked;
    fetcher.update = [&](const std::string& server, std::function<void(bool)> next) {
        asked.push_back(server);
        next(true);
    };
    ui.Clear();
    done = false;
    list.CheckForPackageUpdates(NV_HWND(), [&] { done = true; });
    EXPECT_EQ(asked, (std::vector<std::string>{"/KVS/a.NVPKG", "/KVS/b.nvpkg"}));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "Check for Updates");
    EXPECT_EQ(ui.messages[0].text, "2 Packages are up-to-date");
    EXPECT_TRUE(done);
}

}  // namespace
