// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <set>

#include "displays/displayview.h"

// A page window without any user interface: it makes adaptors that remember where
// their item was put, and counts the adaptors alive so tests see leaks and double frees.
class FakeAdaptor : public CDisplayView::IWindow {
public:
    explicit FakeAdaptor(std::set<FakeAdaptor*>& live, CDisplayView::CItem& item) : m_live(live), item(&item) {
        m_live.insert(this);
    }
    ~FakeAdaptor() override { m_live.erase(this); }
    void Move(double x_, double y_, double w_, double h_) override {
        x = x_;
        y = y_;
        w = w_;
        h = h_;
    }
    void SetSize(double w_, double h_) override {
        w = w_;
        h = h_;
    }
    void GetSize(double& w_, double& h_) const override {
        w_ = w;
        h_ = h;
    }
    void GetXY(double& x_, double& y_) const override {
        x_ = x;
        y_ = y;
    }
    void SetLayer(int l) override { layer = l; }
    void show(bool v) override { visible = v; }
    void Invalidate() override { ++invalidated; }
    void Detach() override { item = nullptr; }
    void Destroy() override { delete this; }

    double x = 0, y = 0, w = 0, h = 0;
    int layer = 0;
    bool visible = false;
    int invalidated = 0;

private:
    std::set<FakeAdaptor*>& m_live;

public:
    CDisplayView::CItem* item;
};

class FakePageWindow : public CDisplayView::IWindow {
public:
    FakePageWindow(double w_, double h_) : w(w_), h(h_) {}
    void Move(double, double, double w_, double h_) override {
        w = w_;
        h = h_;
    }
    void SetSize(double w_, double h_) override {
        w = w_;
        h = h_;
    }
    void GetSize(double& w_, double& h_) const override {
        w_ = w;
        h_ = h;
    }
    void GetXY(double& x_, double& y_) const override { x_ = y_ = 0; }
    void SetLayer(int) override {}
    void show(bool) override {}
    void Invalidate() override {}
    void Detach() override {}
    void Destroy() override {}
    void GetSafeAreaInsets(double& l, double& t, double& r, double& b) const override {
        l = insetL;
        t = insetT;
        r = insetR;
        b = insetB;
    }
    IWindow* CreateViewAdaptor(CDisplayView::CItem& item) override { return new FakeAdaptor(live, item); }
    IWindow* CreatePaintAdaptor(CDisplayView::CItem& item) override { return new FakeAdaptor(live, item); }
    IWindow* CreateTextAdaptor(CDisplayView::CItem& item) override { return new FakeAdaptor(live, item); }
    IWindow* CreateButtonAdaptor(CDisplayView::CItem& item) override { return new FakeAdaptor(live, item); }
    void ArrangingChanged() override { ++arrangingNotices; }

    FakeAdaptor* AdaptorOf(const CDisplayView& page, const CDisplayView::CItemSettings* s) const {
        CDisplayView::CItem* item = page.Arrangement().FindItem(s);
        return item ? static_cast<FakeAdaptor*>(item->Window()) : nullptr;
    }

    double w, h;
    double insetL = 0, insetT = 0, insetR = 0, insetB = 0;
    int arrangingNotices = 0;
    std::set<FakeAdaptor*> live;
};
