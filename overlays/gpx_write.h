// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The small writing helpers the GPX forms of marks and routes use.

#include <cstdio>
#include <string>

// "<tag>text</tag>" and a newline, or the text inside a CDATA section when it holds "<",
// ">", "&" or a line break. False on a write error.
bool GpxWriteTag(FILE* f, const char* tag, const std::string& text);
bool GpxNeedsCdata(const std::string& text);
// Every "&" as "&amp;".
std::string GpxEncodeAmpersand(const std::string& text);
// UTC as "%04d-%02d-%02dT%02d:%02d:%02dZ".
std::string GpxFormatTime(double seconds);
