// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Writing GPX 1.1 files: the file itself (CGPXOutput) and the export of marks, routes and
// tracks that the overlay list offers (one object, a selection, everything).
//
// Files are written to "<path>.tmp" and renamed over `path` only when everything was
// written, so a failed export never leaves half a file where the user's file was.
//
// GUI thread only (the objects written belong to it).

#include <cstdio>
#include <string>
#include <vector>

class COverlayObject;
class CSyncable;

class CGPXOutput {
public:
    static constexpr const char* kCreator = "Navora for All";
    static constexpr const char* kWebAddress = "https://navora.app";
    static constexpr const char* kStyleNamespace = "http://www.topografix.com/GPX/gpx_style/0/2";
    static constexpr const char* kGarminNamespace = "http://www.garmin.com/xmlschemas/GpxExtensions/v3";

    // Opens "<path>.tmp" and writes the XML declaration and the "gpx" start tag.
    explicit CGPXOutput(const std::string& path);
    // Finishes the file (Close) unless that was done.
    ~CGPXOutput();
    CGPXOutput(const CGPXOutput&) = delete;
    CGPXOutput& operator=(const CGPXOutput&) = delete;

    // The open file to write elements to; null when it could not be created.
    FILE* File() const { return m_file; }
    bool IsOpen() const { return m_file != nullptr; }
    // A writer that failed says so; the file is then not put in place.
    void SetFailed() { m_ok = false; }
    // Writes "</gpx>", closes the file and renames it over the path. False when anything
    // failed since it was opened; the path is then left as it was.
    bool Close();
    // Why the file could not be written (after a failure).
    const std::string& Error() const { return m_error; }

private:
    std::string m_path;
    std::string m_tmp;
    FILE* m_file = nullptr;
    bool m_ok = false;
    bool m_closed = false;
    std::string m_error;
};

// Writes the objects (marks, routes, tracks; anything else as a comment) to one GPX file:
// marks first, then routes, then tracks, each kind in the order given, as GPX wants.
// Objects that are deleted are left out. False, with `error` set, when the file could not
// be written; `path` is then untouched.
bool ExportGPX(const std::string& path, const std::vector<const CSyncable*>& objects, std::string* error = nullptr);
// Every live mark, route and track of the mark and track managers.
bool ExportAllGPX(const std::string& path, std::string* error = nullptr);
// The stored object that stands for something on the map or in a list: a mark or a route
// itself, the track of a track section; null for anything else (AIS targets, the GPS
// position). A route's waypoint stands for itself (it is written as a mark).
const CSyncable* ExportableObjectOf(const COverlayObject* object);
