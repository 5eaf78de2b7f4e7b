// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Installing a map package: the manifest sits in a local folder, and every file it lists
// is fetched into that folder beside it, one mebibyte block per range request, six
// requests at a time. A block already present and intact (its checksum matches) is not
// fetched, so an interrupted installation resumes with only the missing blocks and a
// complete package costs no request at all.
//
// GUI thread only: the six jobs are six outstanding requests on the event loop; local
// reads and writes happen in their completion callbacks.

#include <QObject>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/uiservices.h"
#include "online/onlinesettings.h"
#include "online/packagemanifest.h"
#include "online/webprogress.h"

class CWebServer_NB;

// Open charts are closed while their files are replaced or deleted, and reopened after
// (so that newly installed files are seen). The application installs an implementation;
// without one nothing is closed or reopened.
class IChartReopener {
public:
    virtual ~IChartReopener() = default;
    virtual void CloseAllCharts() = 0;
    virtual void ReopenAllCharts() = 0;
};
void SetChartReopener(IChartReopener* reopener);  // not owned; null removes it
IChartReopener* GetChartReopener();

struct CPackageInstallResult {
    bool ok = false;
    bool cancelled = false;
    int files = 0;          // file records walked
    long long blocks = 0;   // blocks looked at
    long long fetched = 0;  // blocks fetched from the server
    long long skipped = 0;  // blocks already present and intact
    long long bytes = 0;    // bytes fetched
    std::string errors;     // the collected messages, each followed by a new line
    std::vector<std::string> deleted;  // files made by this run and removed after a failure
    std::vector<std::string> kept;     // files in flight at a failure that were there before
};

class CMapPackageDownload : public QObject {
    Q_OBJECT
public:
    static constexpr int kJobs = 6;
    using Callback = std::function<void(const CPackageInstallResult&)>;

    // Create with new: the object deletes itself after calling back. `progress` may be null.
    CMapPackageDownload(const std::string& manifestPath, std::shared_ptr<CWebProgressDialogData> progress,
                        Callback done);
    ~CMapPackageDownload() override;

    // Begins; the callback runs exactly once, later, from the event loop.
    void Start();
    // Stops as a failure (the user's choice: no message of its own); calls back before it
    // returns. The progress data's cancel flag does the same from the event loop.
    void Cancel();
    bool IsFinished() const { return m_finished; }

private:
    struct LocalFile;
    struct Job {
        enum class State { Idle, Checking, Fetching };
        CWebServer_NB* web = nullptr;  // child of the download
        State state = State::Idle;
        std::shared_ptr<LocalFile> file;
        int fileIndex = -1;
        std::string remoteName;
        long long offset = 0;
        int length = 0;
        uint32_t expected = 0;
        std::vector<unsigned char> buffer;
    };

    bool getNextJob(Job& job);
    bool NextFile();
    std::shared_ptr<LocalFile> OpenLocal(const std::string& name, long long size);
    void startJob(Job& job);
    void ProcessJob(Job& job, int received);
    void AddError(const std::string& message);
    void Fail(const std::string& message);
    void CheckEnd();
    void Finish();
    void ReportProgress();

    std::string m_manifestPath;
    std::string m_folder;  // the manifest's folder, with "/"
    std::shared_ptr<CWebProgressDialogData> m_progress;
    Callback m_done;
    std::unique_ptr<CPackageManifestReader> m_reader;
    CPackageHeader m_header;
    CServerAddress m_server;

    int m_fileIndex = -1;
    std::string m_fileName;
    long long m_fileSize = 0;
    long long m_filePos = 0;  // bytes of the current file already given to jobs
    std::shared_ptr<LocalFile> m_file;
    bool m_noMoreFiles = false;

    std::array<Job, kJobs> m_jobs;
    std::set<std::string> m_created;  // files this run made (only these may be removed)
    std::vector<std::string> m_errors;
    long long m_bytesDone = 0;
    bool m_started = false;
    bool m_failed = false;
    bool m_finished = false;
    CPackageInstallResult m_result;
    QTimer m_poll;
};

// Installs the package whose manifest is already local: asks first when the device lacks
// the space, shows progress titled "Downloading <name>", shows the collected messages
// when it fails, and calls back with the outcome.
void InstallMapPackage(const NV_HWND& parent, const std::string& manifestPath, CMapPackageDownload::Callback done);
void DownloadMapPackage(const NV_HWND& parent, const std::string& manifestPath, std::function<void(bool)> done);
