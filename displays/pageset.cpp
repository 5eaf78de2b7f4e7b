// SPDX-License-Identifier: GPL-3.0-or-later
// Page sets: the pages for one screen size.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "displays/displayview.h"
#include "units/units.h"

CDisplayViewPageSet::CDisplayViewPageSet(CDisplayViewArrangementSet* owner) : m_owner(owner) {}

CDisplayViewPageSet::~CDisplayViewPageSet() {
    m_current = nullptr;
    pages.clear();
}

bool CDisplayViewPageSet::Serialize(IOStream& s) {
    uint32_t count = uint32_t(pages.size());
    {
        Section sec(s);
        if (s.IsReading() && sec.AtEnd()) return false;
        if (!sec.declaremagic(int(kMagic)) || !sec.declare_value(count) || !sec.declare_value(width) ||
            !sec.declare_value(height) || !sec.declare(name))
            return false;
    }
    if (s.IsWriting()) {
        for (auto& p : pages) {
            if (!p->Serialize(s)) return false;
        }
        return true;
    }
    if (count > kMaxPages) return false;
    if (width < 1 || height < 1 || width > 1000000 || height > 1000000) return false;
    m_current = nullptr;
    pages.clear();
    for (uint32_t i = 0; i < count; ++i) {
        auto page = std::make_unique<CDisplayView>();
        page->SetPageSet(this);
        if (!page->Serialize(s)) return false;
        pages.push_back(std::move(page));
    }
    checkCurrentPage();
    ReIndexItems();
    return true;
}

void CDisplayViewPageSet::setPage(CDisplayView* page) {
    if (IndexOf(page) >= 0) m_current = page;
}

CDisplayView* CDisplayViewPageSet::nextPage() {
    checkCurrentPage();
    const int i = IndexOf(m_current);
    m_current = pages[size_t(i + 1) % pages.size()].get();
    return m_current;
}

CDisplayView* CDisplayViewPageSet::previousPage() {
    checkCurrentPage();
    const int n = int(pages.size());
    const int i = IndexOf(m_current);
    m_current = pages[size_t((i + n - 1) % n)].get();
    return m_current;
}

void CDisplayViewPageSet::checkCurrentPage() {
    if (pages.empty()) AddNewPage();
    if (IndexOf(m_current) < 0) m_current = pages.front().get();
}

CDisplayView* CDisplayViewPageSet::AppendPage(std::unique_ptr<CDisplayView> page) {
    if (!page || pages.size() >= kMaxPages) return nullptr;
    page->SetPageSet(this);
    page->AdjustCellsForScreen();
    pages.push_back(std::move(page));
    CDisplayView* p = pages.back().get();
    if (!m_current) m_current = p;
    ReIndexItems();
    changed = true;
    return p;
}

CDisplayView* CDisplayViewPageSet::AddNewPage() {
    auto page = std::make_unique<CDisplayView>();
    page->SetPageSet(this);
    page->AdjustCellsForScreen();
    pages.push_back(std::move(page));
    changed = true;
    if (!m_current) m_current = pages.back().get();
    return pages.back().get();
}

void CDisplayViewPageSet::RemovePageAt(int index) {
    if (index < 0 || size_t(index) >= pages.size()) return;
    CDisplayView* page = pages[size_t(index)].get();
    page->DetachFromWindow();
    const bool wasCurrent = page == m_current;
    pages.erase(pages.begin() + index);
    if (wasCurrent)
        m_current = pages.empty() ? nullptr : pages[size_t(std::min<int>(index, int(pages.size()) - 1))].get();
    changed = true;
    ReIndexItems();
}

void CDisplayViewPageSet::RemoveCurrentPage() {
    RemovePageAt(IndexOf(m_current));
}

int CDisplayViewPageSet::IndexOf(const CDisplayView* page) const {
    for (size_t i = 0; i < pages.size(); ++i) {
        if (pages[i].get() == page) return int(i);
    }
    return -1;
}

CDisplayView* CDisplayViewPageSet::FindPageMatching(const CDisplayView& page) const {
    for (auto& p : pages) {
        if (p.get() != &page && p->Arrangement().Matches(page.Arrangement())) return p.get();
    }
    return nullptr;
}

namespace {
// How many of the types in `a` also appear in `b` (each occurrence matched once).
int items_in_common(const int* a, const int* b) {
    bool used[CDisplayView::kSignatureSize] = {false, false, false, false, false};
    int common = 0;
    for (int i = 0; i < CDisplayView::kSignatureSize; ++i) {
        if (a[i] == 0) continue;
        for (int j = 0; j < CDisplayView::kSignatureSize; ++j) {
            if (!used[j] && b[j] == a[i]) {
                used[j] = true;
                ++common;
                break;
            }
        }
    }
    return common;
}
}  // namespace

CDisplayView* CDisplayViewPageSet::bestPageForSignature(const int* sig) const {
    if (pages.empty()) return nullptr;
    if (!sig) return m_current ? m_current : pages.front().get();
    CDisplayView* best = nullptr;
    int bestCommon = -1;
    for (auto& p : pages) {
        if (p->compareSignature(sig)) return p.get();
        const int c = items_in_common(sig, p->Signature());
        if (c > bestCommon) {
            bestCommon = c;
            best = p.get();
        }
    }
    return best;
}

void CDisplayViewPageSet::setBestPageForSignature(const int* sig) {
    if (CDisplayView* p = bestPageForSignature(sig)) m_current = p;
}

int CDisplayViewPageSet::SizeDifference(int w, int h) const {
    const long long d = std::llabs(static_cast<long long>(w) - width) + std::llabs(static_cast<long long>(h) - height);
    // A set made for the other orientation is a poor fit even at a similar size.
    const bool rotated = (w < h) != (width < height);
    return int(std::min<long long>(rotated ? 2 * d : d, 1000000000LL));
}

void CDisplayViewPageSet::AdjustPagesForScreen() {
    for (auto& p : pages) p->AdjustCellsForScreen();
}

void CDisplayViewPageSet::ReIndexItems() {
    std::set<int> types;
    for (auto& p : pages)
        for (auto& s : p->Arrangement().settings) types.insert(s->TypeId());
    for (int t : types) ReIndexItemsOfType(t);
}

void CDisplayViewPageSet::ReIndexItemsOfType(int type) {
    int i = 0;
    for (auto& p : pages)
        for (auto& s : p->Arrangement().settings)
            if (s->TypeId() == type) s->SetIndex(i++);
}

std::string CDisplayViewPageSet::getScreenName() const {
    if (!name.empty()) return name;
    const bool metric = CDefaultUnits::u.get_unit_family() == CUnits::e_km;
    const double f = metric ? 0.0255 : 0.01;
    const char* suffix = metric ? "cm" : "\"";
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.1f%s w x %.1f%s h", width * f, suffix, height * f, suffix);
    return buf;
}
