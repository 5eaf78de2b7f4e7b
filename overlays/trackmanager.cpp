// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/trackmanager.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>

#include <algorithm>
#include <cmath>

#include "core/apppaths.h"
#include "core/heartbeat.h"
#include "core/uiservices.h"
#include "overlays/markmanager.h"

CTrackManager* g_track_manager = nullptr;
CTrackManager::Persistant CTrackManager::settings;

namespace {

// A kept copy's name that does not exist yet.
std::string FreeName(const std::string& base) {
    if (!FileExists(base)) return base;
    for (int i = 1; i < 1000; ++i) {
        const std::string name = base + "." + std::to_string(i);
        if (!FileExists(name)) return name;
    }
    return {};
}

// Makes a written file (and its name in the directory) survive a power cut: the journal
// may only be emptied once the points it held are on the disk in their new place.
void SyncToDisk(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    const std::string dir = DirectoryOf(path);
    const int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

}  // namespace

// ---- life

CTrackManager::CTrackManager() : m_defaultTrack(std::make_unique<COverlayTrack>()) {
    m_defaultTrack->setName("T#");
    // Editing the template of new tracks is an edit of the file it is stored in.
    m_defaultTrack->SetOwner(this);
    if (!g_track_manager) g_track_manager = this;
    IOverlaySource::Register(this);
}

CTrackManager::~CTrackManager() {
    IOverlaySource::Unregister(this);
    Listener<CDataGPSPosition>::Disconnect();
    m_journal.Close();
    m_tracks.clear();
    if (g_track_manager == this) g_track_manager = nullptr;
}

// ---- files

void CTrackManager::SetDirectory(const std::string& dir) {
    m_dir = dir;
    while (m_dir.size() > 1 && m_dir.back() == '/') m_dir.pop_back();
    m_journal.SetPath(m_journalEnabled && !m_dir.empty() ? JournalPath() : std::string());
}

void CTrackManager::SetJournalEnabled(bool enabled) {
    m_journalEnabled = enabled;
    m_journal.SetPath(enabled && !m_dir.empty() ? JournalPath() : std::string());
}

bool CTrackManager::Serialize(IOStream& s) {
    Section sec(s);
    uint32_t stored = 0;
    if (sec.IsReading()) {
        // Damage the format alone would let pass: a section claiming more bytes than the
        // file has, or tracks that could not be read and were skipped.
        if (sec.End() > m_readSize) m_incomplete = true;
        const long long at = s.Position();
        if (!sec.AtEnd() && (!s.ReadU32(stored) || !s.Seek(at))) return false;
    }
    bool ok = CSerializableDeclareStatic(sec, m_tracks);
    if (sec.IsReading() && m_tracks.size() < stored) m_incomplete = true;
    return ok && m_defaultTrack->Serialize(s);
}

bool CTrackManager::LoadFromFile() {
    if (m_dir.empty()) SetDirectory(getAppDirectory());
    m_tracks.clear();
    m_damaged = false;
    m_replayed = 0;
    bool whole = true;
    const std::string path = FilePath();
    if (FileExists(path)) {
        m_readSize = FileSize(path);
        m_incomplete = false;
        if (!ReadFile(path, NV_HWND(), int(kFileMagic)) || m_incomplete) {
            whole = false;
            m_damaged = true;
            MessageBoxOK(NV_HWND(), "Problem",
                         "The tracks file is damaged and could not be read completely:\n" + path +
                             "\nIt is kept as it is and will not be written over. The tracks that could be read "
                             "are shown, and new points are kept safe beside it.");
        }
    }
    m_defaultTrack->setName("T#");
    m_defaultTrack->SetOwner(this);
    for (auto& t : m_tracks) t->SetOwner(this);
    // What was recorded after the file was last written comes back before anything else
    // happens to the tracks.
    CTrackJournal::Contents contents;
    if (m_readOnly) {
        if (CTrackJournal::Read(JournalPath(), contents)) ReplayJournal(contents);
    } else if (m_journal.Enabled() && m_journal.Open(&contents)) {
        ReplayJournal(contents);
    }
    m_changed = m_replayed > 0;
    for (auto& t : m_tracks)
        if (!t->isDeleted()) t->Dispatch(COverlayObject::UPDATE_CHANGED);
    Notify();
    return whole;
}

void CTrackManager::ReplayJournal(const CTrackJournal::Contents& contents) {
    COverlayTrack* lastReplayed = nullptr;
    for (const CTrackJournal::Run& run : contents.runs) {
        auto it = std::find_if(m_tracks.begin(), m_tracks.end(),
                               [&](const auto& t) { return t->PeekObjectID() == run.track.id; });
        COverlayTrack* track = it != m_tracks.end() ? it->get() : nullptr;
        // Deleted after these points were recorded: they went with it.
        if (track && track->isDeleted()) continue;
        if (!track) {
            auto fresh = std::make_unique<COverlayTrack>();
            fresh->SetObjectID(run.track.id);
            fresh->setName(run.track.name);
            fresh->setCreatedTime(run.track.created);
            fresh->SetOwner(this);
            track = fresh.get();
            m_tracks.push_back(std::move(fresh));
            track->SetLineStyle(run.track.color, run.track.width, run.track.style);
            track->setModifiedTime(run.track.created);
        }
        const CTrackPoint* last = track->LastPoint();
        double lastTime = last ? last->time : 0;
        size_t added = 0;
        for (const CTrackPoint& p : run.points) {
            // Points up to the file's last one were saved before the journal was emptied.
            if (p.time > 0 && lastTime > 0 && p.time <= lastTime) continue;
            track->addPoint(p, false);
            lastTime = p.time;
            ++added;
        }
        if (added > 0) {
            track->ResetRunningStats();
            m_replayed += added;
            lastReplayed = track;
        }
    }
    // The track being recorded at the crash is the active one again.
    if (lastReplayed && m_tracks.back().get() != lastReplayed) {
        auto it = std::find_if(m_tracks.begin(), m_tracks.end(), [&](const auto& t) { return t.get() == lastReplayed; });
        std::rotate(it, it + 1, m_tracks.end());
    }
}

bool CTrackManager::SaveIfNeeded() {
    if (m_dir.empty()) SetDirectory(getAppDirectory());
    if (!m_changed) return true;
    // Never replace what we could not read with what we did.
    if (m_damaged || m_readOnly) return false;
    PurgeTombstones(m_tracks, 0, CHeartbeat::Timestamp());
    const std::string path = FilePath();
    if (!WriteFile(path, NV_HWND(), int(kFileMagic))) return false;
    SyncToDisk(path);
    m_journal.Truncate();
    m_changed = false;
    return true;
}

bool CTrackManager::ReplaceDamagedFile() {
    if (!m_damaged) return true;
    const std::string path = FilePath();
    const std::string copy = FreeName(path + ".damaged");
    if (FileExists(path) &&
        (copy.empty() || !QFile::rename(QString::fromStdString(path), QString::fromStdString(copy))))
        return false;
    m_damaged = false;
    m_changed = true;
    return true;
}

// ---- tracks

COverlayTrack* CTrackManager::ActiveTrack() const {
    if (m_tracks.empty() || m_tracks.back()->isDeleted()) return nullptr;
    return m_tracks.back().get();
}

COverlayTrack* CTrackManager::GetActiveTrack() {
    COverlayTrack* t = ActiveTrack();
    if (t) t->getTotalDistance();  // recomputes the running totals when none are held
    return t;
}

bool CTrackManager::IsRecordingInto(const COverlayTrack* track) const {
    return settings.doRecordTrack && track && track == ActiveTrack() && !track->isClosed();
}

void CTrackManager::UpdateWithActiveTrack(Listener<CTrackManager>& listener) {
    listener.OnUpdate(*this);
}

void CTrackManager::Notify() {
    Listener<CTrackManager>::Publish(*this);
}

COverlayTrack* CTrackManager::AddTrack(std::unique_ptr<COverlayTrack> track) {
    if (!track) return nullptr;
    COverlayTrack* raw = track.get();
    raw->SetOwner(this);
    // An import goes before the track being recorded, which stays the last.
    if (IsRecording() && ActiveTrack() && !ActiveTrack()->isClosed())
        m_tracks.insert(m_tracks.end() - 1, std::move(track));
    else
        m_tracks.push_back(std::move(track));
    if (!raw->isDeleted()) raw->Dispatch(COverlayObject::UPDATE_CHANGED);
    m_changed = true;
    Notify();
    SaveIfNeeded();
    return raw;
}

void CTrackManager::Remove(COverlayTrack* track) {
    auto it = std::find_if(m_tracks.begin(), m_tracks.end(), [&](const auto& t) { return t.get() == track; });
    if (it == m_tracks.end()) return;
    m_tracks.erase(it);
    m_changed = true;
}

void CTrackManager::DeleteTrack(COverlayTrack* track) {
    if (!track || track->isDeleted()) return;
    if (IsRecordingInto(track)) track->setClosed(true);
    track->DeleteSyncItem();
    track->Dispatch(COverlayObject::UPDATE_CHANGED);
    m_changed = true;
    Notify();
    SaveIfNeeded();
}

void CTrackManager::UndeleteTrack(COverlayTrack* track) {
    if (!track || !track->isDeleted()) return;
    track->UndeleteSyncItem();
    track->Dispatch(COverlayObject::UPDATE_CHANGED);
    m_changed = true;
    Notify();
    SaveIfNeeded();
}

size_t CTrackManager::DeleteTracksMatching(const std::function<bool(const COverlayTrack&)>& predicate) {
    size_t n = 0;
    for (auto& t : m_tracks) {
        if (t->isDeleted() || !predicate || !predicate(*t)) continue;
        if (IsRecordingInto(t.get())) t->setClosed(true);
        t->DeleteSyncItem();
        t->Dispatch(COverlayObject::UPDATE_CHANGED);
        ++n;
    }
    if (n > 0) {
        m_changed = true;
        Notify();
        SaveIfNeeded();
    }
    return n;
}

void CTrackManager::ClearAll() {
    m_tracks.clear();
    m_changed = true;
    Notify();
}

bool CTrackManager::alreadyHave(const COverlayTrack& track) const {
    return std::any_of(m_tracks.begin(), m_tracks.end(),
                       [&](const auto& t) { return !t->isDeleted() && t->sameData(track); });
}

COverlayTrack* CTrackManager::FindTrackStartingAt(double lat, double lon, double tolerance) const {
    const CTrackPoint here(lat, lon, 0);
    for (const auto& t : m_tracks) {
        const CTrackPoint* p = t->FirstPoint();
        if (!t->isDeleted() && p && TrackStepDistance(*p, here) <= tolerance) return t.get();
    }
    return nullptr;
}

COverlayTrack* CTrackManager::FindTrackEndingAt(double lat, double lon, double tolerance) const {
    const CTrackPoint here(lat, lon, 0);
    for (const auto& t : m_tracks) {
        const CTrackPoint* p = t->LastPoint();
        if (!t->isDeleted() && p && TrackStepDistance(*p, here) <= tolerance) return t.get();
    }
    return nullptr;
}

void CTrackManager::ForEachMatchingTrack(const std::string& text, const std::function<bool(COverlayTrack&)>& fn) const {
    for (const auto& t : m_tracks) {
        if (t->isDeleted() || (!text.empty() && !t->matches_search(text))) continue;
        if (!fn(*t)) return;
    }
}

void CTrackManager::TrackChanged(COverlayTrack* track) {
    if (!track) return;
    track->SetModifiedNow();
    if (!track->isDeleted()) track->Dispatch(COverlayObject::UPDATE_CHANGED);
    m_changed = true;
    Notify();
    SaveIfNeeded();
}

COverlayTrack* CTrackManager::SplitTrack(COverlayTrack* track, const CTrackSection* section, int index) {
    auto it = std::find_if(m_tracks.begin(), m_tracks.end(), [&](const auto& t) { return t.get() == track; });
    if (it == m_tracks.end()) return nullptr;
    std::unique_ptr<COverlayTrack> rest = track->SplitTrack(section, index);
    if (!rest) return nullptr;
    rest->setName(DefaultName());
    rest->SetOwner(this);
    rest->GetObjectID();
    COverlayTrack* raw = rest.get();
    // A track being recorded into goes on in its second part, which is now the last.
    if (IsRecordingInto(track)) raw->setClosed(false);
    m_tracks.insert(it + 1, std::move(rest));
    raw->Dispatch(COverlayObject::UPDATE_CHANGED);
    m_changed = true;
    Notify();
    // The journal names the second part by its id: the file must know it.
    SaveIfNeeded();
    return raw;
}

std::string CTrackManager::DefaultName() const {
    std::vector<const std::string*> names;
    names.reserve(m_tracks.size());
    for (const auto& t : m_tracks) names.push_back(&t->getName());
    return CMarkManager::GetNameFromTemplate(m_defaultTrack->getName(), names);
}

void CTrackManager::EditDefaultTrack(const NV_HWND& hwnd) {
    if (ITrackUi* ui = COverlayTrack::Ui()) ui->EditDefaultTrack(hwnd);
}

void CTrackManager::SetPositionColor(const GraphicsColor& color) {
    m_defaultTrack->setName("T#");
    m_defaultTrack->SetLineStyle(color, m_defaultTrack->getLineWidth(), m_defaultTrack->getLineStyle());
}

void CTrackManager::GetUpdatesForAll(COverlayObject::update_action, Listener<COverlayObject>& listener) {
    for (auto& t : m_tracks) {
        if (t->isDeleted()) continue;
        for (auto& sec : t->getSections()) listener.OnUpdate(*sec);
    }
}

// ---- recording

void CTrackManager::SaveSettings() {
    settings.SetChanged();
    PersistantData::SaveAll();
}

CTrackJournal::TrackInfo CTrackManager::InfoOf(COverlayTrack& track) {
    if (track.PeekObjectID() == 0) {
        // The journal names tracks by id: one stored without an id gets it on the disk
        // first, or a replay could not find it.
        track.GetObjectID();
        m_changed = true;
        SaveIfNeeded();
    }
    CTrackJournal::TrackInfo info;
    info.id = track.GetObjectID();
    info.created = track.getCreatedTime();
    info.color = track.getLineColor();
    info.width = track.getLineWidth();
    info.style = track.getLineStyle();
    info.name = track.getName();
    return info;
}

void CTrackManager::Record(COverlayTrack& track, const CTrackPoint& point) {
    const bool journal = m_journal.Enabled() && !m_readOnly;
    CTrackJournal::TrackInfo info;
    if (journal) info = InfoOf(track);
    const bool newSection = track.addPoint(point, true);
    if (!journal) return;
    // A full section is synced before the next begins: a power cut never costs more.
    m_journal.Append(info, point, newSection);
    if (m_journal.Size() > kJournalSaveBytes) SaveIfNeeded();
}

void CTrackManager::CloseActive() {
    COverlayTrack* t = ActiveTrack();
    if (!t || t->isClosed()) return;
    t->setClosed(true);
    if (t->isTrivial()) Remove(t);
}

void CTrackManager::startTrackRecording() {
    CloseActive();
    settings.doRecordTrack = true;
    SaveSettings();
    auto track = std::make_unique<COverlayTrack>();
    track->CopyStyleFrom(*m_defaultTrack);
    track->setName(m_simulating ? kSimulationName : DefaultName());
    track->SetOwner(this);
    track->GetObjectID();
    m_tracks.push_back(std::move(track));
    m_changed = true;
    Notify();
}

void CTrackManager::stopTrackRecording() {
    settings.doRecordTrack = false;
    SaveSettings();
    CloseActive();
    Notify();
    SaveIfNeeded();
}

void CTrackManager::ToggleTrackRecording() {
    if (IsRecording())
        stopTrackRecording();
    else
        startTrackRecording();
}

void CTrackManager::ResumeOrPauseRecording() {
    COverlayTrack* t = ActiveTrack();
    if (!t) {
        startTrackRecording();
        return;
    }
    if (IsRecording() && !t->isClosed()) {
        stopTrackRecording();
        return;
    }
    ResumeRecording(t);
}

void CTrackManager::ResumeRecording(COverlayTrack* track) {
    auto it = std::find_if(m_tracks.begin(), m_tracks.end(), [&](const auto& t) { return t.get() == track; });
    if (it == m_tracks.end() || track->isDeleted()) return;
    COverlayTrack* active = ActiveTrack();
    if (IsRecording() && active && active != track && !active->isClosed()) {
        stopTrackRecording();
        it = std::find_if(m_tracks.begin(), m_tracks.end(), [&](const auto& t) { return t.get() == track; });
        if (it == m_tracks.end()) return;
    }
    std::rotate(it, it + 1, m_tracks.end());
    track->setClosed(false);
    const CTrackPoint* last = track->LastPoint();
    // The track goes on from where the boat is now.
    if (m_latest.valid && (!last || m_latest.point.time > last->time)) {
        Record(*track, m_latest.point);
        track->ResetRunningStats();
    }
    settings.doRecordTrack = true;
    SaveSettings();
    m_changed = true;
    Notify();
}

void CTrackManager::StartSimulation() {
    m_simulating = true;
    // A log's positions must not run on from the boat's track, nor one pass of a log
    // from the last.
    CloseActive();
    Notify();
    SaveIfNeeded();
}

void CTrackManager::EndSimulation() {
    if (!m_simulating) return;
    m_simulating = false;
    CloseActive();
    Notify();
    SaveIfNeeded();
}

void CTrackManager::OnUpdate(CDataGPSPosition& position) {
    if (!position.HasFix() || !position.HasPosition() || !std::isfinite(position.lat) || !std::isfinite(position.lon))
        return;
    CTrackPoint p(position.lat, position.lon, position.fix_time > 0 ? position.fix_time : CHeartbeat::Timestamp());
    if (position.HasAltitude() && std::isfinite(position.altitude)) p.altitude = float(position.altitude);
    m_latest.valid = true;
    m_latest.point = p;
    if (!settings.doRecordTrack) return;

    COverlayTrack* track = ActiveTrack();
    if (!track || track->isClosed()) {
        startTrackRecording();
        Record(*ActiveTrack(), p);
        Notify();
        return;
    }
    if (const CTrackPoint* last = track->LastPoint()) {
        const double dt = p.time - last->time;
        if (dt > kNewTrackGap || dt < -kBackwardsGap) {
            stopTrackRecording();
            startTrackRecording();
            Record(*ActiveTrack(), p);
            Notify();
            return;
        }
        const double d = TrackStepDistance(*last, p);
        const bool steady = !position.hasChangedCourseSpd();
        if (d < kMinDistance || dt < kMinInterval || (steady && (dt < kSteadyInterval || d < kSteadyDistance))) {
            Notify();
            return;
        }
        const double speed = dt > kOwnSpeedInterval ? d / dt : double(position.speed) * kMsPerKnot;
        track->AddRunningStep(d, dt, speed);
    }
    Record(*track, p);
    Notify();
}
