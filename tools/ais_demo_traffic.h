// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The ships the demo sail meets, and the drill log: AIS (and DSC) traffic made with our
// own encoder, a function of the elapsed second only, so that the same arguments always
// give the same bytes.

#include <string>
#include <vector>

namespace NDemoTraffic {

// Where the demo boat is at one second of its sail, and how it moves over the ground.
struct BoatState {
    double lat = 0, lon = 0;
    double sog = 0;  // knots
    double cog = 0;  // degrees
};

// The second at which the cargo ship passes closest to the boat, and how close it comes
// between the antennas (metres); it reports 100 m of length.
constexpr int kCrossingSecond = 540;
constexpr double kCrossingMetres = 250.0;

// The AIS sentences heard during second `t` of the demo sail, each ending in CR LF.
// `boat` must hold the sail's states up to kCrossingSecond at least.
std::string DemoAisTraffic(int t, const std::vector<BoatState>& boat);

// The whole drill: a boat recovering a man-overboard beacon, a liferaft's SART, a DSC
// distress call with its expansion and a routine call, with GPS sentences every second.
std::string DrillLog();

// printf into a string, for the short fields of generated sentences (at most 255 characters).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace NDemoTraffic
