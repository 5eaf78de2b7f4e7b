// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The sound of a raised alarm: a short two-tone call, repeated while any alarm
// notification is showing and stopped when the last one is cancelled. The sound is our
// own, made once as a WAV file in the temporary folder.
//
// GUI thread only.

#include <QByteArray>

#include <memory>
#include <set>
#include <string>

class QSoundEffect;

class CAlarmSound {
public:
    CAlarmSound();
    ~CAlarmSound();
    CAlarmSound(const CAlarmSound&) = delete;
    CAlarmSound& operator=(const CAlarmSound&) = delete;

    void Raised(const std::string& id);
    void Cleared(const std::string& id);
    bool IsSounding() const { return !m_active.empty(); }

    // The call as a complete 16-bit mono WAV file.
    static QByteArray MakeWav();

private:
    void Update();

    std::set<std::string> m_active;
    std::unique_ptr<QSoundEffect> m_effect;  // made at the first alarm
};
