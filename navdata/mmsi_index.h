// SPDX-License-Identifier: GPL-3.0-or-later
// Targets found by MMSI, the first step of every AIS message: an open-addressed table of
// (MMSI, pointer) pairs, so that a look-up touches one slot in memory rather than a bucket
// and then a node.

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

template <typename T>
class CMmsiIndex {
public:
    T* Find(uint32_t mmsi) const {
        if (m_slots.empty()) return nullptr;
        for (size_t i = Home(mmsi);; i = (i + 1) & Mask()) {
            const Slot& s = m_slots[i];
            if (!s.value) return nullptr;
            if (s.mmsi == mmsi) return s.value;
        }
    }

    // `value` must not be null, and `mmsi` not present yet.
    void Insert(uint32_t mmsi, T* value) {
        if ((m_count + 1) * 2 > m_slots.size()) Grow();
        size_t i = Home(mmsi);
        while (m_slots[i].value) i = (i + 1) & Mask();
        m_slots[i] = Slot{mmsi, value};
        ++m_count;
    }

    void Erase(uint32_t mmsi) {
        if (m_slots.empty()) return;
        size_t i = Home(mmsi);
        while (m_slots[i].value && m_slots[i].mmsi != mmsi) i = (i + 1) & Mask();
        if (!m_slots[i].value) return;
        // Close the gap: later slots of the same run move back if their home allows it,
        // so that no look-up stops early at the hole.
        size_t hole = i;
        for (size_t j = (hole + 1) & Mask(); m_slots[j].value; j = (j + 1) & Mask()) {
            const size_t home = Home(m_slots[j].mmsi);
            // Movable when its home is not within (hole, j] going round the table.
            const bool between = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
            if (!between) {
                m_slots[hole] = m_slots[j];
                hole = j;
            }
        }
        m_slots[hole] = Slot{};
        --m_count;
    }

    void Clear() {
        m_slots.clear();
        m_count = 0;
    }
    size_t Size() const { return m_count; }

private:
    struct Slot {
        uint32_t mmsi = 0;
        T* value = nullptr;
    };
    size_t Mask() const { return m_slots.size() - 1; }
    // MMSIs of one fleet or country differ in their low digits: mix them over the table.
    size_t Home(uint32_t mmsi) const { return size_t((uint64_t(mmsi) * 0x9E3779B97F4A7C15ull) >> 32) & Mask(); }
    void Grow() {
        std::vector<Slot> old;
        old.swap(m_slots);
        m_slots.assign(old.empty() ? 64 : old.size() * 2, Slot{});
        m_count = 0;
        for (const Slot& s : old)
            if (s.value) Insert(s.mmsi, s.value);
    }

    std::vector<Slot> m_slots;  // a power of two in size, at most half full
    size_t m_count = 0;
};
