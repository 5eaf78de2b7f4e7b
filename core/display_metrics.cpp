// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/display_metrics.h"

#include <cmath>

double graphicsResolution = 1.0;
double graphicsClickPrecisionSq = kClickRadius * kClickRadius;
double graphicsTouchPrecisionSq = kTouchRadius * kTouchRadius;

void SetGraphicsResolution(double ratio) {
    if (!std::isfinite(ratio) || ratio <= 0) ratio = 1.0;
    graphicsResolution = ratio;
    graphicsClickPrecisionSq = kClickRadius * kClickRadius * ratio * ratio;
    graphicsTouchPrecisionSq = kTouchRadius * kTouchRadius * ratio * ratio;
}
