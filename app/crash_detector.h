// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Leaves a marker file while the application runs. Finding the marker at start means
// the last run ended without its orderly shutdown (killed, crashed, power lost).
class CrashDetector {
public:
    // Marker: <directory>/<name>.crash
    CrashDetector(const std::string& name, const std::string& directory);
    CrashDetector(const CrashDetector&) = delete;
    CrashDetector& operator=(const CrashDetector&) = delete;
    // Removes the marker, unless a detected crash has not been reported yet (so that it
    // is reported by the next run instead).
    ~CrashDetector();

    bool crashDetected() const { return m_crashed; }
    // The crash has been shown to the user.
    void clearCrashDetected() { m_crashed = false; }
    const std::string& markerPath() const { return m_path; }

private:
    std::string m_path;
    bool m_crashed = false;
};
