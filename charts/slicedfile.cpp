// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/slicedfile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/apppaths.h"

namespace {

int OpenFlags(CFile64::EOpenMode mode) {
    switch (mode) {
    case CFile64::modeRead: return O_RDONLY;
    case CFile64::modeWrite: return O_WRONLY | O_CREAT | O_TRUNC;
    case CFile64::modeReadWrite: return O_RDWR | O_CREAT;
    default: return -1;
    }
}

constexpr int64_t kSliceLimit = 0xFFFFFFFFLL;

}  // namespace

bool CMultiThreadedSlicedFile::ReOpen(const std::string& path, CFile64::EOpenMode mode) {
    std::lock_guard<std::mutex> lock(m_mutex);
    CloseLocked();
    m_mode = mode;
    m_single = false;
    m_written = false;
    m_last_slice = -1;
    m_error = 0;
    if (mode == CFile64::modeClosed || path.empty()) {
        m_mode = CFile64::modeClosed;
        m_error = EINVAL;
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            m_path = path + "/";
            m_prefix = m_path.size();
        } else {
            m_single = true;
            m_path = path;
            m_prefix = 0;
        }
    } else if (mode == CFile64::modeRead) {
        m_error = errno;
        m_mode = CFile64::modeClosed;
        return false;
    } else {
        if (!createDirectory(path)) {
            m_error = errno ? errno : EIO;
            m_mode = CFile64::modeClosed;
            return false;
        }
        m_path = path + "/";
        m_prefix = m_path.size();
    }
    if (OpenSliceLocked(0) < 0) {
        const int err = m_error;
        CloseLocked();
        m_error = err;
        return false;
    }
    return true;
}

int CMultiThreadedSlicedFile::OpenSliceLocked(int k) {
    if (k < 0 || k > kMaxSlice || (m_single && k != 0)) {
        m_error = EINVAL;
        return -1;
    }
    if (m_fds.size() <= static_cast<size_t>(k)) m_fds.resize(k + 10, -1);
    if (m_fds[k] >= 0) return m_fds[k];
    const int flags = OpenFlags(m_mode);
    if (flags < 0) {
        m_error = EBADF;
        return -1;
    }
    const std::string name = m_single ? m_path : m_path.substr(0, m_prefix) + std::to_string(k);
    const int fd = ::open(name.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        m_error = errno;
        return -1;
    }
    m_fds[k] = fd;
    return fd;
}

int CMultiThreadedSlicedFile::FdForAddressLocked(int64_t address, off_t& offset) {
    if (m_mode == CFile64::modeClosed || address < 0) {
        m_error = m_mode == CFile64::modeClosed ? EBADF : EINVAL;
        return -1;
    }
    if (m_single) {
        offset = static_cast<off_t>(address);
        return OpenSliceLocked(0);
    }
    offset = static_cast<off_t>(address & 0xFFFFFFFFLL);
    return OpenSliceLocked(static_cast<int>(address >> 32));
}

long long CMultiThreadedSlicedFile::LockedRead(int64_t address, void* buffer, size_t length) {
    std::lock_guard<std::mutex> lock(m_mutex);
    off_t offset = 0;
    const int fd = FdForAddressLocked(address, offset);
    if (fd < 0) return -1;
    size_t done = 0;
    auto* p = static_cast<unsigned char*>(buffer);
    while (done < length) {
        const ssize_t n = ::pread(fd, p + done, length - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            m_error = errno;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<long long>(done);
}

bool CMultiThreadedSlicedFile::WriteAllLocked(int64_t address, const void* data, size_t length) {
    off_t offset = 0;
    const int fd = FdForAddressLocked(address, offset);
    if (fd < 0) return false;
    m_written = true;
    size_t done = 0;
    const auto* p = static_cast<const unsigned char*>(data);
    while (done < length) {
        const ssize_t n = ::pwrite(fd, p + done, length - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            m_error = errno;
            return false;
        }
        if (n == 0) {
            m_error = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool CMultiThreadedSlicedFile::LockedWrite(int64_t address, const void* data, size_t length) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return WriteAllLocked(address, data, length);
}

bool CMultiThreadedSlicedFile::LockedWrite2(int64_t address, const void* data1, size_t length1, const void* data2,
                                            size_t length2) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!WriteAllLocked(address, data1, length1)) return false;
    return WriteAllLocked(address + static_cast<int64_t>(length1), data2, length2);
}

int64_t CMultiThreadedSlicedFile::AllocAtEnd2(int64_t length, int alignment) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_mode != CFile64::modeWrite && m_mode != CFile64::modeReadWrite) return -1;
    if (length < 0) {
        m_error = EINVAL;
        return -1;
    }
    m_written = true;
    if (m_last_slice < 0) {
        m_last_slice = 0;
        if (!m_single) {
            for (int k = 0; k <= kMaxSlice; ++k) {
                const std::string name = m_path.substr(0, m_prefix) + std::to_string(k);
                if (::access(name.c_str(), F_OK) == 0) {
                    m_last_slice = k;
                } else if (errno != ENOENT) {
                    m_error = errno;
                    m_last_slice = -1;
                    return -1;
                }
            }
        }
    }
    int fd = OpenSliceLocked(m_last_slice);
    if (fd < 0) return -1;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end < 0) {
        m_error = errno;
        return -1;
    }
    int64_t start = end;
    if (alignment > 0) start = (start + alignment - 1) / alignment * alignment;
    if (!m_single && start + length > kSliceLimit) {
        if (m_last_slice + 1 > kMaxSlice) {
            m_error = ENOSPC;
            return -1;
        }
        fd = OpenSliceLocked(m_last_slice + 1);
        if (fd < 0) return -1;
        ++m_last_slice;
        start = 0;
    }
    if (length > 0) {
        const unsigned char zero = 0;
        const off_t last = static_cast<off_t>(start + length - 1);
        ssize_t n;
        do {
            n = ::pwrite(fd, &zero, 1, last);
        } while (n < 0 && errno == EINTR);
        if (n != 1) {
            m_error = n < 0 ? errno : EIO;
            return -1;
        }
    }
    const int64_t slice = m_single ? 0 : m_last_slice;
    return (slice << 32) | start;
}

void CMultiThreadedSlicedFile::CloseLocked() {
    for (int& fd : m_fds) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    m_fds.clear();
    m_mode = CFile64::modeClosed;
}

void CMultiThreadedSlicedFile::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    CloseLocked();
}

CFile64::EOpenMode CMultiThreadedSlicedFile::Mode() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mode;
}

bool CMultiThreadedSlicedFile::IsOpen() const { return Mode() != CFile64::modeClosed; }

bool CMultiThreadedSlicedFile::IsWritable() const {
    const CFile64::EOpenMode m = Mode();
    return m == CFile64::modeWrite || m == CFile64::modeReadWrite;
}

bool CMultiThreadedSlicedFile::IsSingleFile() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_single;
}

bool CMultiThreadedSlicedFile::WasWrittenTo() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_written;
}

int CMultiThreadedSlicedFile::LastError() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

long long CMultiThreadedSlicedFile::SizeOfFirstSlice() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fds.empty() || m_fds[0] < 0) return -1;
    struct stat st {};
    if (::fstat(m_fds[0], &st) != 0) return -1;
    return st.st_size;
}
