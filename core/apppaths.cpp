// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/apppaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string& CachedAppDir() {
    static std::string dir;
    return dir;
}
}  // namespace

void setAppDirectoryForTesting(const std::string& dir) {
    CachedAppDir() = dir;
}

std::string getAppDirectory(const std::string& sub) {
    std::string& dir = CachedAppDir();
    if (dir.empty()) {
        dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation).toLocal8Bit().toStdString();
        if (dir.empty()) dir = "/tmp/navora";
    }
    std::string result = dir;
    if (!sub.empty()) result += "/" + sub;
    createDirectory(result);
    return result;
}

std::string getNonVolatileDirectory() {
    return getAppDirectory();
}

std::string getBundleFilepath(const std::string& name) {
    if (!name.empty() && name[0] == ':') return name;
    return ":/" + name;
}

std::string getTempDirectory() {
    std::string dir;
    if (const char* t = std::getenv("TEMP"); t && *t) {
        dir = t;
    } else {
        dir = QStandardPaths::writableLocation(QStandardPaths::CacheLocation).toLocal8Bit().toStdString();
        if (dir.empty()) dir = "/tmp";
        dir += "/temp";
    }
    createDirectory(dir);
    return dir;
}

bool createDirectory(const std::string& dir) {
    if (dir.empty()) return false;
    return QDir().mkpath(QString::fromLocal8Bit(dir.c_str()));
}

bool createPath(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return true;
    return createDirectory(path.substr(0, slash));
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CopyFile(const std::string& from, const std::string& to) {
    QFile in(QString::fromLocal8Bit(from.c_str()));
    if (!in.open(QIODevice::ReadOnly)) return false;
    createPath(to);
    const std::string tmp = to + ".tmp";
    QFile out(QString::fromLocal8Bit(tmp.c_str()));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    char buf[65536];
    for (;;) {
        const qint64 n = in.read(buf, sizeof buf);
        if (n < 0 || (n > 0 && out.write(buf, n) != n)) {
            out.close();
            QFile::remove(out.fileName());
            return false;
        }
        if (n == 0) break;
    }
    if (!out.flush()) {
        out.close();
        QFile::remove(out.fileName());
        return false;
    }
    out.close();
    return ReplaceFile(tmp, to);
}

bool ReplaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

long long FileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

std::string FileNameOf(const std::string& path) {
    const auto p = path.find_last_of("/\\:");
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string FileExtension(const std::string& path) {
    const std::string name = FileNameOf(path);
    const auto dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

std::string DirectoryOf(const std::string& path) {
    const auto p = path.rfind('/');
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string getBuiltinChartsDirectory() {
    if (const char* env = std::getenv("NAVORA_BUILTIN_CHARTS"); env && *env) return env;
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (exeDir.isEmpty()) return {};
    for (const QString& candidate :
         {exeDir + QStringLiteral("/builtin"), exeDir + QStringLiteral("/../share/navora/builtin")}) {
        if (QFileInfo(candidate).isDir()) return QDir::cleanPath(candidate).toLocal8Bit().toStdString();
    }
    return {};
}

std::string getDemoFeedPath() {
    if (const char* env = std::getenv("NAVORA_DEMO_FEED"); env && *env) return env;
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (exeDir.isEmpty()) return {};
    for (const QString& candidate : {exeDir + QStringLiteral("/demo/demo_sail.nmea"),
                                     exeDir + QStringLiteral("/../share/navora/demo/demo_sail.nmea")}) {
        if (QFileInfo(candidate).isFile()) return QDir::cleanPath(candidate).toLocal8Bit().toStdString();
    }
    return {};
}
