// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Screen metrics shared by everything that turns user-interface coordinates
// (device-independent pixels) into device pixels. The application sets them once the
// window is on a screen; until then they describe a plain 1:1 screen. GUI thread only.

// Radii, in device-independent pixels, within which a press and release still count as a
// click (mouse) or a tap (touch), and within which a press or tap lands on an object.
constexpr double kClickRadius = 9.0;
constexpr double kTouchRadius = 15.0;

// Device pixels per device-independent pixel.
extern double graphicsResolution;
// The radii above, squared and in device pixels at graphicsResolution.
extern double graphicsClickPrecisionSq;
extern double graphicsTouchPrecisionSq;

// Sets graphicsResolution to the screen's device pixel ratio (1 when it makes no sense)
// and the squared radii that follow from it.
void SetGraphicsResolution(double ratio);
