// SPDX-License-Identifier: GPL-3.0-or-later
// Charts the reader refuses: the user is told why, the catalogue stops offering them, and
// the files stay on disk exactly as they were.

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <fstream>
#include <map>

#include "test_chartview_support.h"
#include "tests/support/recording_ui.h"

using namespace cvtest;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
}

void Put32(std::string& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

// Every file under `dir`, with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> out;
    QDir d(QString::fromStdString(dir));
    for (const QString& name : d.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const std::string path = dir + "/" + name.toStdString();
        if (QFileInfo(QString::fromStdString(path)).isDir()) {
            for (const auto& [p, b] : Snapshot(path)) out[p] = b;
        } else {
            out[path] = ReadAll(path);
        }
    }
    return out;
}

class ChartRefusals : public ChartViewFixture {
protected:
    RecordingUi ui;
};

TEST_F(ChartRefusals, EveryRefusalIsToldKeptOnDiskAndNeverCatalogued) {
    const std::string folder = Dir() + "/maps";
    ASSERT_TRUE(createDirectory(folder));
    const std::string good = WriteChart(folder, {"coastal", 51, 49, -1.5, 1.5});
    const std::string base = ReadAll(WriteChart(Dir(), {"template", 50.25, 49.75, -0.375, 0.375}));
    ASSERT_GT(base.size(), 0x45A0u + 64);

    struct Case {
        std::string file;
        std::string bytes;
        std::string message;  // what the reader says (%s is the path); empty: it fails quietly
    };
    std::vector<Case> cases;
    auto add = [&](const std::string& name, std::string bytes, const std::string& message) {
        cases.push_back({folder + "/" + name, std::move(bytes), message});
    };
    add("empty.qct", std::string(), "");
    add("foreign.qct", std::string(4, 'x') + std::string(4, '\0') + std::string(30000, 'x'), "Not a QuickChart: \"%s\"");
    std::string b = base;
    Put32(b, 4, 6);
    add("newer.qct", b, "To open this map you need a newer version of your software.\n\n%s is version 6.");
    b = base;
    Put32(b, 4, 0x10000002);
    add("qc2.qct", b, "This QC2 map is not compatible");
    b = base;
    Put32(b, 4, 0x05000001);
    add("unknown_kind.qct", b, "");
    add("truncated.qct", base.substr(0, 0x1000), "The map \"%s\" is damaged or incomplete.");
    b = base;
    Put32(b, 8, 0);
    add("no_tiles.qct", b, "The map \"%s\" is damaged or incomplete.");
    add("short_index.qct", base.substr(0, 0x45A0 + 8), "The map \"%s\" is damaged or incomplete.");
    b = base;
    Put32(b, 0x45A0, 0);
    add("header_only.qct", b, "This map is a catalog header and has not been completely converted.");
    for (const Case& c : cases) WriteAll(c.file, c.bytes);

    // A chunked chart whose chunk store is foreign.
    {
        std::vector<uint8_t> idx(512 * 512, 0);
        CQctWriter w;
        ASSERT_TRUE(w.SetIndexedImage(512, 512, idx, {0x808080}));
        ASSERT_TRUE(w.SetGeorefFromCorners(50.2, 49.8, -0.3, 0.3));
        w.Meta().map_type = "Topo";
        const std::string chunked = folder + "/chunked.qct";
        ASSERT_TRUE(w.WriteChunked(chunked));
        std::string store = ReadAll(folder + "/chunked.qc3/0");
        Put32(store, 0, 0x12345678);
        WriteAll(folder + "/chunked.qc3/0", store);
        cases.push_back({chunked, ReadAll(chunked), ""});
    }

    const auto before = Snapshot(folder);
    list = std::make_unique<CChartList>(std::vector<std::string>{folder}, std::string());
    ASSERT_EQ(list->size(), 1u) << "only the good chart is catalogued";
    view = MakeView();
    ASSERT_TRUE(GotoBest(*view, 50.0, 0.0, 0.01));
    ASSERT_EQ(Name(view->CurrentPath()), "coastal.qct");

    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ui.Clear();
        // The way the app opens a file given on the command line or chosen in a list.
        EXPECT_FALSE(Open(*view, c.file));
        if (c.message.empty()) {
            EXPECT_TRUE(ui.messages.empty());
        } else {
            ASSERT_EQ(ui.messages.size(), 1u);
            EXPECT_EQ(ui.messages[0].title, "Problem");
            std::string expected = c.message;
            if (const size_t at = expected.find("%s"); at != std::string::npos) expected.replace(at, 2, c.file);
            EXPECT_EQ(ui.messages[0].text, expected);
        }
        // Either way the status line names the file that could not be opened.
        ASSERT_FALSE(ui.status.empty());
        EXPECT_NE(ui.status.back().find(Name(c.file)), std::string::npos);
        ASSERT_TRUE(WaitFor([&] { return view->IsOpen() && !view->IsOpening(); }));
        EXPECT_EQ(Name(view->CurrentPath()), "coastal.qct");
    }
    EXPECT_EQ(Snapshot(folder), before);
    EXPECT_TRUE(FileExists(good));
}

TEST_F(ChartRefusals, AChartDamagedAfterCataloguingIsSkippedUntilItChanges) {
    MakeCharts(NestedCharts());
    view = MakeView();
    const std::string harbour = paths[2];
    const std::string original = ReadAll(harbour);
    std::string damaged = original;
    Put32(damaged, 0x45A0, 0);
    WriteAll(harbour, damaged);

    ASSERT_FALSE(GotoBest(*view, 50.0, 0.0, 0.01));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "This map is a catalog header and has not been completely converted.");
    EXPECT_EQ(ReadAll(harbour), damaged);
    EXPECT_TRUE(list->IsUnreadable(harbour));
    // Still listed (the map list offers to delete it), no longer chosen: one message only.
    EXPECT_NE(list->FindFile(harbour), nullptr);
    EXPECT_EQ(Name(list->FindBestChart(50.0, 0.0, 0.01)->path), "coastal.qct");
    ASSERT_TRUE(GotoBest(*view, 50.0, 0.0, 0.01));
    EXPECT_EQ(Name(view->CurrentPath()), "coastal.qct");
    EXPECT_EQ(ui.messages.size(), 1u);
    // A refresh keeps the verdict for the unchanged file...
    list->Refresh();
    EXPECT_EQ(Name(list->FindBestChart(50.0, 0.0, 0.01)->path), "coastal.qct");

    // ...and drops it once the file is put right.
    WriteAll(harbour, original);
    {
        QFile f(QString::fromStdString(harbour));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
    }
    list->Refresh();
    EXPECT_FALSE(list->IsUnreadable(harbour));
    ASSERT_TRUE(GotoBest(*view, 50.0, 0.0, 0.01));
    EXPECT_EQ(Name(view->CurrentPath()), "harbour.qct");
}

}  // namespace
