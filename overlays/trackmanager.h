// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The owner of every track. It records the active track (the last of the list) from the
// GPS position while "doRecordTrack" is set, keeps its running statistics for the track
// read-outs, names new tracks from the default track's template, and stores all tracks
// in tracks.nvtf. Every recorded point also goes to a journal beside that file at once,
// so that a crash, a kill or a power cut costs no track; the journal is replayed when the
// tracks are loaded and emptied whenever tracks.nvtf is written.
//
// Listeners: every change that the read-outs or lists show (a recorded or dropped
// position of the active track, recording started or stopped, a track added, restyled
// or deleted) publishes the manager to Listener<CTrackManager>; they ask it for the
// active track and its statistics.
//
// GUI thread only: positions arrive through the data-source dispatch, the heartbeat
// pulses and every edit happen there.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/persistantdata.h"
#include "core/pubsub.h"
#include "overlays/gpsdata.h"
#include "overlays/overlaysource.h"
#include "overlays/track.h"
#include "overlays/trackjournal.h"

class CTrackManager : public CSerializable, public Listener<CDataGPSPosition>, public IOverlaySource {
public:
    static constexpr uint32_t kFileMagic = 0x0A2089E8;
    static constexpr const char* kFileName = "tracks.nvtf";
    // Recording rules.
    static constexpr double kNewTrackGap = 21600.0;  // 6 hours: a new trip
    // A position this far back in time comes from another clock (a replayed log): it
    // starts a new track rather than be mixed in.
    static constexpr double kBackwardsGap = 60.0;
    static constexpr double kMinDistance = 2.9;   // metres
    static constexpr double kMinInterval = 1.9;   // seconds
    static constexpr double kSteadyDistance = 20.0;
    static constexpr double kSteadyInterval = 20.0;
    static constexpr double kOwnSpeedInterval = 10.0;  // longer steps are timed by their length
    static constexpr double kMsPerKnot = 0.5144444444444445;
    // The journal is folded into tracks.nvtf once it holds this much (about 24,000 points).
    static constexpr long long kJournalSaveBytes = 1LL << 20;
    static constexpr const char* kSimulationName = "Simulation";

    class Persistant : public PersistantData {
    public:
        Persistant() : PersistantData("CTrackManager") {}
        void DeclareData() override { Declare("doRecordTrack", doRecordTrack); }
        bool doRecordTrack = false;
    };
    static Persistant settings;

    using Tracks = std::vector<std::unique_ptr<COverlayTrack>>;

    CTrackManager();
    ~CTrackManager() override;
    CTrackManager(const CTrackManager&) = delete;
    CTrackManager& operator=(const CTrackManager&) = delete;

    // ---- files
    // The folder of tracks.nvtf and its journal (default: the application directory).
    void SetDirectory(const std::string& dir);
    const std::string& Directory() const { return m_dir; }
    std::string FilePath() const { return m_dir + "/" + kFileName; }
    std::string JournalPath() const { return m_dir + "/" + CTrackJournal::kFileName; }
    // Journalling on (the default) or off (replays that record nothing worth keeping).
    void SetJournalEnabled(bool enabled);
    // Looking only: loading replays the journal without touching it, and nothing is
    // ever written.
    void SetReadOnly(bool readOnly) { m_readOnly = readOnly; }
    CTrackJournal& Journal() { return m_journal; }
    // Reads tracks.nvtf, then replays a journal left over into the tracks. A missing
    // file is an empty list; a damaged one is reported, what could be read is kept and
    // the file is not written over until ReplaceDamagedFile(). Returns whether the file
    // was read whole (true also when there is none).
    bool LoadFromFile();
    // Writes tracks.nvtf (through ".tmp") when something changed, then empties the journal.
    bool SaveIfNeeded();
    bool Serialize(IOStream& s) override;
    bool HasDamagedFile() const { return m_damaged; }
    bool ReplaceDamagedFile();
    void SetChanged() { m_changed = true; }
    bool IsChanged() const { return m_changed; }
    // Points the last load took from the journal.
    size_t ReplayedPoints() const { return m_replayed; }

    // ---- tracks
    const Tracks& GetTracks() const { return m_tracks; }
    COverlayTrack& DefaultTrack() { return *m_defaultTrack; }
    // The last track (recording or not); its running statistics are brought up to date.
    COverlayTrack* GetActiveTrack();
    // Tells `listener` about the active track now (a read-out that starts).
    void UpdateWithActiveTrack(Listener<CTrackManager>& listener);
    // Takes a track made elsewhere (imports); it is dispatched and saved.
    COverlayTrack* AddTrack(std::unique_ptr<COverlayTrack> track);
    // Deleting keeps a tombstone (hidden) for the online account; a track being recorded
    // into is closed first, so the next position starts a new one.
    void DeleteTrack(COverlayTrack* track);
    void UndeleteTrack(COverlayTrack* track);
    size_t DeleteTracksMatching(const std::function<bool(const COverlayTrack&)>& predicate);
    // Destroys every track (tombstones too).
    void ClearAll();
    bool alreadyHave(const COverlayTrack& track) const;
    COverlayTrack* FindTrackStartingAt(double lat, double lon, double tolerance) const;
    COverlayTrack* FindTrackEndingAt(double lat, double lon, double tolerance) const;
    // Live tracks whose name or description contains the text (every one for an empty
    // text). Return false from fn to stop.
    void ForEachMatchingTrack(const std::string& text, const std::function<bool(COverlayTrack&)>& fn) const;
    // After an edit of a track's name, description or category: stored, and shown again.
    void TrackChanged(COverlayTrack* track);
    // Cuts `track` at a point; the second part follows it in the list.
    COverlayTrack* SplitTrack(COverlayTrack* track, const CTrackSection* section, int index);
    std::string DefaultName() const;
    void EditDefaultTrack(const NV_HWND& hwnd);
    // The position's colour becomes that of new tracks, and their names "T1", "T2", ...
    void SetPositionColor(const GraphicsColor& color);
    // Sends `action` for every section of every live track to one listener (a view).
    void GetUpdatesForAll(COverlayObject::update_action action, Listener<COverlayObject>& listener);
    void ReportAllObjects(Listener<COverlayObject>& listener) override {
        GetUpdatesForAll(COverlayObject::UPDATE_CHANGED, listener);
    }

    // ---- recording
    bool IsRecording() const { return settings.doRecordTrack; }
    bool IsRecordingInto(const COverlayTrack* track) const;
    void startTrackRecording();
    void stopTrackRecording();
    void ToggleTrackRecording();
    void ResumeOrPauseRecording();
    void ResumeRecording(COverlayTrack* track);
    // A replayed log starts (or starts again) and ends: its positions are not the boat's,
    // so they go into tracks of their own, named "Simulation".
    void StartSimulation();
    void EndSimulation();
    bool IsSimulating() const { return m_simulating; }
    void OnUpdate(CDataGPSPosition& position) override;
    // The time of the latest position while recording (elapsed time goes on while the
    // boat stands still and no point is recorded); 0 when none.
    double LatestPositionTime() const { return m_latest.valid ? m_latest.point.time : 0; }

private:
    struct Fix {
        bool valid = false;
        CTrackPoint point;
    };

    // The last track unless it was deleted.
    COverlayTrack* ActiveTrack() const;
    void Record(COverlayTrack& track, const CTrackPoint& point);
    void Notify();
    void CloseActive();
    void Remove(COverlayTrack* track);
    void ReplayJournal(const CTrackJournal::Contents& contents);
    CTrackJournal::TrackInfo InfoOf(COverlayTrack& track);
    void SaveSettings();

    std::string m_dir;
    Tracks m_tracks;
    std::unique_ptr<COverlayTrack> m_defaultTrack;
    CTrackJournal m_journal;
    bool m_journalEnabled = true;
    bool m_readOnly = false;
    bool m_changed = false;
    bool m_damaged = false;
    bool m_simulating = false;
    size_t m_replayed = 0;
    Fix m_latest;
    // While reading: the file's size and whether the list came out short of it.
    long long m_readSize = 0;
    bool m_incomplete = false;
};

// The one track manager of the application (null before start-up creates it).
extern CTrackManager* g_track_manager;
