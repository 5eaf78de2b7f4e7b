// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/heartbeat.h"

#include <algorithm>
#include <cstdlib>

#include "core/pubsub.h"

unsigned long long CHeartbeat::s_pulses = 0;
bool CHeartbeat::s_pulsing = false;

std::vector<CHeartbeat::Counter*>& CHeartbeat::Counters() {
    // Never destroyed: managers held by globals own counters and are torn down after
    // function-local statics, so the list must outlive every one of them.
    static auto* counters = new std::vector<Counter*>;
    return *counters;
}

CHeartbeat::Counter::Counter(int period) : m_period(std::max(1, period)) {
    m_remaining = 1 + std::rand() % m_period;
    Counters().push_back(this);
}

CHeartbeat::Counter::~Counter() {
    auto& list = Counters();
    auto it = std::find(list.begin(), list.end(), this);
    if (it == list.end()) return;
    // During a pulse the slot is only cleared so that the walk's indices stay valid.
    if (s_pulsing)
        *it = nullptr;
    else
        list.erase(it);
}

void CHeartbeat::Counter::SetPeriod(int period, bool restart) {
    m_period = std::max(1, period);
    if (restart || m_remaining > m_period) m_remaining = m_period;
}

void CHeartbeat::Pulse() {
    ++s_pulses;
    auto& list = Counters();
    const bool outer = !s_pulsing;
    s_pulsing = true;
    // Counters created by a firing join the list but wait for the next pulse.
    const size_t n = list.size();
    for (size_t i = 0; i < n; ++i) {
        Counter* c = list[i];
        if (!c) continue;
        if (--c->m_remaining <= 0) {
            c->m_remaining = c->m_period;
            c->OnHeartbeat();
        }
    }
    if (outer) {
        s_pulsing = false;
        list.erase(std::remove(list.begin(), list.end(), nullptr), list.end());
    }
}

double CHeartbeat::Timestamp() {
    return CDataSource::Now();
}
