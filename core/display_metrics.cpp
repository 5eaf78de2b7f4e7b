// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/display_metrics.h"

double graphicsResolution = 1.0;
double graphicsClickPrecisionSq = 81.0;
double graphicsTouchPrecisionSq = 225.0;
