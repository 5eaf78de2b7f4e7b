// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Sensors the operating system may offer. Desktop Linux has no barometer, so the
// barometric altitude modes fall back to GPS altitude here.

// Air pressure in hPa; 0 when there is no barometer (or no reading yet).
double GetBarometricPressure();
bool HasBarometer();
// Releases the sensor when nothing needs pressure any more.
void StopBarometer();
