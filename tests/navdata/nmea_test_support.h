// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/pubsub.h"
#include "navdata/nmea_sentence.h"

// Listens to T for the lifetime of the object and hands every published value to `fn`.
template <class T>
class Catch : public Listener<T> {
public:
    explicit Catch(std::function<void(T&)> fn = {}) : m_fn(std::move(fn)) {}
    void OnUpdate(T& value) override {
        ++count;
        last = &value;
        if (m_fn) m_fn(value);
    }
    int count = 0;
    T* last = nullptr;  // valid only while the record is not reused

private:
    std::function<void(T&)> m_fn;
};

// Dispatches a copy of the line (DispatchSentence modifies its text).
inline bool Feed(const std::string& line, CDataConnection* from = nullptr) {
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back('\0');
    return CNMEASentence::DispatchSentence(buf.data(), from);
}

// "$" + body + "*hh", the checksum computed here.
inline std::string Sentence(const std::string& body, char start = '$') {
    std::vector<char> buf(body.size() + 8, '\0');
    buf[0] = start;
    std::copy(body.begin(), body.end(), buf.begin() + 1);
    CNMEASentence::compute_checksum(buf.data());
    return std::string(buf.data());
}

// A stand-in for a connection: only its address travels with the sentences.
inline CDataConnection* FakeConnection() {
    static char anchor;
    return reinterpret_cast<CDataConnection*>(&anchor);
}
