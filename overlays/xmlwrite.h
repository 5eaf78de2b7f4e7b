// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Writing helpers for the XML of overlay files. Every text goes out as well-formed XML
// 1.0 in UTF-8 whatever it holds: bytes that are not UTF-8 become U+FFFD and control
// characters that XML cannot carry are left out. Numbers are written in the one form
// files use, whatever the C locale is.

#include <cstdio>
#include <string>

// Whether the text holds "<", ">", "&" or a line break and so goes into a CDATA section.
bool XMLneeds_cdata(const std::string& text);
// "<tag>text</tag>" and a newline, or "<tag><![CDATA[text]]></tag>" when the text needs
// it. False on a write error.
bool XMLwrite_tag(FILE* file, const char* tag, const std::string& text);
// The same; a null text writes nothing (and succeeds).
bool write_xml_tag(FILE* file, const char* tag, const char* text);
// Every "&" as "&amp;", and back.
std::string XML_encode_ampersand(const std::string& text);
std::string XML_decode_ampersand(const std::string& text);
// A text fit for a double-quoted attribute: "&", "<" and quotes as entities.
std::string XMLattribute_text(const std::string& text);
// The text as valid XML 1.0 characters (see above); the same text when it already is.
std::string XMLclean_text(const std::string& text);

// Appends `value` with `decimals` digits after the point.
void AppendFixed(std::string& out, double value, int decimals);
std::string FormatFixed(double value, int decimals);
// "<name lat="..." lon="...">" with ten decimals; the longitude is brought into
// -180 .. 180, as GPX wants it.
void AppendPointTag(std::string& out, const char* name, double lat, double lon);
double NormalizedLongitude(double lon);
