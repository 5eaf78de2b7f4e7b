// SPDX-License-Identifier: GPL-3.0-or-later
// The map list (grouping, sorting, opening, deleting after a question, map types), its
// popup driven by the keyboard, and the map settings saved at once.
#include <QQuickItem>
#include <QSignalSpy>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "maplib/quick/maplist.h"
#include "maplib/quick/mapsettings.h"
#include "support/recording_ui.h"
#include "tests/maplib/quick/mapitem_fixture.h"

using maptest::MapItemFixture;

namespace {

// Charts in the three kinds of place the list names: the built-in folder, the
// application's own folder and a folder of the user's.
class MapList : public cvtest::ChartViewFixture {
protected:
    void SetUp() override {
        cvtest::ChartViewFixture::SetUp();
        maptest::RegisterTypesOnce();
        builtin = Dir() + "/builtin";
        documents = Dir() + "/Documents";
        internal = getAppDirectory("maplist-test");
        ASSERT_TRUE(createDirectory(builtin) && createDirectory(documents));
        setenv("NAVORA_BUILTIN_CHARTS", builtin.c_str(), 1);
        CSelectMapTypes::Settings().show = {"Topo"};
        CChartOutline::CSortedPointer::SetSortOrder(CChartOutline::CSortedPointer::kByName, false);

        cvtest::WriteChart(builtin, {"world", 60, 40, -20, 20, 256, 256, 0x999999, 0, "Basemap"});
        cvtest::WriteChart(internal, {"bravo", 51, 49, -1.5, 1.5, 512, 512, 0x33CC66, 0, "Topo"});
        cvtest::WriteChart(documents, {"alpha", 50.25, 49.75, -0.375, 0.375, 512, 512, 0xCC6633, 0, "Topo"});
        cvtest::WriteChart(documents, {"charlie", 54, 46, -6, 6, 512, 512, 0x3366CC, 0, "Topo"});
        cvtest::WriteChart(documents, {"delta", 52, 48, -2, 2, 256, 256, 0x3366CC, 0, "Marine"});
        list = std::make_unique<CChartList>(std::vector<std::string>{internal, documents}, builtin);
        ASSERT_EQ(list->size(), 5u);
        model.SetChartList(list.get());
    }
    void TearDown() override {
        unsetenv("NAVORA_BUILTIN_CHARTS");
        QDir(QString::fromStdString(internal)).removeRecursively();
        cvtest::ChartViewFixture::TearDown();
    }
    // The list as "kind:text" lines.
    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        for (const auto& r : model.Rows()) out.push_back(std::to_string(int(r.kind)) + ":" + r.text);
        return out;
    }
    int RowOf(const std::string& name) const {
        for (size_t i = 0; i < model.Rows().size(); ++i)
            if (model.Rows()[i].kind == CDlg_map_list::Row::kChart && model.Rows()[i].text == name) return int(i);
        return -1;
    }

    std::string builtin, documents, internal;
    CDlg_map_list model;
};

}  // namespace

TEST_F(MapList, GroupsByTypeThenFolderAndSortsWithinAFolder) {
    using L = std::vector<std::string>;
    EXPECT_EQ(Lines(), (L{"0:Basemap", "1:Built-in", "2:world", "0:Marine", "1:Documents", "2:delta", "0:Topo",
                          "1:Internal", "2:bravo", "1:Documents", "2:alpha", "2:charlie"}));
    EXPECT_EQ(model.chartCount(), 5);
    EXPECT_FALSE(model.Rows()[0].shown);  // Basemap is not among the types shown
    EXPECT_TRUE(model.Rows()[8].shown);

    // By scale the most detailed first; reversed the other way round.
    model.setSortOrder(CChartOutline::CSortedPointer::kByScale);
    model.setReverseSort(true);
    EXPECT_EQ(model.Rows()[10].text, "charlie");
    EXPECT_EQ(model.Rows()[11].text, "alpha");
    model.setReverseSort(false);
    EXPECT_EQ(model.Rows()[10].text, "alpha");
    EXPECT_EQ(CChartOutline::CSortedPointer::SortOrder(), int(CChartOutline::CSortedPointer::kByScale));

    // Nearness to a point well outside "alpha": the chart covering it comes first.
    model.SetReference(53.5, 5.0);
    model.setSortOrder(CChartOutline::CSortedPointer::kByNearness);
    EXPECT_EQ(model.Rows()[10].text, "charlie");
}

TEST_F(MapList, DeletesOnlyAfterYes) {
    RecordingUi ui;
    const int row = RowOf("alpha");
    ASSERT_GE(row, 0);
    const std::string path = model.Rows()[size_t(row)].path;

    ui.answer = 1;  // No
    EXPECT_TRUE(model.deleteRow(row));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "Delete Map");
    EXPECT_NE(ui.messages[0].text.find("\"alpha\""), std::string::npos);
    EXPECT_EQ(ui.messages[0].buttons, (std::vector<std::string>{"  Yes  ", " No "}));
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(list->size(), 5u);

    ui.answer = 0;  // Yes
    EXPECT_TRUE(model.deleteRow(row));
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(list->size(), 4u);
    EXPECT_EQ(RowOf("alpha"), -1);
    EXPECT_EQ(model.chartCount(), 4);

    // Headers and rows beyond the end are not charts.
    ui.Clear();
    EXPECT_FALSE(model.deleteRow(0));
    EXPECT_FALSE(model.deleteRow(999));
    EXPECT_FALSE(model.deleteRow(-1));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(MapList, OpensTheChosenChartAndSavesTheTypesShown) {
    std::vector<std::string> opened;
    model.onOpen = [&opened](const std::string& p) { opened.push_back(p); };
    QSignalSpy spy(&model, &CDlg_map_list::chartOpened);
    EXPECT_FALSE(model.openRow(0));
    ASSERT_TRUE(model.openRow(RowOf("bravo")));
    model.openLastView();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(cvtest::ChartViewFixture::Name(opened[0]), "bravo.qct");
    EXPECT_EQ(opened[1], "");
    EXPECT_EQ(spy.count(), 2);

    model.setTypeShown("Marine", true);
    EXPECT_TRUE(CSelectMapTypes::Settings().show.count("Marine"));
    EXPECT_FALSE(CSelectMapTypes::Settings().IsChanged());  // already written
    std::ifstream in(PersistantData::Filename(PersistantData::AppName()));
    const std::string file((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(file.find("=Marine"), std::string::npos) << file;
    EXPECT_TRUE(model.Rows()[RowOf("delta")].shown);

    const auto types = model.Types();
    ASSERT_EQ(types.size(), 3u);
    EXPECT_EQ(types[0].name, "Basemap");
    EXPECT_FALSE(types[0].shown);
    EXPECT_EQ(types[2].charts, 3);
    model.setTypeShown("Marine", false);
    EXPECT_FALSE(model.Rows()[RowOf("delta")].shown);
}

TEST_F(MapItemFixture, MapListPopupWorksFromTheKeyboard) {
    CDisplayViewQuickChart* map = MapShowingCoastal();
    ASSERT_TRUE(map);
    CDVI_QuickChart_Window* win = map->QuickWindow();
    auto* button = win->findChild<QQuickItem*>(QStringLiteral("mapsButton"));
    ASSERT_TRUE(button);

    CChartOutline::CSortedPointer::SetSortOrder(CChartOutline::CSortedPointer::kByName, false);
    std::vector<std::string> chosen;
    QPointer<QObject> popup = CDlg_map_list::Show(button, [&chosen](const std::string& p) { chosen.push_back(p); });
    ASSERT_TRUE(popup);
    ASSERT_TRUE(cvtest::WaitFor([&] { return popup->property("opened").toBool(); }, 3000));
    // The first chart is current; down once more and Enter opens the second.
    QTest::keyClick(window.get(), Qt::Key_Down);
    QTest::keyClick(window.get(), Qt::Key_Return);
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(Name(chosen[0]), "harbour.qct");  // coastal, harbour, overview in name order
    EXPECT_TRUE(cvtest::WaitFor([&] { return !popup; }, 3000));

    popup = CDlg_map_list::Show(button, nullptr);
    ASSERT_TRUE(popup);
    ASSERT_TRUE(cvtest::WaitFor([&] { return popup->property("opened").toBool(); }, 3000));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_TRUE(cvtest::WaitFor([&] { return !popup; }, 3000));

    // From the map's own button the chosen chart opens in the map, keeping the place.
    win->onClickedMaps(button);
    QObject* fromMap = nullptr;
    for (QObject* o : window->findChildren<QObject*>())
        if (o->property("model").value<QObject*>() &&
            qobject_cast<CDlg_map_list*>(o->property("model").value<QObject*>()))
            fromMap = o;
    ASSERT_TRUE(fromMap);
    auto* model = qobject_cast<CDlg_map_list*>(fromMap->property("model").value<QObject*>());
    int harbour = -1;
    for (size_t i = 0; i < model->Rows().size(); ++i)
        if (Name(model->Rows()[i].path) == "harbour.qct") harbour = int(i);
    ASSERT_TRUE(model->openRow(harbour));
    CQuickChartView* v = map->View();
    ASSERT_TRUE(cvtest::WaitFor([v] { return !v->IsOpening() && Name(v->CurrentPath()) == "harbour.qct"; }));
}

TEST(MapSettings, ChangesAreSavedAtOnceAndReported) {
    maptest::RegisterTypesOnce();
    CDlg_map_settings model;
    QSignalSpy spy(&model, &CDlg_map_settings::settingsChanged);
    auto& st = CQuickChartView::settings();
    const bool was = st.show_scale_bar;

    model.setShowScaleBar(!was);
    EXPECT_EQ(st.show_scale_bar, !was);
    EXPECT_FALSE(st.IsChanged());
    EXPECT_EQ(spy.count(), 1);
    model.setShowScaleBar(!was);  // no change, nothing saved or reported
    EXPECT_EQ(spy.count(), 1);

    model.setScaleBarColor(QColor(0x12, 0x34, 0x56, 0x80));
    EXPECT_EQ(st.scale_bar_color, GraphicsColor(0x12, 0x34, 0x56, 0x80));
    std::ifstream in(PersistantData::Filename(PersistantData::AppName()));
    const std::string file((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(file.find("CQuickChartView:scale_bar_color=%2380123456"), std::string::npos) << file;
    model.setScaleBarColor(QColor());  // invalid: ignored
    EXPECT_EQ(st.scale_bar_color, GraphicsColor(0x12, 0x34, 0x56, 0x80));

    model.setChangeScaleByZooming(!model.changeScaleByZooming());
    model.setChangeScaleByZooming(!model.changeScaleByZooming());
    model.setShowScaleBar(was);
    st.scale_bar_color = GraphicsColor(0xFF, 0xBB, 0x33, 0xA0);
    EXPECT_EQ(spy.count(), 5);

    // Automatic download reaches every open renderer at once, not at the next chart.
    CQuickChartView a, b;
    const bool download = st.automatic_download;
    model.setAutomaticDownload(!download);
    EXPECT_EQ(a.AutomaticDownload(), !download);
    EXPECT_EQ(b.AutomaticDownload(), !download);
    model.setAutomaticDownload(download);
    EXPECT_EQ(a.AutomaticDownload(), download);
}
