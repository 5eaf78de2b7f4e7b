// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A flat binary stream without sections or alignment: map-package catalogues and the
// binary bodies exchanged with the web service. One declaration code path reads or
// writes depending on `mode`. The first failure clears `ok`, and every later read is
// refused, so a caller can declare everything and check `ok` once at the end.
//
// Not thread-safe; each stream is used by one thread at a time.

#include <cstdint>
#include <cstdio>
#include <string>

class CTypeSerializer {
public:
    enum Mode { kNone = 0, kWrite = 1, kRead = 2 };
    static constexpr uint32_t kMaxStringChars = 100000;
    static constexpr int kMaxSizedBlock = 1000000;

    CTypeSerializer() = default;
    CTypeSerializer(const CTypeSerializer&) = delete;
    CTypeSerializer& operator=(const CTypeSerializer&) = delete;
    virtual ~CTypeSerializer() = default;

    bool IsReading() const { return mode == kRead; }
    bool IsWriting() const { return mode == kWrite; }

    // Reading: true only when the stream is still good and the value equals `magic`.
    bool declaremagic(int magic);
    bool declare(void* buf, int size);
    bool declare(std::string& s);
    // A 32-bit byte count, then the bytes. `size` is the buffer capacity on reading and
    // becomes the stored count when it fits; a longer block fills the buffer and the
    // rest is skipped.
    bool declaresize(void* buf, int& size);
    // Reads a string into a C buffer of `len` bytes, always zero-terminated.
    bool getstr(char* dst, int len);

    bool put(const std::string& s);
    bool get(std::string& s);
    bool putsize(const void* buf, int size);
    bool getsize(void* buf, int& size);

    int mode = kNone;
    bool ok = false;
    bool wide = false;
    long long count = 0;  // bytes read or written so far

protected:
    virtual bool put_data(const void* buf, size_t size) = 0;
    virtual bool get_data(void* buf, size_t size) = 0;

private:
    bool Write(const void* buf, size_t size);
    bool ReadBytes(void* buf, size_t size);
    bool Skip(size_t size);
};

class CTypeFileOut : public CTypeSerializer {
public:
    explicit CTypeFileOut(const std::string& path);
    ~CTypeFileOut() override;
    // False if anything written did not reach the file.
    bool Close();

protected:
    bool put_data(const void* buf, size_t size) override;
    bool get_data(void* buf, size_t size) override;

private:
    FILE* m_file = nullptr;
};

class CTypeFileIn : public CTypeSerializer {
public:
    explicit CTypeFileIn(const std::string& path);
    ~CTypeFileIn() override;
    void Close();

protected:
    bool put_data(const void* buf, size_t size) override;
    bool get_data(void* buf, size_t size) override;

private:
    FILE* m_file = nullptr;
};

// In-memory forms, for request and response bodies.
class CTypeMemoryOut : public CTypeSerializer {
public:
    CTypeMemoryOut();
    const std::string& Data() const { return m_data; }

protected:
    bool put_data(const void* buf, size_t size) override;
    bool get_data(void* buf, size_t size) override;

private:
    std::string m_data;
};

class CTypeMemoryIn : public CTypeSerializer {
public:
    // The bytes are copied; the stream does not refer to `data` afterwards.
    explicit CTypeMemoryIn(std::string data);
    size_t Remaining() const { return m_data.size() - m_pos; }

protected:
    bool put_data(const void* buf, size_t size) override;
    bool get_data(void* buf, size_t size) override;

private:
    std::string m_data;
    size_t m_pos = 0;
};
