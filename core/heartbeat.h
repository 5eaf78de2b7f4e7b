// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

// The application's 100 ms pulse. Pulse() runs on the GUI thread (the app drives it
// from a coarse timer); counters are created, destroyed and fired on that thread only.
class CHeartbeat {
public:
    static constexpr int kPulseMs = 100;

    // Fires OnHeartbeat every `period` pulses. The first firing comes after a random
    // 1..period pulses so that counters of equal period do not all fire together.
    class Counter {
    public:
        explicit Counter(int period);
        Counter(const Counter&) = delete;
        Counter& operator=(const Counter&) = delete;
        virtual ~Counter();

        virtual void OnHeartbeat() = 0;

        int Period() const { return m_period; }
        int Remaining() const { return m_remaining; }
        // Next firing a full period from now (the GPS staleness timer is re-armed this way).
        void Restart() { m_remaining = m_period; }
        void SetPeriod(int period, bool restart = true);

    private:
        friend class CHeartbeat;
        int m_period;
        int m_remaining;
    };

    // One pulse: every counter counts down; those reaching zero reload and fire.
    static void Pulse();
    // Seconds since the epoch on the clock the heartbeat runs by (the local clock).
    static double Timestamp();
    static unsigned long long PulseCount() { return s_pulses; }

private:
    static std::vector<Counter*>& Counters();
    static unsigned long long s_pulses;
    static bool s_pulsing;
};
