// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/alarm_sound.h"

#include <QFile>
#include <QSoundEffect>
#include <QUrl>

#include <cmath>
#include <cstdint>

#include "core/apppaths.h"

namespace {

constexpr int kRate = 22050;

void PutLE(QByteArray& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.append(char((v >> (8 * i)) & 0xFF));
}

}  // namespace

QByteArray CAlarmSound::MakeWav() {
    // High, low, then a pause: heard over wind and engine, unlike any instrument's beep.
    struct Part {
        double hz;
        double seconds;
    };
    const Part parts[] = {{1760, 0.18}, {0, 0.05}, {1320, 0.18}, {0, 0.45}};
    QByteArray samples;
    for (const Part& p : parts) {
        const int n = int(p.seconds * kRate);
        for (int i = 0; i < n; ++i) {
            double v = 0;
            if (p.hz > 0) {
                // Short fades at both ends keep the speaker from clicking.
                const double edge = std::min({1.0, i / 200.0, (n - i) / 200.0});
                v = 0.6 * edge * std::sin(2 * M_PI * p.hz * i / kRate);
            }
            PutLE(samples, uint32_t(uint16_t(int16_t(std::lround(v * 32767)))), 2);
        }
    }
    QByteArray wav("RIFF");
    PutLE(wav, uint32_t(36 + samples.size()), 4);
    wav.append("WAVEfmt ");
    PutLE(wav, 16, 4);
    PutLE(wav, 1, 2);  // PCM
    PutLE(wav, 1, 2);  // mono
    PutLE(wav, kRate, 4);
    PutLE(wav, kRate * 2, 4);
    PutLE(wav, 2, 2);
    PutLE(wav, 16, 2);
    wav.append("data");
    PutLE(wav, uint32_t(samples.size()), 4);
    return wav + samples;
}

CAlarmSound::CAlarmSound() = default;
CAlarmSound::~CAlarmSound() = default;

void CAlarmSound::Raised(const std::string& id) {
    m_active.insert(id);
    Update();
}

void CAlarmSound::Cleared(const std::string& id) {
    if (m_active.erase(id)) Update();
}

void CAlarmSound::Update() {
    if (m_active.empty()) {
        if (m_effect) m_effect->stop();
        return;
    }
    if (!m_effect) {
        const std::string dir = getTempDirectory();
        createPath(dir);
        const QString path = QString::fromLocal8Bit((dir + "/navora_alarm.wav").c_str());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(MakeWav()) < 0) return;  // silent, the notification still shows
        f.close();
        m_effect = std::make_unique<QSoundEffect>();
        m_effect->setSource(QUrl::fromLocalFile(path));
        m_effect->setLoopCount(QSoundEffect::Infinite);
    }
    if (!m_effect->isPlaying()) m_effect->play();
}
