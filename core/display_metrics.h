// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Screen metrics shared by everything that turns user-interface coordinates
// (device-independent pixels) into device pixels. The application sets them once the
// window is on a screen; until then they describe a plain 1:1 screen. GUI thread only.

// Device pixels per device-independent pixel.
extern double graphicsResolution;
// Squared distances, in device pixels, within which a press and release still count as a
// click (mouse) or a tap (touch).
extern double graphicsClickPrecisionSq;
extern double graphicsTouchPrecisionSq;
