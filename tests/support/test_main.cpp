// The main of every test program: the environment every test starts from, whatever the
// caller's (the C.UTF-8 locale, UTF-8 as the ANSI code page, no registry file), automation (COM
// on Windows) initialised for the whole run as the system's own mains do, then every test.
#include <gtest/gtest.h>

#include "child_processes.hpp"
#include "platform/automation.hpp"
#include "test_support.hpp"

int main(int argc, char** argv) {
  test_support::set_environment("LANG", "C.UTF-8");
  test_support::set_environment("LC_ALL", "C.UTF-8");
  // 8-bit texts are UTF-8 unless a test says otherwise: the C.UTF-8 locale's charset on
  // POSIX; on Windows, where the system's code page would serve, the override says so.
  test_support::set_environment("PIVZONA12_CODEPAGE",
                                test_support::windows ? std::optional<std::string>("UTF-8") : std::nullopt);
  test_support::set_environment("PIVZONA12_REGISTRY", std::nullopt);
  const platform::AutomationScope automation;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
