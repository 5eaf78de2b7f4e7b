// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Where the application keeps its files. The application directory depends on the
// organisation and application (profile) names, so it is resolved on first use, after
// start-up has set them.

// The per-profile data directory, with `sub` appended as a sub-folder when given.
// Created when missing.
std::string getAppDirectory(const std::string& sub = {});
// Overrides the resolved application directory (tests, tools).
void setAppDirectoryForTesting(const std::string& dir);
// Survives reinstalls where the platform distinguishes it; the data directory on Linux.
std::string getNonVolatileDirectory();
// Read-only files shipped inside the program (Qt resources), e.g. ":/Navora.ini".
std::string getBundleFilepath(const std::string& name);
// "TEMP" when set, else the "temp" sub-folder of the cache directory. Created when missing.
std::string getTempDirectory();

// Creates the directory of `path` (everything before its last "/") with its parents.
bool createPath(const std::string& path);
bool createDirectory(const std::string& dir);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Copies through a ".tmp" file so that a failed copy never leaves half a file at `to`.
bool CopyFile(const std::string& from, const std::string& to);
// Replaces `to` by `from` (a rename; false when it fails, leaving `to` untouched).
bool ReplaceFile(const std::string& from, const std::string& to);
long long FileSize(const std::string& path);
std::string FileExtension(const std::string& path);  // lower-case, without the dot
std::string FileNameOf(const std::string& path);     // after the last "/", "\" or ":"
std::string DirectoryOf(const std::string& path);    // up to and including the last "/"

// The folder of charts shipped with the program ("builtin"): $NAVORA_BUILTIN_CHARTS when
// set, else "builtin" beside the executable (a build tree), else
// <prefix>/share/navora/builtin for an installed program. Empty when none exists.
std::string getBuiltinChartsDirectory();
// The demonstration NMEA log shipped with the program, found the same way
// ($NAVORA_DEMO_FEED, "demo/demo_sail.nmea" beside the executable, or under
// <prefix>/share/navora). Empty when none exists.
std::string getDemoFeedPath();
