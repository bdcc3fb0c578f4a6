// The main of every test program: automation (COM on Windows) initialised for the whole
// run, as the system's own mains do, then every test.
#include <gtest/gtest.h>

#include "platform/automation.hpp"

int main(int argc, char** argv) {
  const platform::AutomationScope automation;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
