// SPDX-License-Identifier: GPL-3.0-or-later
#include "online/mappackage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QPointer>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/apppaths.h"
#include "online/webclient.h"

namespace {

IChartReopener* g_reopener = nullptr;

// Local checks of intact blocks run in slices of this many bytes per event-loop turn, so
// that a large complete package keeps the interface and the cancel button alive.
constexpr long long kCheckSliceBytes = 64LL << 20;

}  // namespace

void SetChartReopener(IChartReopener* reopener) {
    g_reopener = reopener;
}

IChartReopener* GetChartReopener() {
    return g_reopener;
}

// One local file of the package, shared by the jobs that work on its blocks.
struct CMapPackageDownload::LocalFile {
    std::string path;
    std::string name;
    int fd = -1;
    ~LocalFile() {
        if (fd >= 0) ::close(fd);
    }
};

CMapPackageDownload::CMapPackageDownload(const std::string& manifestPath,
                                         std::shared_ptr<CWebProgressDialogData> progress, Callback done)
    : m_manifestPath(manifestPath), m_progress(std::move(progress)), m_done(std::move(done)) {
    m_poll.setInterval(100);
    connect(&m_poll, &QTimer::timeout, this, [this] {
        if (m_progress && m_progress->IsCancelled()) Cancel();
    });
}

CMapPackageDownload::~CMapPackageDownload() = default;

void CMapPackageDownload::Start() {
    if (m_started) return;
    m_started = true;
    m_folder = PackageLocalFolder(m_manifestPath);
    m_reader = std::make_unique<CPackageManifestReader>(m_manifestPath);
    std::string problem;
    if (!m_reader->Open()) {
        problem = m_reader->Error();
    } else {
        m_header = m_reader->Header();
        if (m_header.server.empty()) {
            m_server = COnlineSettings::GetServer(COnlineSettings::kPackageServer);
        } else if (!CServerAddress::Parse(m_header.server, false, m_server)) {
            // A bare host means plain HTTP on the default port.
            problem = "The map package names an unusable server \"" + m_header.server + "\"";
        }
    }
    if (!problem.empty()) {
        QTimer::singleShot(0, this, [this, problem] { Fail(problem); });
        return;
    }
    for (Job& job : m_jobs) {
        job.web = new CWebServer_NB(m_server);
        job.web->setParent(this);
        job.buffer.resize(static_cast<size_t>(kPackageBlockSize));
    }
    ReportProgress();
    m_poll.start();
    QTimer::singleShot(0, this, [this] {
        for (Job& job : m_jobs) startJob(job);
    });
}

void CMapPackageDownload::Cancel() {
    if (m_finished) return;
    m_result.cancelled = true;
    m_failed = true;
    Finish();
}

void CMapPackageDownload::AddError(const std::string& message) {
    // The same trouble usually hits several blocks: say it once.
    if (std::find(m_errors.begin(), m_errors.end(), message) == m_errors.end()) m_errors.push_back(message);
}

void CMapPackageDownload::Fail(const std::string& message) {
    if (m_finished) return;
    AddError(message);
    m_failed = true;
    Finish();
}

bool CMapPackageDownload::NextFile() {
    std::string name;
    long long size = 0;
    if (!m_reader->NextFile(name, size)) {
        if (m_reader->Failed())
            Fail(m_reader->Error());
        else
            m_noMoreFiles = true;
        return false;
    }
    ++m_fileIndex;
    ++m_result.files;
    m_fileName = name;
    m_fileSize = size;
    m_filePos = 0;
    // Opening here also makes the files of 0 bytes, which have no blocks.
    m_file = OpenLocal(name, size);
    return m_file != nullptr;
}

std::shared_ptr<CMapPackageDownload::LocalFile> CMapPackageDownload::OpenLocal(const std::string& name,
                                                                               long long size) {
    auto file = std::make_shared<LocalFile>();
    file->name = name;
    file->path = m_folder + name;
    if (!createPath(file->path)) {
        Fail("Failed to open local file: cannot make the folder for " + file->path);
        return nullptr;
    }
    struct stat st {};
    if (::stat(file->path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        // A folder in the way belongs to the user: it is never removed for a package.
        Fail("Failed to open local file: " + std::string(std::strerror(EISDIR)) + " (" + file->path +
             "). The folder was left as it is; move it away and install the package again.");
        return nullptr;
    }
    file->fd = ::open(file->path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file->fd >= 0) {
        m_created.insert(file->path);
    } else if (errno == EEXIST) {
        file->fd = ::open(file->path.c_str(), O_RDWR | O_CLOEXEC);
    }
    if (file->fd < 0) {
        Fail("Failed to open local file: " + std::string(std::strerror(errno)) + " (" + file->path + ")");
        return nullptr;
    }
    // A longer old copy would keep a stale tail after its blocks are brought up to date.
    if (::fstat(file->fd, &st) == 0 && st.st_size > size && ::ftruncate(file->fd, size) != 0) {
        Fail("Local file write error: " + std::string(std::strerror(errno)) + " (" + file->path + ")");
        return nullptr;
    }
    return file;
}

bool CMapPackageDownload::getNextJob(Job& job) {
    while (m_filePos >= m_fileSize) {
        if (m_failed || m_noMoreFiles || !NextFile()) return false;
    }
    const long long length = std::min(kPackageBlockSize, m_fileSize - m_filePos);
    if (!m_reader->NextChecksum(job.expected)) {
        Fail(m_reader->Failed() ? m_reader->Error() : "The map package " + m_manifestPath + " is damaged");
        return false;
    }
    job.file = m_file;
    job.fileIndex = m_fileIndex;
    job.remoteName = m_fileName;
    job.offset = m_filePos;
    job.length = static_cast<int>(length);
    m_filePos += length;
    ++m_result.blocks;
    return true;
}

void CMapPackageDownload::startJob(Job& job) {
    long long checked = 0;
    for (;;) {
        if (m_finished) return;
        if (m_progress && m_progress->IsCancelled()) {
            Cancel();
            return;
        }
        if (!getNextJob(job)) {
            job.file.reset();
            job.state = Job::State::Idle;
            CheckEnd();
            return;
        }
        if (LocalBlockChecksum(job.file->fd, job.offset, job.length, job.buffer.data()) == job.expected) {
            ++m_result.skipped;
            m_bytesDone += job.length;
            checked += job.length;
            if (checked >= kCheckSliceBytes) {
                ReportProgress();
                job.state = Job::State::Checking;
                QTimer::singleShot(0, this, [this, &job] { startJob(job); });
                return;
            }
            continue;
        }
        job.state = Job::State::Fetching;
        job.web->ReadPartialFileSlice_NB(m_header.folder + job.remoteName, job.offset, job.length,
                                         job.buffer.data(), [this, &job](int received) {
                                             if (!m_finished) ProcessJob(job, received);
                                         });
        ReportProgress();
        return;
    }
}

void CMapPackageDownload::ProcessJob(Job& job, int received) {
    const std::string& name = job.remoteName;
    if (received < 0) {
        const std::string& why = job.web->ErrorText();
        Fail(why.empty() ? "Download of " + name + " failed" : why);
        return;
    }
    if (received != job.length) {
        Fail("The server sent " + std::to_string(received) + " of " + std::to_string(job.length) + " bytes of " +
             name);
        return;
    }
    if (PackageBlockChecksum(job.buffer.data(), static_cast<size_t>(received)) != job.expected) {
        Fail("The server's copy of " + name + " does not match the package (at byte " + std::to_string(job.offset) +
             ")");
        return;
    }
    int written = 0;
    while (written < received) {
        const ssize_t n = ::pwrite(job.file->fd, job.buffer.data() + written, static_cast<size_t>(received - written),
                                   job.offset + written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Fail("Local file write error: " + std::string(std::strerror(n == 0 ? ENOSPC : errno)));
            return;
        }
        written += static_cast<int>(n);
    }
    ++m_result.fetched;
    m_result.bytes += received;
    m_bytesDone += received;
    job.state = Job::State::Idle;
    startJob(job);
}

void CMapPackageDownload::ReportProgress() {
    if (m_progress) m_progress->SetBytes(std::min(m_bytesDone, m_header.totalSize), m_header.totalSize);
}

void CMapPackageDownload::CheckEnd() {
    if (m_finished || m_failed || !m_noMoreFiles) return;
    for (const Job& job : m_jobs) {
        if (job.state != Job::State::Idle) return;
    }
    Finish();
}

void CMapPackageDownload::Finish() {
    if (m_finished) return;
    m_finished = true;
    m_poll.stop();
    const bool ok = !m_failed;
    std::set<std::string> inFlight;
    for (Job& job : m_jobs) {
        if (job.state == Job::State::Fetching && job.file) inFlight.insert(job.file->path);
        if (job.web) job.web->Cancel();  // its late callback finds the download finished
        job.file.reset();
        job.state = Job::State::Idle;
    }
    m_file.reset();
    if (!ok) {
        // A file whose block was in flight is incomplete in an unknown way: remove it whole,
        // but only when this run made it. Anything that was there before stays.
        for (const std::string& path : inFlight) {
            if (m_created.count(path)) {
                ::unlink(path.c_str());
                m_result.deleted.push_back(path);
            } else {
                m_result.kept.push_back(path);
                AddError(path + " was there before this installation and was kept as it is; installing the package "
                                "again completes it.");
            }
        }
        for (const std::string& e : m_errors) m_result.errors += e + "\n";
    }
    m_result.ok = ok;
    ReportProgress();
    if (g_reopener) g_reopener->ReopenAllCharts();
    if (m_progress) m_progress->SetDone();
    Callback done = std::move(m_done);
    m_done = nullptr;
    deleteLater();
    if (done) done(m_result);
}

void InstallMapPackage(const NV_HWND& parent, const std::string& manifestPath, CMapPackageDownload::Callback done) {
    CPackageManifestReader reader(manifestPath);
    if (!reader.Open()) {
        MessageBoxOK(parent, "Error", "Error opening NV Package");
        CPackageInstallResult result;
        result.errors = reader.Error() + "\n";
        if (done) done(result);
        return;
    }
    const std::string name = reader.Header().name;
    const long long needed = EstimateNeededSpaceForPackage(manifestPath);
    const long long free = FreeSpaceOnDevice(PackageLocalFolder(manifestPath));

    auto start = [parent, manifestPath, name, done] {
        auto progress = std::make_shared<CWebProgressDialogData>("Downloading " + name);
        ShowProgressDialog(parent, progress);
        auto* download = new CMapPackageDownload(manifestPath, progress, [parent, done](const CPackageInstallResult& r) {
            if (!r.ok && !r.errors.empty()) MessageBoxOK(parent, "Problem", r.errors);
            if (done) done(r);
        });
        download->Start();
    };
    if (free >= 0 && needed > free) {
        const std::string text = "The package \"" + name + "\" will take up " + FormatFileSize(needed) +
                                 ", but the device has only " + FormatFileSize(free) +
                                 " available.\n\nWould you like to continue?";
        MessageBoxYesNo(parent, "Not enough space", text, start, [done] {
            CPackageInstallResult result;
            result.cancelled = true;
            if (done) done(result);
        });
        return;
    }
    start();
}

void DownloadMapPackage(const NV_HWND& parent, const std::string& manifestPath, std::function<void(bool)> done) {
    InstallMapPackage(parent, manifestPath, [done = std::move(done)](const CPackageInstallResult& r) {
        if (done) done(r.ok);
    });
}
