// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// NMEA 0183 sentences: checking, splitting, the registry of parsed sentence types with
// their record pools, raw sentences travelling to the outputs, and output filters.
//
// Everything here runs on the GUI thread only: connections hand over their lines from
// the event loop or the heartbeat, and listeners are called synchronously from
// DispatchSentence. The registry, the pools and the date cache are not synchronised.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/pubsub.h"

class CDataConnection;  // only carried along as the source of a sentence
class CNMEASentenceType;

// One stored value of a record, as the field list hands it out.
struct CNMEAField {
    enum Kind { kDouble, kFloat, kInteger, kBool, kText, kIdList };
    Kind kind;
    double number = 0;             // the numeric kinds (a bool is 0 or 1)
    const char* text = nullptr;    // kText; null for a one-letter field held in `letter`
    char letter[2] = {};
    const uint8_t* ids = nullptr;  // kIdList: the non-zero entries of `count` are the list
    int count = 0;

    CNMEAField(double v) : kind(kDouble), number(v) {}
    CNMEAField(float v) : kind(kFloat), number(double(v)) {}
    CNMEAField(int v) : kind(kInteger), number(v) {}
    CNMEAField(unsigned v) : kind(kInteger), number(v) {}
    CNMEAField(bool v) : kind(kBool), number(v ? 1 : 0) {}
    CNMEAField(const char* v) : kind(kText), text(v ? v : "") {}
    CNMEAField(char v) : kind(kText), letter{v, '\0'} {}  // NUL reads as ""
    CNMEAField(const uint8_t* list, int n) : kind(kIdList), ids(list), count(n) {}

    const char* Text() const { return text ? text : letter; }
};

// Receives the fields of a record, each under its name. The names are those nmea-dump
// prints; a field the sentence did not carry (an invalid part, an empty slot) is left out.
class CNMEAFieldVisitor {
public:
    virtual void Field(const char* name, const CNMEAField& value) = 0;

protected:
    ~CNMEAFieldVisitor() = default;
};

// Base of every parsed record. Records live in their type's pool and are reused: a
// record keeps its field values between sentences of its type.
class CNMEASentence {
public:
    CNMEASentence() = default;
    CNMEASentence(const CNMEASentence&) = delete;
    CNMEASentence& operator=(const CNMEASentence&) = delete;
    virtual ~CNMEASentence() = default;

    // Parses the whole sentence (starting at its '$' or '!'), splitting it in place.
    // True when the record holds valid data and is to be published.
    virtual bool Init(char* text) = 0;
    // Lists what the record holds: the one list of its fields that printing, logging and
    // checking a record go by.
    virtual void Fields(CNMEAFieldVisitor&) const {}

    CDataConnection* source = nullptr;  // connection that received it; null when none
    CNMEASentenceType* type = nullptr;  // owning type
    CNMEASentence* pool_next = nullptr;
    int use_count = 0;

    // Checks, parses and publishes one received line (no line end); the text is
    // modified. True when a type parsed and published it or it was forwarded raw.
    static bool DispatchSentence(char* text, CDataConnection* from);

    // The text starts with '$' or '!' and must carry "*hh".
    static bool check_checksum(const char* text);
    // Appends "*hh" to the text; the buffer needs room for three more characters.
    static void compute_checksum(char* text);
    // Splits in place into `count` fields; fields past the end point to "".
    static void SplitArgs(char* text, int count, char** fields);
    // Degrees from a ddmm.mmm / dddmm.mmm field and the hemisphere field after it.
    static double GetLat(char** fields);
    static double GetLon(char** fields);
    // Seconds of the day from hhmmss.ss; 0 for an empty field.
    static double GetUTC(const char* field);
    // Start of the day of ddmmyy in seconds since the epoch; 0 for an empty field.
    static double GetDate(const char* field);
    // Copies at most size-1 characters and always terminates dst[size-1].
    static void strncpy_to_TCHAR(char* dst, const char* src, int size);
};

// One registered sentence type. Types link themselves into a global registry when
// constructed (at static initialisation).
class CNMEASentenceType {
public:
    // `offset`: 3 for standard sentences (pattern after "$" and the talker), 1 for
    // proprietary ones. `source` is the Listener<T>::pDatasource slot of the record.
    CNMEASentenceType(int offset, const char* pattern, CDataSource** source);
    CNMEASentenceType(const CNMEASentenceType&) = delete;
    CNMEASentenceType& operator=(const CNMEASentenceType&) = delete;
    virtual ~CNMEASentenceType();

    virtual CNMEASentence* NewInstance() = 0;

    // Hands every record of this type that is published to `fn`, for as long as the
    // returned object lives (a listener of the record type).
    class Subscription {
    public:
        virtual ~Subscription() = default;
    };
    virtual std::unique_ptr<Subscription> Subscribe(std::function<void(CNMEASentence&)> fn) = 0;

    // The type whose pattern matches the sentence text (starting at '$'/'!'), or null.
    static CNMEASentenceType* FindType(const char* text);
    bool Matches(const char* text) const;

    // A record from the pool (or a new one); Release puts it back.
    CNMEASentence* GetInstance();
    void Release(CNMEASentence* record);
    void FreePool();

    CDataSource* Source() const { return *m_source; }
    const char* Pattern() const { return m_pattern; }
    int Offset() const { return m_offset; }
    CNMEASentenceType* Next() const { return m_next; }
    static CNMEASentenceType* First();

private:
    CNMEASentenceType* m_next = nullptr;
    int m_offset;
    const char* m_pattern;
    size_t m_patternLength;
    CNMEASentence* m_pool = nullptr;
    CDataSource** m_source;
};

// The registration of record class R under a pattern.
template <class R>
class CNMEASentenceTypeOf : public CNMEASentenceType {
public:
    CNMEASentenceTypeOf(int offset, const char* pattern)
        : CNMEASentenceType(offset, pattern, &Listener<R>::pDatasource) {}
    CNMEASentence* NewInstance() override { return new R; }
    std::unique_ptr<Subscription> Subscribe(std::function<void(CNMEASentence&)> fn) override {
        return std::make_unique<Forward>(std::move(fn));
    }

private:
    class Forward : public Subscription, public Listener<R> {
    public:
        explicit Forward(std::function<void(CNMEASentence&)> fn) : m_fn(std::move(fn)) {}
        void OnUpdate(R& record) override { m_fn(record); }

    private:
        std::function<void(CNMEASentence&)> m_fn;
    };
};

// A raw sentence on its way to the outputs: the text followed by "\r\n".
struct CNMEA_Raw {
    static constexpr int kBufferSize = 200;

    CDataConnection* source = nullptr;  // null for sentences generated here
    char text[kBufferSize] = {};

    // Copies a received sentence and appends "\r\n"; a text longer than 197
    // characters leaves the raw text empty (and returns false).
    bool Init(const char* sentence);
    // Compares the pattern with the text from `offset` on.
    bool Matches(int offset, const char* pattern) const;
    // For generated sentences written into `text`: appends the checksum and "\r\n"
    // and publishes. A text longer than 194 characters is dropped (returns false).
    bool AddChecksumAndDispatch();
};

// "Allow GPRMC" / "Deny GPGSV": a verdict and a pattern of up to 6 characters
// compared after the sentence's first character; '?' matches any character.
struct CNMEA_rule {
    bool verdict = false;
    char pattern[7] = {};

    void init(const char* line);
    void apply(const char* text, bool& verdict) const;
};

// Ordered rules; the last matching rule that disagrees with the verdict decides.
class CNMEA_filter {
public:
    void add(const char* line);
    void apply(const char* text, bool& verdict) const;
    void clear() { m_rules.clear(); }
    bool empty() const { return m_rules.empty(); }
    size_t size() const { return m_rules.size(); }
    const std::vector<CNMEA_rule>& rules() const { return m_rules; }

private:
    std::vector<CNMEA_rule> m_rules;
};
