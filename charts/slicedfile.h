// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A random-access file that is either one plain file or a directory of up to 100 slice
// files named "0" .. "99". Addresses are 64-bit: in a plain file the whole value is the
// byte offset; in a directory the high 32 bits pick the slice and the low 32 bits are
// the offset inside it. Every operation takes the object's mutex, so renderer threads
// reading chunks and download threads writing them can share one instance.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct CFile64 {
    enum EOpenMode { modeRead = 0, modeWrite = 1, modeReadWrite = 2, modeClosed = 3 };
};

class CMultiThreadedSlicedFile {
public:
    static constexpr int kMaxSlice = 99;

    CMultiThreadedSlicedFile() = default;
    ~CMultiThreadedSlicedFile() { Close(); }
    CMultiThreadedSlicedFile(const CMultiThreadedSlicedFile&) = delete;
    CMultiThreadedSlicedFile& operator=(const CMultiThreadedSlicedFile&) = delete;

    // A directory is used in sliced form, an existing file as a plain file; a missing
    // path is created as a directory (writing modes only). True when slice 0 is open.
    bool ReOpen(const std::string& path, CFile64::EOpenMode mode);
    void Close();

    // Bytes read (short at the end of a slice), -1 on error.
    long long LockedRead(int64_t address, void* buffer, size_t length);
    // True when every byte was written.
    bool LockedWrite(int64_t address, const void* data, size_t length);
    // Two adjacent pieces under one lock; the second only when the first succeeded.
    bool LockedWrite2(int64_t address, const void* data1, size_t length1, const void* data2, size_t length2);
    // Reserves `length` bytes at the end of the last slice (start rounded up to a multiple
    // of `alignment` when positive), moving to a new slice when a slice would pass 4 GiB.
    // Returns the slice address of the space, -1 on failure.
    int64_t AllocAtEnd2(int64_t length, int alignment);

    CFile64::EOpenMode Mode() const;
    bool IsOpen() const;
    bool IsWritable() const;
    bool IsSingleFile() const;
    bool WasWrittenTo() const;
    int LastError() const;
    // Bytes of slice 0 (or the plain file); -1 when not open.
    long long SizeOfFirstSlice() const;

private:
    int OpenSliceLocked(int k);  // descriptor, -1 on failure (error recorded)
    int FdForAddressLocked(int64_t address, off_t& offset);
    bool WriteAllLocked(int64_t address, const void* data, size_t length);
    void CloseLocked();

    mutable std::mutex m_mutex;
    std::vector<int> m_fds;  // index = slice; -1 = not open
    CFile64::EOpenMode m_mode = CFile64::modeClosed;
    int m_error = 0;
    std::string m_path;     // the directory ("/" appended) or the plain file
    size_t m_prefix = 0;    // length of the directory prefix in m_path
    int m_last_slice = -1;  // -1 = not yet known
    bool m_single = false;
    bool m_written = false;
};
