// SPDX-License-Identifier: GPL-3.0-or-later
// The whole layout: page sets, the choice of page set for a window, and the layout files.
#include <QFile>
#include <QTemporaryFile>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "core/apppaths.h"
#include "core/persistantdata.h"
#include "displays/displayview.h"

namespace {

class LayoutSettings : public PersistantData {
public:
    LayoutSettings() : PersistantData("CDisplayViewArrangementSet") {}
    void DeclareData() override { Declare("shown_layout_hint", shown_layout_hint); }
    bool shown_layout_hint = false;
};
LayoutSettings g_layoutSettings;

CDisplayViewArrangementSet* g_active = nullptr;

constexpr const char* kHintText =
    "We recommend you read the manual or watch the instructional video on editing the layout";

}  // namespace


bool LayoutHintShown() {
    return g_layoutSettings.shown_layout_hint;
}
void SetLayoutHintShown(bool shown) {
    g_layoutSettings.shown_layout_hint = shown;
    g_layoutSettings.SetChanged();
}

void SetActiveArrangementSet(CDisplayViewArrangementSet* set) {
    g_active = set;
}
CDisplayViewArrangementSet* GetActiveArrangementSet() {
    return g_active;
}

CDisplayViewArrangementSet::CDisplayViewArrangementSet() = default;

CDisplayViewArrangementSet::~CDisplayViewArrangementSet() {
    if (g_active == this) g_active = nullptr;
    m_current = nullptr;
    pageSets.clear();
}

bool CDisplayViewArrangementSet::Serialize(IOStream& s) {
    uint32_t count = uint32_t(pageSets.size());
    {
        Section sec(s);
        if (s.IsReading() && sec.AtEnd()) return false;
        if (!sec.declaremagic(int(kMagic)) || !sec.declare_value(count)) return false;
    }
    if (s.IsWriting()) {
        for (auto& set : pageSets) {
            if (!set->Serialize(s)) return false;
        }
        return true;
    }
    clear();
    // Every page set holds at least a header; a count beyond the file fails below.
    for (uint32_t i = 0; i < count; ++i) {
        auto set = std::make_unique<CDisplayViewPageSet>(this);
        if (!set->Serialize(s)) {
            clear();
            return false;
        }
        // Layouts with too many page sets keep the first ones.
        if (pageSets.size() < kMaxPageSets) pageSets.push_back(std::move(set));
    }
    m_current = pageSets.empty() ? nullptr : pageSets.front().get();
    return true;
}

void CDisplayViewArrangementSet::clear() {
    if (CDisplayView* p = getCurrentPage()) p->DetachFromWindow();
    for (auto& set : pageSets)
        for (auto& p : set->pages) p->DetachFromWindow();
    m_current = nullptr;
    pageSets.clear();
}

void CDisplayViewArrangementSet::setPageset(CDisplayViewPageSet* set) {
    for (auto& s : pageSets) {
        if (s.get() == set) {
            m_current = set;
            set->checkCurrentPage();
            return;
        }
    }
}

// ---- the page set for a window ----

CDisplayViewPageSet* CDisplayViewArrangementSet::FindBestFitPageSet(int w, int h) const {
    CDisplayViewPageSet* best = m_current;
    // Another set has to beat the current one clearly, so that small size changes (a
    // toolbar appearing) do not flip between two sets of similar size.
    long long bestDiff =
        m_current ? static_cast<long long>(m_current->SizeDifference(w, h)) - kPageSetHysteresis : LLONG_MAX;
    for (auto& set : pageSets) {
        const long long d = set->SizeDifference(w, h);
        if (d < bestDiff) {
            bestDiff = d;
            best = set.get();
        }
    }
    return best;
}

bool CDisplayViewArrangementSet::setBestPagesetForWindowSize(int w, int h) {
    if (pageSets.empty()) {
        AddNewArrangement(w, h);
        return true;
    }
    CDisplayViewPageSet* best = FindBestFitPageSet(w, h);
    if (!best || best == m_current) {
        if (m_current) m_current->checkCurrentPage();
        return false;
    }
    int sig[CDisplayView::kSignatureSize];
    getCurrentPageSignature(sig);
    const bool hadPage = getCurrentPage() != nullptr;
    m_current = best;
    best->checkCurrentPage();
    if (hadPage) best->setBestPageForSignature(sig);
    return true;
}

CDisplayViewPageSet* CDisplayViewArrangementSet::AddNewArrangement(int w, int h) {
    if (pageSets.size() >= kMaxPageSets) return nullptr;
    auto set = std::make_unique<CDisplayViewPageSet>(this);
    set->width = std::max(1, w);
    set->height = std::max(1, h);
    // A new screen size starts with copies of the pages the user already has, regridded.
    if (m_current) {
        const std::string tmp = getTempDirectory() + "/pageset_copy.tmp";
        if (m_current->WriteFile(tmp)) {
            CDisplayViewPageSet copy(this);
            if (copy.ReadFile(tmp)) {
                for (auto& p : copy.pages) set->AppendPage(std::move(p));
            }
        }
        std::remove(tmp.c_str());
    }
    set->width = std::max(1, w);
    set->height = std::max(1, h);
    set->AdjustPagesForScreen();
    set->checkCurrentPage();
    set->changed = true;
    int sig[CDisplayView::kSignatureSize];
    getCurrentPageSignature(sig);
    pageSets.push_back(std::move(set));
    m_current = pageSets.back().get();
    m_current->setBestPageForSignature(sig);
    changed = true;
    return m_current;
}

void CDisplayViewArrangementSet::RemoveArrangement(CDisplayViewPageSet* set) {
    auto it = std::find_if(pageSets.begin(), pageSets.end(), [set](auto& p) { return p.get() == set; });
    if (it == pageSets.end()) return;
    for (auto& p : (*it)->pages) p->DetachFromWindow();
    const bool wasCurrent = m_current == set;
    pageSets.erase(it);
    if (wasCurrent) m_current = pageSets.empty() ? nullptr : pageSets.front().get();
    changed = true;
}

void CDisplayViewArrangementSet::getCurrentPageSignature(int* sig) const {
    if (CDisplayView* p = getCurrentPage()) {
        p->UpdateSignature();
        std::memcpy(sig, p->Signature(), sizeof(int) * CDisplayView::kSignatureSize);
    } else {
        std::memcpy(sig, restoreSignature, sizeof restoreSignature);
    }
}

void CDisplayViewArrangementSet::splicePagesets(CDisplayViewArrangementSet& other) {
    for (auto& set : other.pageSets) {
        if (pageSets.size() >= kMaxPageSets) break;
        for (auto& p : set->pages) p->DetachFromWindow();
        set->SetOwner(this);
        pageSets.push_back(std::move(set));
    }
    other.pageSets.clear();
    other.m_current = nullptr;
    if (!m_current && !pageSets.empty()) m_current = pageSets.front().get();
    changed = true;
}

void CDisplayViewArrangementSet::ShowPage(CDisplayView* page) {
    if (!page || !page->PageSet()) return;
    CDisplayView* old = getCurrentPage();
    CDisplayView::IWindow* window = old ? old->Window() : nullptr;
    const NV_HWND hwnd = old ? old->Hwnd() : NV_HWND();
    setPageset(page->PageSet());
    page->PageSet()->setPage(page);
    if (window && old != page) {
        old->DetachFromWindow();
        page->Attach(*window, hwnd);
        page->Resized(false);
    }
}

// ---- editing ----

bool CDisplayViewArrangementSet::isArranging() const {
    CDisplayView* p = getCurrentPage();
    return p && p->isArranging();
}

void CDisplayViewArrangementSet::EditLayout(const NV_HWND& hwnd) {
    CDisplayView* p = getCurrentPage();
    if (!p) return;
    p->SetArranging(true);
    if (LayoutHintShown()) return;
    SetLayoutHintShown(true);
    PersistantData::SaveAll();
    auto onAnswer = [](int button) {
        if (button == 1) ShowHelp("layout");
    };
    if (IUiServices* ui = GetUiServices()) {
        ui->ShowMessage(hwnd, "Hint", kHintText, {" Got it! ", "Show me..."}, onAnswer);
    } else {
        MessageBoxHint(hwnd, kHintText);
    }
}

void CDisplayViewArrangementSet::EndEditLayout() {
    if (CDisplayView* p = getCurrentPage()) p->SetArranging(false);
    save_layout_if_changed();
}

// ---- files ----

std::string CDisplayViewArrangementSet::LayoutFilePath() {
    return getAppDirectory() + "/page_layout.pstf";
}
std::string CDisplayViewArrangementSet::BackupFilePath() {
    return LayoutFilePath() + ".backup";
}
std::string CDisplayViewArrangementSet::CurrentPageFilePath() {
    return getAppDirectory() + "/current_page.i5";
}

bool CDisplayViewArrangementSet::ReadSignatureFile(const std::string& path, int* sig) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char b[4 * CDisplayView::kSignatureSize];
    const bool ok = std::fread(b, 1, sizeof b, f) == sizeof b;
    std::fclose(f);
    if (!ok) return false;
    for (int i = 0; i < CDisplayView::kSignatureSize; ++i) {
        const uint32_t v = uint32_t(b[4 * i]) | uint32_t(b[4 * i + 1]) << 8 | uint32_t(b[4 * i + 2]) << 16 |
                           uint32_t(b[4 * i + 3]) << 24;
        sig[i] = int(v);
    }
    return true;
}

bool CDisplayViewArrangementSet::WriteSignatureFile(const std::string& path, const int* sig) {
    unsigned char b[4 * CDisplayView::kSignatureSize];
    for (int i = 0; i < CDisplayView::kSignatureSize; ++i) {
        const uint32_t v = uint32_t(sig[i]);
        for (int k = 0; k < 4; ++k) b[4 * i + k] = static_cast<unsigned char>(v >> (8 * k));
    }
    createPath(path);
    const std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(b, 1, sizeof b, f) == sizeof b;
    ok = std::fclose(f) == 0 && ok;
    if (ok && ReplaceFile(tmp, path)) return true;
    std::remove(tmp.c_str());
    return false;
}

bool CDisplayViewArrangementSet::ReadFileWithMagic(const std::string& path) {
    // Layouts from before the file magic existed are read as well.
    const uint32_t magic = readMagic(path);
    const bool ok = ReadFile(path, {}, magic == uint32_t(kLayoutFileMagic) ? kLayoutFileMagic : 0);
    if (!ok) clear();
    return ok && !pageSets.empty();
}

bool CDisplayViewArrangementSet::WriteFileWithMagic(const std::string& path) {
    return WriteFile(path, {}, kLayoutFileMagic);
}

bool CDisplayViewArrangementSet::AnythingChanged() const {
    if (changed) return true;
    for (auto& set : pageSets) {
        if (set->changed) return true;
        for (auto& p : set->pages)
            if (p->IsChanged()) return true;
    }
    return false;
}

bool CDisplayViewArrangementSet::save_layout_if_changed() {
    bool ok = true;
    if (AnythingChanged()) {
        ok = WriteFileWithMagic(LayoutFilePath());
        if (ok) {
            changed = false;
            for (auto& set : pageSets) {
                set->changed = false;
                for (auto& p : set->pages) p->ClearChanged();
            }
        }
    }
    int sig[CDisplayView::kSignatureSize];
    getCurrentPageSignature(sig);
    return WriteSignatureFile(CurrentPageFilePath(), sig) && ok;
}

bool CDisplayViewArrangementSet::saveBackupLayout() {
    // The backup is what "revert" returns to, so it must be the layout as it is now.
    if (AnythingChanged() || !FileExists(LayoutFilePath())) save_layout_if_changed();
    if (!FileExists(LayoutFilePath())) return WriteFileWithMagic(BackupFilePath());
    return CopyFile(LayoutFilePath(), BackupFilePath());
}

namespace {
// Object files are read with plain file calls, so a resource is copied out first.
bool ReadResourceLayout(CDisplayViewArrangementSet& set, const QString& resource) {
    QFile in(resource);
    if (!in.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = in.readAll();
    QTemporaryFile tmp(QString::fromStdString(getTempDirectory()) + QStringLiteral("/layout_XXXXXX"));
    if (!tmp.open() || tmp.write(bytes) != bytes.size() || !tmp.flush()) return false;
    return set.ReadFileWithMagic(tmp.fileName().toStdString());
}
}  // namespace

bool CDisplayViewArrangementSet::restoreDefaultLayout(int w, int h) {
    int sig[CDisplayView::kSignatureSize];
    getCurrentPageSignature(sig);
    clear();
    if (!ReadResourceLayout(*this, QStringLiteral(":/default_page_layout"))) BuildDefaultLayout(*this);
    std::memcpy(restoreSignature, sig, sizeof sig);
    if (w > 0 && h > 0) setBestPagesetForWindowSize(ToHundredths(w), ToHundredths(h));
    if (m_current) m_current->setBestPageForSignature(sig);
    changed = true;
    return !pageSets.empty();
}

bool CDisplayViewArrangementSet::LoadFile(const std::string& path, int w, int h) {
    int sig[CDisplayView::kSignatureSize];
    getCurrentPageSignature(sig);
    // Read into a fresh set first: a bad file must leave the layout as it was.
    CDisplayViewArrangementSet loaded;
    loaded.resolution = resolution;
    if (!loaded.ReadFileWithMagic(path)) return false;
    clear();
    splicePagesets(loaded);
    m_current = nullptr;
    std::memcpy(restoreSignature, sig, sizeof sig);
    if (w > 0 && h > 0) setBestPagesetForWindowSize(ToHundredths(w), ToHundredths(h));
    if (!m_current && !pageSets.empty()) m_current = pageSets.front().get();
    if (m_current) {
        m_current->checkCurrentPage();
        m_current->setBestPageForSignature(sig);
    }
    changed = true;
    save_layout_if_changed();
    return true;
}

bool CDisplayViewArrangementSet::revertToSavedLayout(int w, int h) {
    if (!FileExists(BackupFilePath())) return false;
    return LoadFile(BackupFilePath(), w, h);
}

bool CDisplayViewArrangementSet::loadInitialLayout(int w, int h) {
    int sig[CDisplayView::kSignatureSize];
    if (ReadSignatureFile(CurrentPageFilePath(), sig)) std::memcpy(restoreSignature, sig, sizeof sig);
    std::memcpy(sig, restoreSignature, sizeof sig);
    bool ok = ReadFileWithMagic(LayoutFilePath());
    // A damaged layout falls back to the copy made before the last edit, then to the
    // non-volatile copy, then to the shipped default.
    if (!ok && FileExists(BackupFilePath())) ok = ReadFileWithMagic(BackupFilePath());
    if (!ok) {
        const std::string nv = getNonVolatileDirectory() + "/page_layout.pstf";
        if (nv != LayoutFilePath() && FileExists(nv)) ok = ReadFileWithMagic(nv);
    }
    if (!ok) return restoreDefaultLayout(w, h);
    m_current = pageSets.front().get();
    if (w > 0 && h > 0) setBestPagesetForWindowSize(ToHundredths(w), ToHundredths(h));
    if (m_current) m_current->setBestPageForSignature(sig);
    return true;
}

// ---- single pages ----

bool CDisplayViewArrangementSet::ExportPage(CDisplayView& page, const std::string& path) {
    return page.WriteFile(path, {}, kPageFileMagic);
}

bool CDisplayViewArrangementSet::ImportPageFile(const NV_HWND& hwnd, const std::string& path, std::string& reason) {
    auto page = std::make_unique<CDisplayView>();
    // The caller tells the user, once, with the reason.
    if (!page->ReadFile(path, hwnd, kPageFileMagic)) {
        reason = FileNameOf(path);
        return false;
    }
    if (!m_current) {
        if (pageSets.empty()) {
            pageSets.push_back(std::make_unique<CDisplayViewPageSet>(this));
            pageSets.back()->changed = true;
        }
        m_current = pageSets.front().get();
    }
    CDisplayViewPageSet* set = m_current;
    // Regrid the page for this set before comparing, so that the same page saved from
    // another screen size is still recognised.
    page->SetPageSet(set);
    page->AdjustCellsForScreen();
    CDisplayView* shown = set->FindPageMatching(*page);
    if (!shown) {
        if (set->pages.size() >= CDisplayViewPageSet::kMaxPages) {
            reason = "There are too many pages already";
            return false;
        }
        page->MarkChanged();
        shown = set->AppendPage(std::move(page));
    }
    ShowPage(shown);
    changed = true;
    save_layout_if_changed();
    return true;
}

bool ImportDisplayPagesFile(const NV_HWND& hwnd, const std::string& path, CBounds&, std::string& reason) {
    CDisplayViewArrangementSet* set = GetActiveArrangementSet();
    if (!set) {
        reason = "No page layout is loaded";
        return false;
    }
    if (FileExtension(path) == "pstf") {
        // Keep the window's size: the page set is chosen for it again.
        int w = 0, h = 0;
        if (CDisplayView* p = set->getCurrentPage(); p && p->Window()) {
            double dw = 0, dh = 0;
            p->Window()->GetSize(dw, dh);
            w = int(dw);
            h = int(dh);
        }
        CDisplayView* old = set->getCurrentPage();
        CDisplayView::IWindow* window = old ? old->Window() : nullptr;
        const NV_HWND pageHwnd = old ? old->Hwnd() : NV_HWND();
        // The layout being replaced stays recoverable: it becomes the backup that
        // reverting an edit returns to.
        set->saveBackupLayout();
        if (!set->LoadFile(path, w, h)) {
            reason = FileNameOf(path);
            return false;
        }
        set->save_layout_if_changed();
        if (window) {
            if (CDisplayView* now = set->getCurrentPage()) {
                now->Attach(*window, pageHwnd);
                now->Resized(false);
            }
        }
        return true;
    }
    return set->ImportPageFile(hwnd, path, reason);
}

// ---- the first layout ----

void CDisplayViewArrangementSet::BuildDefaultLayout(CDisplayViewArrangementSet& out) {
    out.clear();
    auto set = std::make_unique<CDisplayViewPageSet>(&out);
    set->width = 640;
    set->height = 320;
    CDisplayViewPageSet* s = set.get();
    out.pageSets.push_back(std::move(set));
    out.m_current = s;
    using T = CDisplayView::CItemSettingsType;
    auto add = [](CDisplayView* page, int type, int row, int col, int rows, int cols) {
        page->AddItem(T::findType(type), row, col, rows, cols);
    };
    // A large map with its toolbar buttons over it.
    CDisplayView* map = s->AddNewPage();
    add(map, 111, 0, 0, 25, 51);
    add(map, 123, 0, 46, 4, 5);
    add(map, 124, 4, 46, 4, 5);
    add(map, 125, 8, 46, 4, 5);
    // The map beside a column of instruments.
    CDisplayView* mix = s->AddNewPage();
    add(mix, 111, 0, 0, 25, 35);
    add(mix, 42, 0, 35, 7, 16);
    add(mix, 41, 7, 35, 6, 16);
    add(mix, 36, 13, 35, 6, 16);
    add(mix, 35, 19, 35, 6, 16);
    // Instruments only: the boat's motion, the water and wind, the receiver.
    CDisplayView* inst = s->AddNewPage();
    add(inst, 42, 0, 0, 9, 17);
    add(inst, 41, 0, 17, 9, 17);
    add(inst, 43, 0, 34, 9, 17);
    add(inst, 36, 9, 0, 8, 17);
    add(inst, 34, 9, 17, 8, 17);
    add(inst, 35, 9, 34, 8, 17);
    add(inst, 118, 17, 0, 8, 17);
    add(inst, 76, 17, 17, 8, 17);
    add(inst, 68, 17, 34, 8, 17);
    s->setPage(map);
    s->ReIndexItems();

    // The same pages for a phone or a tablet held upright.
    auto tall = std::make_unique<CDisplayViewPageSet>(&out);
    tall->width = 320;
    tall->height = 640;
    CDisplayViewPageSet* t = tall.get();
    out.pageSets.push_back(std::move(tall));
    CDisplayView* tmap = t->AddNewPage();
    const int rows = tmap->Arrangement().rows, cols = tmap->Arrangement().cols;
    add(tmap, 111, 0, 0, rows, cols);
    add(tmap, 123, 0, cols - 5, 4, 5);
    add(tmap, 124, 4, cols - 5, 4, 5);
    add(tmap, 125, 8, cols - 5, 4, 5);
    const int half = cols / 2;
    CDisplayView* tmix = t->AddNewPage();
    const int mapRows = rows * 2 / 3;
    const int band = (rows - mapRows) / 2;
    const int first = rows - mapRows - band;  // the larger band, for speed and course
    add(tmix, 111, 0, 0, mapRows, cols);
    add(tmix, 42, mapRows, 0, first, half);
    add(tmix, 41, mapRows, half, first, cols - half);
    add(tmix, 36, mapRows + first, 0, band, half);
    add(tmix, 35, mapRows + first, half, band, cols - half);
    CDisplayView* tinst = t->AddNewPage();
    const int step = rows / 5;
    const int top = rows - 4 * step;  // the larger band, for speed and course
    add(tinst, 42, 0, 0, top, half);
    add(tinst, 41, 0, half, top, cols - half);
    add(tinst, 43, top, 0, step, cols);
    add(tinst, 36, top + step, 0, step, half);
    add(tinst, 34, top + step, half, step, cols - half);
    add(tinst, 35, top + 2 * step, 0, step, half);
    add(tinst, 118, top + 2 * step, half, step, cols - half);
    add(tinst, 76, top + 3 * step, 0, step, half);
    add(tinst, 68, top + 3 * step, half, step, cols - half);
    t->setPage(tmap);
    t->ReIndexItems();
    out.changed = true;
}
