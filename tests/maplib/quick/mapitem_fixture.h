// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A real offscreen window showing a display page built from the QML sources, a folder
// of nested test charts and their catalogue (installed as the global one), and helpers
// to send pointer, wheel and key events the way the platform would.

#include <QCoreApplication>
#include <QMouseEvent>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "core/display_metrics.h"
#include "core/persistantdata.h"
#include "displays/quick/adaptors.h"
#include "displays/quick/displayviewpage.h"
#include "maplib/quick/mapitem.h"
#include "maplib/test_chartview_support.h"
#include "qml/navora_qml_module.h"

namespace maptest {

inline void RegisterTypesOnce() {
    static bool done = false;
    if (done) return;
    done = true;
    qml_register_types_com_navora_nv();
    // Settings are saved only once a settings file is in use.
    PersistantData::LoadAll("maptests");
}

class MapItemFixture : public cvtest::ChartViewFixture {
protected:
    void SetUp() override {
        cvtest::ChartViewFixture::SetUp();
        RegisterTypesOnce();
        SetGraphicsResolution(1.0);
        CQuickChartView::settings().show_scale_bar = true;
        ClearDoneButtonCallback();
        // State files of earlier tests would reopen their charts.
        for (int i = 0; i < 4; ++i) std::remove((getAppDirectory() + "/" + std::to_string(i) + ".dvqc").c_str());

        MakeCharts(cvtest::NestedCharts());
        previousList = p_chart_list;
        p_chart_list = list.get();

        window = std::make_unique<QQuickWindow>();
        window->resize(800, 600);
        QQmlComponent c(&engine);
        c.setData("import com.navora.nv 1.0\nCDisplayViewPage { width: 800; height: 600 }", QUrl());
        pageItem.reset(qobject_cast<CDisplayViewPage*>(c.create()));
        ASSERT_TRUE(pageItem) << c.errorString().toStdString();
        pageItem->setParentItem(window->contentItem());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        set.width = 640;
        set.height = 320;
        page = set.AddNewPage();
    }

    void TearDown() override {
        for (CDisplayView* p : {page, otherPage})
            if (p) p->DetachFromWindow();
        pageItem.reset();
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        p_chart_list = previousList;
        graphicsResolution = 1.0;
        ClearDoneButtonCallback();
        cvtest::ChartViewFixture::TearDown();
    }

    // A map item over the given cells of `p` (the page grid is 25 x 51 cells).
    CDisplayView::CItemSettings* AddMap(CDisplayView* p, int row = 0, int col = 0, int rows = 25, int cols = 51) {
        return p->AddItem(CDisplayView::CItemSettingsType::findType(CDisplayViewQuickChart::kTypeId), row, col, rows,
                          cols);
    }
    void Attach(CDisplayView* p) { p->Attach(*pageItem, NV_HWND(pageItem.get())); }
    CDisplayViewQuickChart* MapOf(CDisplayView* p, const CDisplayView::CItemSettings* s) {
        return CDisplayViewQuickChart::FromItem(p->Arrangement().FindItem(s));
    }
    bool ShowChart(CDisplayViewQuickChart* map, int chart) {
        map->openMapFile(paths[size_t(chart)]);
        CQuickChartView* v = map->View();
        return cvtest::WaitFor([v] { return v->IsOpen() && !v->IsOpening(); });
    }
    // The one map of the page, showing the coastal chart.
    CDisplayViewQuickChart* MapShowingCoastal() {
        CDisplayView::CItemSettings* s = AddMap(page);
        Attach(page);
        CDisplayViewQuickChart* map = MapOf(page, s);
        if (!map || !map->QuickWindow()) return nullptr;
        if (!ShowChart(map, 1)) return nullptr;
        return map;
    }

    // Window coordinates.
    void Mouse(QEvent::Type type, QPointF p, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent e(type, p, window->mapToGlobal(p), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &e);
    }
    void Drag(QPointF from, QPointF to, int steps = 5) {
        Mouse(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        for (int i = 1; i <= steps; ++i) {
            const QPointF p = from + (to - from) * (double(i) / steps);
            Mouse(QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
        }
        Mouse(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    }
    void Wheel(QPointF p, QPoint angle, QPoint pixels = {}, bool inverted = false) {
        QWheelEvent e(p, window->mapToGlobal(p), pixels, angle, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      inverted);
        QCoreApplication::sendEvent(window.get(), &e);
    }
    void Key(int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &release);
    }

    QQmlEngine engine;
    std::unique_ptr<QQuickWindow> window;
    std::unique_ptr<CDisplayViewPage> pageItem;
    CDisplayViewPageSet set;
    CDisplayView* page = nullptr;
    CDisplayView* otherPage = nullptr;
    CChartList* previousList = nullptr;
};

}  // namespace maptest
