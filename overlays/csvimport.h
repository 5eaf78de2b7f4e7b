// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The legacy CSV overlay files: one record per line, the kind in its first characters.
//
//   WP<n>,lat,lon,icon,name,description,link,alarm radius,,,visible,locked,category,alarm kind
//       a waypoint (a mark). Icons 0-31 are the built-in icons in their historic order;
//       higher numbers are icons named by an icon record earlier in the file. Alarm kind
//       2 is a proximity alarm of the radius; 3 an anchor alarm (inner radius r, alarm
//       radius 1000 + 10 r). The description is escaped like a settings value.
//   TX<n>,lat,lon,,name,text     a text note: a mark with the Notes icon.
//   TK,name,category,visible,locked,n    a track; the next n lines are its points:
//   TP,lat,lon[,altitude[,time]]         (time in seconds since 1970)
//   RT,name,category,visible,locked,n    a route; the next n lines name its waypoints:
//   RP,WP<n>                             (a copy of that waypoint record)
//   I<n>,name                    icon number n is the icon called name.
//   CL,rgb                       the colour (decimal 0xRRGGBB) of the object just read:
//                                a mark's colour, a track's or route's line.
// Lines starting with "#" are comments. Fields may be in double quotes. A track or
// route whose point lines stop early keeps the points read; the line that stopped it is
// read as a record of its own. Tracks and routes need two points.
//
// Bytes that are not UTF-8 are taken as Windows-1252, as old files were written.

#include <string>
#include <vector>

#include "core/geometry.h"

class CProgressDialogData;
struct COverlayImportResult;

// Fields separated by commas; a field in double quotes may hold commas, and "" inside
// it stands for one quote.
std::vector<std::string> break_string_csv(const std::string& line);

bool ImportCSVFile(const std::string& path, CBounds& bounds);
// Marks, routes and tracks from the file into the managers, saved afterwards.
bool ImportCSVFile(const std::string& path, COverlayImportResult& result, CProgressDialogData* progress = nullptr);
// The records of a file's contents, into the managers (not saved). GUI thread.
bool ImportCSVText(const char* data, size_t size, COverlayImportResult& result);
// Reads a whole CSV file (bounded like every import); false with `error` set when it
// cannot. Any thread.
bool ReadCSVData(const std::string& path, std::string& data, std::string& error, CProgressDialogData* progress);
