// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/platform_sensors.h"

double GetBarometricPressure() {
    return 0.0;
}

bool HasBarometer() {
    return false;
}

void StopBarometer() {}
