// The main of every test program: the environment every test starts from, whatever the
// caller's (the C.UTF-8 locale, no registry file, no code page override), automation (COM
// on Windows) initialised for the whole run as the system's own mains do, then every test.
#include <gtest/gtest.h>

#include "child_processes.hpp"
#include "platform/automation.hpp"

int main(int argc, char** argv) {
  test_support::set_environment("LANG", "C.UTF-8");
  test_support::set_environment("LC_ALL", "C.UTF-8");
  test_support::set_environment("PIVZONA12_CODEPAGE", std::nullopt);
  test_support::set_environment("PIVZONA12_REGISTRY", std::nullopt);
  const platform::AutomationScope automation;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
