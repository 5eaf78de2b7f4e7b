// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/crash_detector.h"

#include <cstdio>

#include "core/apppaths.h"

CrashDetector::CrashDetector(const std::string& name, const std::string& directory)
    : m_path(directory + "/" + name + ".crash") {
    m_crashed = FileExists(m_path);
    createPath(m_path);
    if (FILE* f = std::fopen(m_path.c_str(), "wb")) {
        std::fputs("1", f);
        std::fclose(f);
    }
}

CrashDetector::~CrashDetector() {
    if (!m_crashed) std::remove(m_path.c_str());
}
