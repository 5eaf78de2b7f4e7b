// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Binary, version-tolerant object files built from length-prefixed sections.
//
// A class stores itself by implementing one Serialize(IOStream&) that "declares" its
// fields in order inside a Section; the stream's direction decides whether each
// declaration reads or writes, so reading and writing can never drift apart.
//
// Layout: every value is little-endian. A section is the byte 0xBE, a 32-bit length
// counting the whole section (header included), then the body. A reader always leaves
// a section at its recorded end, so fields appended by a newer writer are skipped and
// fields missing from an older file keep their defaults.
//
// Everything here runs on the GUI thread; streams are not shared between threads.

#include <cstdint>
#include <cstdio>
#include <list>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "core/geometry.h"
#include "core/uiservices.h"

class CSerializable {
public:
    static constexpr uint32_t kFileMagic = 0x73ACF249;
    static constexpr uint32_t kNoTypeId = 0xFFFFFFFF;
    static constexpr uint8_t kSectionMarker = 0xBE;
    static constexpr uint32_t kMaxSectionLength = 1000000000;
    static constexpr uint32_t kMaxStringLength = 1000000;
    static constexpr uint32_t kMaxListCount = 10000000;

    // One open file. Exactly one direction is active; after a fatal error (a corrupt
    // section length, a failed write) the stream is closed and every later declaration
    // on it fails.
    class IOStream {
    public:
        IOStream(const IOStream&) = delete;
        IOStream& operator=(const IOStream&) = delete;
        virtual ~IOStream();

        bool IsReading() const { return m_in != nullptr; }
        bool IsWriting() const { return m_out != nullptr; }
        bool IsOpen() const { return m_in != nullptr || m_out != nullptr; }
        // True when something went wrong (a failed write, a corrupt length).
        bool HasFailed() const { return m_failed; }

        const NV_HWND& Window() const { return m_hwnd; }
        // The directory of the file, with a trailing "/" (empty for a bare name).
        const std::string& BaseDirectory() const { return m_baseDir; }
        void SetBaseDirectory(const std::string& dir) { m_baseDir = dir; }

        // Low-level access, used by sections and polymorphic headers.
        long long Position() const { return m_pos; }
        bool Read(void* buf, size_t n);
        bool Write(const void* buf, size_t n);
        bool ReadU32(uint32_t& v);
        bool WriteU32(uint32_t v);
        bool Seek(long long pos);
        bool SeekToEnd();
        // Skips forward without reading the bytes (no allocation however large n is).
        bool Skip(long long n) { return Seek(m_pos + n); }
        // Closes the file; every later declaration fails.
        void Fail();
        // Flushes and closes; false if anything written did not reach the file.
        bool Close();

    protected:
        IOStream(const std::string& path, bool writing, const NV_HWND& hwnd);

    private:
        FILE* m_in = nullptr;
        FILE* m_out = nullptr;
        NV_HWND m_hwnd;
        std::string m_baseDir;
        long long m_pos = 0;
        long long m_size = 0;  // writing: the furthest byte written
        bool m_failed = false;
        // Writing goes to memory and reaches the file in one piece on Close: sections
        // seek back to fill in their lengths, and a file stream would flush at each.
        std::vector<unsigned char> m_wbuf;
        // Reading takes a file of moderate size into memory at once: object files are
        // read in many small declarations, each a library call on a file stream.
        std::vector<unsigned char> m_rbuf;
        bool m_inMemory = false;
    };

    class InStream : public IOStream {
    public:
        explicit InStream(const std::string& path, const NV_HWND& hwnd = {}) : IOStream(path, false, hwnd) {}
    };

    class OutStream : public IOStream {
    public:
        // Opens (and truncates) exactly `path`; whole-file writes go through WriteFile,
        // which adds the ".tmp" step.
        explicit OutStream(const std::string& path, const NV_HWND& hwnd = {}) : IOStream(path, true, hwnd) {}
    };

    // A scoped section. The destructor completes it: writing, it fills in the header;
    // reading, it moves to the section end.
    class Section {
    public:
        explicit Section(IOStream& s);
        ~Section();
        Section(const Section&) = delete;
        Section& operator=(const Section&) = delete;

        IOStream& Stream() { return m_stream; }
        bool IsReading() const { return m_stream.IsReading(); }
        bool IsWriting() const { return m_stream.IsWriting(); }
        // Reading: nothing left before the section end (also true for an empty section).
        bool AtEnd() const;
        // Reading: where the section ends.
        long long End() const { return m_end; }

        bool declare_fblock(void* buf, int size);
        bool declare_vblock(void* buf, int maxsize);
        bool declare_array(void* buf, int elemsize, int count);
        bool declare(std::string& s);
        bool declarefilename(std::string& path);
        bool declarecolor(GraphicsColor& c);
        bool declaremagic(int magic);

        // Scalars are fixed blocks of their in-memory size (bool 1, int 4, double 8).
        template <class T>
        bool declare_value(T& v) {
            static_assert(std::is_arithmetic<T>::value || std::is_enum<T>::value, "scalars only");
            return declare_fblock(&v, int(sizeof(T)));
        }

        // For use by declarations: false when the stream is unusable, and sets `atEnd`
        // when a reading declaration must leave its target untouched.
        bool Begin(bool& atEnd);

    private:
        IOStream& m_stream;
        long long m_start = 0;
        long long m_end = 0;
        bool m_open = false;
    };

    // Factory registry entry for polymorphic objects. Each polymorphic class declares a
    // nested type derived from this and one static instance of it; construction links
    // it at the head of `list` before main() runs.
    class Type {
    public:
        explicit Type(uint32_t id);
        virtual ~Type() = default;
        Type(const Type&) = delete;
        Type& operator=(const Type&) = delete;
        virtual CSerializable* Create() const = 0;

        uint32_t id;
        Type* next;
        static Type* list;
    };

    // Convenience registry entry for a default-constructible class.
    template <class T>
    class TypeOf : public Type {
    public:
        explicit TypeOf(uint32_t typeId) : Type(typeId) {}
        CSerializable* Create() const override { return new T(); }
    };

    CSerializable() = default;
    CSerializable(const CSerializable&) = default;
    CSerializable& operator=(const CSerializable&) = default;
    virtual ~CSerializable() = default;

    virtual bool Serialize(IOStream& s) = 0;
    virtual uint32_t GetTypeId() const { return kNoTypeId; }
    bool IsType(uint32_t id) const { return GetTypeId() == id; }

    bool ReadFile(const char* path, const NV_HWND& hwnd = {}, int magic = 0);
    bool ReadFile(const std::string& path, const NV_HWND& hwnd = {}, int magic = 0);
    // Writes "<path>.tmp" and renames it over `path` only when everything succeeded.
    bool WriteFile(const char* path, const NV_HWND& hwnd = {}, int magic = 0);
    bool WriteFile(const std::string& path, const NV_HWND& hwnd = {}, int magic = 0);
    // The class magic of an object file (its first section holding only 4 bytes), or 0.
    static uint32_t readMagic(const std::string& path);

    // A new object of the stored type, or null (unknown id, corrupt or failed body).
    // The stream is left after the object in every case it can be.
    static CSerializable* ReadPolymorphic(IOStream& s);
    bool WritePolymorphic(IOStream& s);
};

namespace serializable_detail {
template <class P>
struct Element;
template <class T>
struct Element<T*> {
    using type = T;
    static T* Raw(T* p) { return p; }
    static void Free(T* p) { delete p; }
    static T* Wrap(std::unique_ptr<T> p) { return p.release(); }
};
template <class T>
struct Element<std::unique_ptr<T>> {
    using type = T;
    static T* Raw(const std::unique_ptr<T>& p) { return p.get(); }
    static void Free(std::unique_ptr<T>&) {}
    static std::unique_ptr<T> Wrap(std::unique_ptr<T> p) { return p; }
};
bool ReadListCount(CSerializable::Section& s, uint32_t& count);
bool WriteListCount(CSerializable::Section& s, uint32_t count);
}  // namespace serializable_detail

// A homogeneous list of objects of class T: a 32-bit count, then each element's own
// Serialize. Works with std::vector/std::list of T* (the list owns them) or of
// std::unique_ptr<T>. Reading empties the list first; an element that fails to read is
// dropped and the rest are still read.
template <class Container>
bool CSerializableDeclareStatic(CSerializable::Section& s, Container& list) {
    using Traits = serializable_detail::Element<typename Container::value_type>;
    using T = typename Traits::type;
    if (s.IsWriting()) {
        if (!serializable_detail::WriteListCount(s, uint32_t(list.size()))) return false;
        for (auto& e : list) {
            if (!Traits::Raw(e)->Serialize(s.Stream())) return false;
        }
        return true;
    }
    for (auto& e : list) Traits::Free(e);
    list.clear();
    if (!s.IsReading()) return false;
    if (s.AtEnd()) return true;
    uint32_t count = 0;
    if (!serializable_detail::ReadListCount(s, count)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        // A hostile count must not make us build millions of empty objects: every
        // stored element takes at least one byte, so one that consumed nothing, or
        // running out of section, means the list is corrupt.
        const long long before = s.Stream().Position();
        if (!s.Stream().IsOpen() || before >= s.End()) return false;
        auto obj = std::make_unique<T>();
        const bool ok = obj->Serialize(s.Stream());
        if (!s.Stream().IsOpen()) return false;
        if (s.Stream().Position() == before) return false;
        if (ok) list.push_back(Traits::Wrap(std::move(obj)));
    }
    return true;
}
