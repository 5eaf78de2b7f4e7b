// SPDX-License-Identifier: GPL-3.0-or-later
// Names from templates, waypoint names and icon names.

#include <QDateTime>

#include "mark_test_support.h"
#include "overlays/iconmanager.h"

namespace {

std::vector<const std::string*> Ptrs(const std::vector<std::string>& names) {
    std::vector<const std::string*> p;
    for (const auto& n : names) p.push_back(&n);
    return p;
}

TEST(MarkNames, NumberIsOneAboveTheHighestWithTheSamePrefix) {
    const std::vector<std::string> names = {"P1", "P2", "P7", "Pier", "X12", "P3a"};
    EXPECT_EQ(CMarkManager::GetNameFromTemplate("P#", Ptrs(names)), "P8");
    EXPECT_EQ(CMarkManager::GetNameFromTemplate("P#", {}), "P1");
    EXPECT_EQ(CMarkManager::GetNameFromTemplate("X#-b", Ptrs(names)), "X13-b");  // text after "#" stays
    // Only the last "#" counts; without one the template is the name, every time.
    EXPECT_EQ(CMarkManager::GetNameFromTemplate("A#B#", Ptrs({"A#B4"})), "A#B5");
    EXPECT_EQ(CMarkManager::GetNameFromTemplate("Home", Ptrs({"Home", "Home1"})), "Home");
}

TEST(MarkNames, DateFieldsUseTheGivenTimeInLocalTime) {
    const QDateTime when(QDate(2024, 3, 9), QTime(14, 5, 7), Qt::LocalTime);
    const double t = double(when.toSecsSinceEpoch());
    EXPECT_EQ(CMarkManager::ExpandDateFields("Trip %yyyy-MM-dd% %HH:mm%", t), "Trip 2024-03-09 14:05");
    EXPECT_EQ(CMarkManager::ExpandDateFields("100%% sure %d", t), "100% sure %d");  // "%%" and an unclosed "%"
    const std::vector<std::string> names = {"09/03 #1", "09/03 #4"};
    EXPECT_EQ(CMarkManager::GetNameFromTemplate("%dd/MM% ##", Ptrs(names), t), "09/03 #5");
}

TEST_F(MarkTest, WaypointsAreNamedFromTheRouteAndTheirNumber) {
    COverlayRoute* r = Route(manager->DefaultRouteName(), {{50, -1}, {50.01, -1}, {50.02, -1}});
    EXPECT_EQ(r->getName(), "R1");
    EXPECT_EQ(r->Waypoint(2)->getName(), "R1P3");
    EXPECT_EQ(r->Waypoint(2)->getIcon(), "Waypoint");
    EXPECT_EQ(CMarkManager::NumberedName("Leg", 4), "Leg4");
    EXPECT_EQ(manager->DefaultRouteName(), "R2");

    // New marks take the default mark: its icon, colour and radii, named P1, P2...
    manager->DefaultMark().SetAlarm(0, 25);
    COverlayMark* a = manager->CreateNewMark(nullptr, 50.1, -1.1);
    COverlayMark* b = manager->CreateNewMark(nullptr, 50.2, -1.1);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->getName(), "P1");
    EXPECT_EQ(b->getName(), "P2");
    EXPECT_EQ(a->getIcon(), "Dot");
    EXPECT_EQ(a->getAlarmRadius(), 25.0f);
    EXPECT_EQ(a->ObjectType(), COverlayObject::OBJECT_MARK);
    EXPECT_EQ(r->Waypoint(0)->ObjectType(), COverlayObject::OBJECT_WAYPOINT);
    EXPECT_EQ(manager->CreateNewMark(nullptr, 91, 0), nullptr);
}

TEST(MarkNames, IconNamesAreNormalised) {
    EXPECT_EQ(CIconManager::to_file_name("first aid"), "First_aid");
    EXPECT_EQ(CIconManager::to_file_name("MOB"), "MOB");
    EXPECT_EQ(CIconManager::to_file_name("mob"), "Mob");
    EXPECT_EQ(CIconManager::to_file_name("bUOY #3/../x"), "Buoy_3x");
    EXPECT_EQ(CIconManager::to_file_name("pin@2X"), "Pin@2x");
    EXPECT_EQ(CIconManager::iconNameOfFile("Buoy_c.svg"), "Buoy");
    EXPECT_EQ(CIconManager::iconNameOfFile("Pin@2x.png"), "Pin");
    EXPECT_EQ(CIconManager::iconNameOfFile("notes.doc"), "");
}

}  // namespace
