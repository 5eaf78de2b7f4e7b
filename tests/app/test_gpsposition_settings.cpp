// SPDX-License-Identifier: GPL-3.0-or-later
// The GPS Position page: what it writes is what the position uses, within sane limits.
#include <gtest/gtest.h>

#include <limits>

#include "app/gpsposition_settings.h"
#include "navdata/gpsposition.h"
#include "navdata/platform_sensors.h"

TEST(GpsPositionSettings, ChangesReachThePositionAndImpossibleValuesAreRefused) {
    CDlg_gps_position_settings page;
    auto& s = COverlayGPSPosition::settings;
    const auto saved = s.calibration;

    // The compass correction at 0 degrees is also the one at 360, or headings just below
    // north would be corrected towards nothing.
    page.setCompassCorrection(0, 7);
    EXPECT_FLOAT_EQ(s.calibration.corrections[0], 7.0f);
    EXPECT_FLOAT_EQ(s.calibration.corrections[12], 7.0f);
    page.setCompassCorrection(12, 5);  // no such heading
    page.setCompassCorrection(3, 1e9);
    EXPECT_FLOAT_EQ(s.calibration.corrections[3], 45.0f);
    page.setCompassCorrection(3, std::numeric_limits<double>::quiet_NaN());
    EXPECT_FLOAT_EQ(s.calibration.corrections[3], 45.0f);

    page.setAveragingSeconds(0);
    EXPECT_GE(s.averaging_time, 5.0);
    page.setRangeRings(-3);
    EXPECT_EQ(s.num_range_rings, 0);
    page.setRingRadiusIndex(int(CDlg_gps_position_settings::RingRadii().size()));  // out of range: ignored
    page.setRingRadiusIndex(0);
    EXPECT_FLOAT_EQ(s.range_ring_radius, float(CDlg_gps_position_settings::RingRadii()[0]));

    page.setIconColour(QColor(0, 96, 255));
    EXPECT_EQ(s.gc_color2, GraphicsColor(0, 96, 255, 255));

    // A device without a barometer is offered the GPS altitude only.
    if (!HasBarometer()) {
        EXPECT_EQ(page.altitudeChoices().size(), 1);
    }
    s.calibration = saved;
}
