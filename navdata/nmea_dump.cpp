// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/nmea_dump.h"

#include <cmath>
#include <cstdio>


namespace {

CNMEADump::Registrar* g_firstPrinter = nullptr;
char g_talker[3] = {};

// Every record type prints the same way: its pattern, the talker for standard sentences,
// then its field list.
class RecordPrinter : public CNMEADump::Printer, private CNMEAFieldVisitor {
public:
    RecordPrinter(CNMEASentenceType& type, const CNMEADump::Sink& sink)
        : m_sink(sink), m_subscription(type.Subscribe([this](CNMEASentence& r) { Print(r); })) {}

private:
    void Print(const CNMEASentence& record) {
        CJsonLine line;
        m_line = &line;
        if (record.type) {
            line.Add("type", record.type->Pattern());
            if (record.type->Offset() == 3) line.Add("talker", g_talker);
        }
        record.Fields(*this);
        m_line = nullptr;
        m_sink(line.Finish());
    }
    void Field(const char* name, const CNMEAField& value) override { m_line->Add(name, value); }

    CNMEADump::Sink m_sink;
    CJsonLine* m_line = nullptr;
    std::unique_ptr<CNMEASentenceType::Subscription> m_subscription;
};

}  // namespace

// ---------------------------------------------------------------------------------------

void CJsonLine::Key(const char* key) {
    m_text += m_text.empty() ? "{\"" : ", \"";
    m_text += key;
    m_text += "\": ";
}

void CJsonLine::Add(const char* key, double value) {
    Key(key);
    if (!std::isfinite(value)) {
        m_text += "null";
        return;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.10g", value);
    m_text += buf;
}

void CJsonLine::Add(const char* key, float value) {
    Key(key);
    if (!std::isfinite(value)) {
        m_text += "null";
        return;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(value));
    m_text += buf;
}

void CJsonLine::Add(const char* key, int value) {
    Key(key);
    m_text += std::to_string(value);
}

void CJsonLine::Add(const char* key, unsigned value) {
    Key(key);
    m_text += std::to_string(value);
}

void CJsonLine::Add(const char* key, bool value) {
    Key(key);
    m_text += value ? "true" : "false";
}

void CJsonLine::Add(const char* key, const char* value) {
    Key(key);
    m_text += '"';
    for (const char* p = value ? value : ""; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            m_text += '\\';
            m_text += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            // Sentences are ASCII; anything else is shown, not passed on raw.
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            m_text += buf;
        } else {
            m_text += static_cast<char>(c);
        }
    }
    m_text += '"';
}

void CJsonLine::Add(const char* key, const CNMEAField& value) {
    switch (value.kind) {
        case CNMEAField::kDouble:
            Add(key, value.number);
            return;
        case CNMEAField::kFloat:
            Add(key, float(value.number));
            return;
        case CNMEAField::kInteger: {
            Key(key);
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.0f", value.number);
            m_text += buf;
            return;
        }
        case CNMEAField::kBool:
            Add(key, value.number != 0);
            return;
        case CNMEAField::kText:
            Add(key, value.Text());
            return;
        case CNMEAField::kIdList: {
            std::string list;
            for (int i = 0; i < value.count; ++i) {
                if (!value.ids[i]) continue;
                if (!list.empty()) list += ' ';
                list += std::to_string(value.ids[i]);
            }
            Add(key, list);
            return;
        }
    }
}

void CJsonLine::AddChar(const char* key, char value) {
    const char text[2] = {value, '\0'};
    Add(key, text);
}

const std::string& CJsonLine::Finish() {
    if (!m_finished) {
        m_text += m_text.empty() ? "{}" : "}";
        m_finished = true;
    }
    return m_text;
}

CNMEADump::Registrar::Registrar(const char* name_, Create create_)
    : name(name_), create(create_), next(g_firstPrinter) {
    g_firstPrinter = this;
}

std::vector<std::unique_ptr<CNMEADump::Printer>> CNMEADump::StartAll(const Sink& sink) {
    std::vector<std::unique_ptr<Printer>> printers;
    // Records first: a printer of derived data that listens to records itself then
    // prints after the record that caused its line.
    for (CNMEASentenceType* t = CNMEASentenceType::First(); t; t = t->Next())
        printers.push_back(std::make_unique<RecordPrinter>(*t, sink));
    for (Registrar* r = g_firstPrinter; r; r = r->next) printers.push_back(r->create(sink));
    return printers;
}

bool CNMEADump::Dispatch(char* line, CDataConnection* from) {
    g_talker[0] = g_talker[1] = '\0';
    if (line) {
        const char* p = line;
        while (*p && *p != '$' && *p != '!') ++p;
        if (*p && p[1] && p[2]) {
            g_talker[0] = p[1];
            g_talker[1] = p[2];
        }
    }
    return CNMEASentence::DispatchSentence(line, from);
}

const char* CNMEADump::CurrentTalker() {
    return g_talker;
}
