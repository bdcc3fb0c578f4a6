// The main window's place on monitors of several sizes, and the controls' table.
#include "app/main_layout.hpp"

#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

using main_layout::Rect;

struct PlaceCase {
  const char* name;
  Rect area;
  Rect expected;
};

void PrintTo(const PlaceCase& c, std::ostream* os) { *os << c.name; }

class PlaceWindow : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(PlaceWindow, FitsTheWorkArea) { EXPECT_EQ(main_layout::place_window(GetParam().area), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Areas, PlaceWindow,
                         ::testing::Values(
                             // Room enough: its own place and size.
                             PlaceCase{"full_hd", {0, 0, 1920, 1040}, {589, 293, 833, 536}},
                             // 1366 x 768 less a taskbar: moved left and up, its size kept.
                             PlaceCase{"laptop", {0, 0, 1366, 728}, {533, 192, 833, 536}},
                             // A taskbar on the left of a 1280 x 1024 screen: moved left, inside the area.
                             PlaceCase{"taskbar_left", {60, 0, 1220, 1024}, {447, 293, 833, 536}},
                             PlaceCase{"second_monitor", {1920, 0, 1280, 1024}, {1920, 293, 833, 536}},
                             // Smaller than the window: shrunk to the area, never below the smallest size.
                             PlaceCase{"small", {0, 0, 800, 500}, {0, 0, 817, 500}},
                             PlaceCase{"tiny", {10, 20, 300, 200}, {10, 20, 817, 320}}),
                         [](const ::testing::TestParamInfo<PlaceCase>& info) { return std::string(info.param.name); });

struct ScaleCase {
  const char* name;
  int value, dpi, expected;
};

void PrintTo(const ScaleCase& c, std::ostream* os) { *os << c.name; }

class Scale : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(Scale, RoundsAsMulDiv) { EXPECT_EQ(main_layout::scale(GetParam().value, GetParam().dpi), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Lengths, Scale,
                         ::testing::Values(ScaleCase{"same_dpi", 833, 96, 833},
                                           ScaleCase{"one_and_a_half", 833, 144, 1250},
                                           // 21 × 1.5 = 31.5 and 7 × 1.25 = 8.75: halves and more go up.
                                           ScaleCase{"half_goes_up", 21, 144, 32}, ScaleCase{"quarter_past", 7, 120, 9},
                                           ScaleCase{"just_below_half", 1, 120, 1},
                                           ScaleCase{"negative_half_goes_down", -21, 144, -32},
                                           ScaleCase{"double", 137, 192, 274}, ScaleCase{"zero", 0, 144, 0},
                                           // A length of a window on a 4K screen at 300 %: no overflow on the way.
                                           ScaleCase{"large", 20000000, 288, 60000000}),
                         [](const ::testing::TestParamInfo<ScaleCase>& info) { return std::string(info.param.name); });

struct DpiPlaceCase {
  const char* name;
  Rect area;
  int dpi;
  Rect expected;
};

void PrintTo(const DpiPlaceCase& c, std::ostream* os) { *os << c.name; }

class PlaceWindowAtDpi : public ::testing::TestWithParam<DpiPlaceCase> {};

TEST_P(PlaceWindowAtDpi, ScalesItsPlaceSizeAndLimits) {
  EXPECT_EQ(main_layout::place_window(GetParam().area, GetParam().dpi), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Areas, PlaceWindowAtDpi,
                         ::testing::Values(
                             // A 2880 x 1620 screen at 150 %: everything 1.5 times, at its own place.
                             DpiPlaceCase{"large_at_150", {0, 0, 2880, 1560}, 144, {884, 440, 1250, 804}},
                             // 1920 x 1080 at 150 %: the scaled window is moved up and left to fit.
                             DpiPlaceCase{"full_hd_at_150", {0, 0, 1920, 1040}, 144, {670, 236, 1250, 804}},
                             // Smaller than the window at 150 %: shrunk, never below the scaled smallest size.
                             DpiPlaceCase{"small_at_150", {0, 0, 1000, 400}, 144, {0, 0, 1226, 480}},
                             DpiPlaceCase{"at_200", {0, 0, 3840, 2100}, 192, {1178, 586, 1666, 1072}}),
                         [](const ::testing::TestParamInfo<DpiPlaceCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(MainLayout, TheTableHoldsEveryControlOnceWithItsTabStopsFirst) {
  std::set<main_layout::Control> seen;
  std::set<std::string> names;
  int index = 0;
  for (const main_layout::ControlEntry& c : main_layout::controls()) {
    EXPECT_TRUE(seen.insert(c.control).second) << c.name;
    EXPECT_TRUE(names.insert(c.name).second) << c.name;
    EXPECT_EQ(&main_layout::entry(c.control), &c);
    const bool tab_stop = c.kind != main_layout::Kind::logo && c.kind != main_layout::Kind::label &&
                          c.kind != main_layout::Kind::status_line;
    EXPECT_EQ(tab_stop, index < main_layout::tab_stop_count) << c.name;
    ++index;
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(main_layout::control_count));
  EXPECT_EQ(main_layout::text_of(main_layout::entry(main_layout::btnCalcola)), "Diabete");
}

}  // namespace
