#include "records/px_tools.hpp"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/host.hpp"
#include "platform/dynlib.hpp"
#include "px_fixture.hpp"
#include "records/px_wrap_praxipat.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using test_support::app_paths_section;
using test_support::RecordingHost;
using test_support::reg_string;
using test_support::RegistryFile;
using test_support::ScopedEnv;
using test_support::switches_section;
using test_support::TempDir;

TEST(PxTools, RegistryFolders) {
  EXPECT_EQ(px_tools::maker_registry_folder(), "SOFTWARE\\Corvanta-Ferrix\\");
  EXPECT_EQ(px_tools::gate_registry_folder(), "SOFTWARE\\Corvanta-Ferrix\\px_gate\\");
}

// ---- appl_directory -------------------------------------------------------------------

struct ApplCase {
  const char* name;
  std::string registry;  // sections of the registry file
  std::string expected;
};

class ApplDirectory : public testing::TestWithParam<ApplCase> {};

TEST_P(ApplDirectory, FromThePathValue) {
  RegistryFile registry(GetParam().registry + switches_section("\"yes\"", "", ""));
  EXPECT_EQ(px_tools::appl_directory(), test_support::native(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    PxTools, ApplDirectory,
    testing::Values(
        ApplCase{"SeveralDirectories", app_paths_section(reg_string("C:\\Prog\\Praxilo;C:\\Prog\\Praxilo\\Bin;")),
                 "C:/Prog/Praxilo/"},
        ApplCase{"TrailingBackslash", app_paths_section(reg_string("C:\\Prog\\Praxilo\\;")), "C:/Prog/Praxilo/"},
        ApplCase{"PosixPath", app_paths_section(reg_string("/opt/praxilo/;")), "/opt/praxilo/"},
        ApplCase{"NoSemicolonTakenWhole", app_paths_section(reg_string("/opt/praxilo")), "/opt/praxilo/"},
        ApplCase{"OnlySemicolon", app_paths_section(reg_string(";/opt/praxilo")), "/"},
        ApplCase{"NumberValue", app_paths_section("dword:00000001"), "/"}, ApplCase{"MissingKey", "", "/"},
        ApplCase{"ExpandString", app_paths_section(test_support::reg_expand_string("/opt/praxilo;")), "/opt/praxilo/"},
        // A value with a NUL or another control character inside is no value at all.
        ApplCase{"NulInsideExpandString",
                 app_paths_section(test_support::reg_expand_string(std::string("/opt/praxilo") + '\0' + "/altro;")),
                 "/"},
        ApplCase{"NulInsideString", app_paths_section(reg_string(std::string("/opt/praxilo") + '\0' + "/altro;")), "/"},
        ApplCase{"TabInside", app_paths_section(reg_string("/opt/praxilo\t;")), "/"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PxTools, ApplDirectoryIsReadAnewAtEveryCall) {
  RegistryFile registry(app_paths_section(reg_string("/first;")));
  EXPECT_EQ(px_tools::appl_directory(), test_support::native("/first/"));
  registry.write(app_paths_section(reg_string("/second;")));
  EXPECT_EQ(px_tools::appl_directory(), test_support::native("/second/"));
}

TEST(PxTools, TempAndLogDirectoriesAreCreated) {
  TempDir appl;
  RegistryFile registry(app_paths_section(reg_string(appl.dir() + ";")));
  EXPECT_EQ(px_tools::temp_directory(), test_support::native(appl.dir() + "Temp/"));
  EXPECT_TRUE(fs::is_directory(appl.path() / "Temp"));
  EXPECT_EQ(px_tools::log_directory(), test_support::native(appl.dir() + "Temp/Log/"));
  EXPECT_TRUE(fs::is_directory(appl.path() / "Temp" / "Log"));
}

// ---- switches -------------------------------------------------------------------------

struct SwitchCase {
  const char* name;
  std::string value;  // .reg data, "" = value missing
  bool expected;
};

class Switches : public testing::TestWithParam<SwitchCase> {};

TEST_P(Switches, OnOnlyForExactlyYes) {
  const auto& c = GetParam();
  struct Which {
    const char* name;
    std::string registry;
    bool (*read)();
  };
  const std::vector<Which> switches = {
      {"debug", switches_section(c.value, "", ""), px_tools::is_debug},
      {"debuglog", switches_section("", c.value, ""), px_tools::is_debuglog},
      {"log", switches_section("", "", c.value), px_tools::is_log},
  };
  for (const auto& which : switches) {
    SCOPED_TRACE(which.name);
    RegistryFile registry(which.registry);
    EXPECT_EQ(which.read(), c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(PxTools, Switches,
                         testing::Values(SwitchCase{"yes", "\"yes\"", true}, SwitchCase{"Yes", "\"Yes\"", false},
                                         SwitchCase{"YES", "\"YES\"", false}, SwitchCase{"yesBlank", "\"yes \"", false},
                                         SwitchCase{"no", "\"no\"", false}, SwitchCase{"Missing", "", false},
                                         SwitchCase{"Number", "dword:00000001", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PxTools, SwitchIsReadAnewAtEveryCall) {
  // Rewritten in place with texts of one length, within the same clock tick: only the
  // bytes tell the versions apart.
  RegistryFile registry(switches_section("", "", "\"yes\""));
  EXPECT_TRUE(px_tools::is_log());
  for (const auto& [value, expected] : std::vector<std::pair<std::string, bool>>{
           {"\"Yes\"", false}, {"\"yes\"", true}, {"\"no!\"", false}, {"\"yes\"", true}}) {
    SCOPED_TRACE(value);
    registry.write(switches_section("", "", value));
    EXPECT_EQ(px_tools::is_log(), expected);
  }
}

TEST(PxTools, SwitchesAreOffWithoutARegistry) {
  ScopedEnv registry("PIVZONA12_REGISTRY", std::nullopt);
  EXPECT_FALSE(px_tools::is_debug());
  EXPECT_FALSE(px_tools::is_debuglog());
  EXPECT_FALSE(px_tools::is_log());
}

// ---- debug channel --------------------------------------------------------------------

/// An installation directory with the registry pointing at it.
class DebugChannel : public testing::Test {
 protected:
  void set_switches(const std::string& debug, const std::string& debuglog) {
    registry.write(app_paths_section(reg_string(appl.dir() + ";")) + switches_section(debug, debuglog, ""));
  }
  fs::path debug_log() const { return appl.path() / "Temp" / "Log" / "debug.log"; }

  TempDir appl;
  RegistryFile registry;
  RecordingHost host;
};

TEST_F(DebugChannel, BoxTextStartsWithTheLevelPrefix) {
  set_switches("\"yes\"", "");
  struct Case {
    int level;
    std::string expected;
  };
  const std::vector<Case> cases = {{1, "Info  -  testo"},  {2, "Warning  -  testo"}, {3, "Error  -  testo"},
                                   {7, "Error  -  testo"}, {0, "Error  -  testo"},   {-1, "Error  -  testo"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.level);
    host.boxes.clear();
    px_tools::debug_message("testo", c.level, host);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, c.expected);
    EXPECT_EQ(host.boxes[0].caption, "PX_GATE DEBUG SYSTEM");
    EXPECT_EQ(host.boxes[0].flags, frontend::mb_ok | frontend::mb_systemmodal);
  }
}

TEST_F(DebugChannel, NoBoxUnlessDebugIsExactlyYes) {
  for (const std::string value : {"\"Yes\"", ""}) {
    SCOPED_TRACE(value);
    set_switches(value, "");
    px_tools::debug_message("testo", 3, host);
    EXPECT_TRUE(host.boxes.empty());
  }
}

TEST_F(DebugChannel, DirectoriesAreMadeEvenWithTheDebugLogOff) {
  set_switches("", "");
  px_tools::debug_message("testo", 3, host);
  EXPECT_TRUE(fs::is_directory(appl.path() / "Temp" / "Log"));
  EXPECT_FALSE(fs::exists(debug_log()));
  EXPECT_TRUE(host.boxes.empty());
}

// A folder of the installation that is a link could lead anywhere: nothing is made or
// written through it, by the folders' creation, the debug log or the operation log.
struct LinkedFolderCase {
  const char* name;
  std::vector<std::string> real;  ///< folders made below the installation first
  std::string link;               ///< the folder that is a link to another, outside
};

void PrintTo(const LinkedFolderCase& c, std::ostream* os) { *os << c.name; }

class DebugChannelLinks : public DebugChannel, public testing::WithParamInterface<LinkedFolderCase> {};

TEST_P(DebugChannelLinks, NothingIsMadeOrWrittenThroughALinkedFolder) {
  if (test_support::windows) GTEST_SKIP() << "symbolic links need a privilege on Windows and Wine has none";
  TempDir outside;
  fs::path made = appl.path();
  for (const std::string& level : GetParam().real) fs::create_directory(made /= level);
  fs::create_directory_symlink(outside.path(), appl.path() / GetParam().link);
  test_support::install_logging_library(appl.path());
  registry.write(app_paths_section(reg_string(appl.dir() + ";")) + switches_section("", "\"yes\"", "\"yes\""));

  px_tools::temp_directory();
  px_tools::log_directory();
  px_tools::debug_message("testo", 3, host);
  EXPECT_FALSE(px_tools::log_directory_is_own());
  {
    Tpx_wrap_praxipat session({}, host);  // starts the operation log in the log directory
  }
  EXPECT_TRUE(fs::is_empty(outside.path())) << "something made through the link";
  EXPECT_TRUE(fs::is_symlink(appl.path() / GetParam().link));
}

INSTANTIATE_TEST_SUITE_P(PxTools, DebugChannelLinks,
                         testing::Values(LinkedFolderCase{"TempIsALink", {}, "Temp"},
                                         LinkedFolderCase{"LogIsALink", {"Temp"}, "Temp/Log"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DebugChannel, TheLogDirectoryIsOwnOnceMade) {
  set_switches("", "");
  EXPECT_FALSE(px_tools::log_directory_is_own()) << "not made yet";
  px_tools::log_directory();
  EXPECT_TRUE(px_tools::log_directory_is_own());
}

TEST_F(DebugChannel, DebugLogLineWrittenThroughTheLibrary) {
  test_support::install_logging_library(appl.path());
  set_switches("", "\"yes\"");
  const std::string before = platform::current_directory();
  px_tools::debug_message("primo", 1, host);
  px_tools::debug_message("secondo", 3, host);
  EXPECT_EQ(platform::current_directory(), before);
  const std::string log = test_support::read_file(debug_log());
  const auto lines = test_support::log_lines(log);
  ASSERT_EQ(lines.size(), 2u) << log;
  EXPECT_TRUE(test_support::is_log_line(lines[0], "DBG_", "Info  -  primo")) << log;
  EXPECT_TRUE(test_support::is_log_line(lines[1], "DBG_", "Error  -  secondo")) << log;
  EXPECT_EQ(log.back(), '\n');
}

TEST_F(DebugChannel, DebugLogInTheAnsiCodePage) {
  // An installation directory whose name has an accent: the library is handed the path
  // and the line in CP1252 and must still find the directory the system created.
  const fs::path accented = appl.path() / "Studio Nicol\xC3\xB2";
  fs::create_directory(accented);
  test_support::install_logging_library(accented);
  registry.write(app_paths_section(reg_string(accented.string() + "/;")) + switches_section("", "\"yes\"", ""));
  ScopedEnv cp("PIVZONA12_CODEPAGE", "CP1252");
  px_tools::debug_message("Perch\xC3\xA8", 1, host);
  const std::string log = test_support::read_file(accented / "Temp" / "Log" / "debug.log");
  const auto lines = test_support::log_lines(log);
  ASSERT_EQ(lines.size(), 1u) << log;
  EXPECT_TRUE(test_support::is_log_line(lines[0], "DBG_", "Info  -  Perch\xE8")) << log;
}

TEST_F(DebugChannel, WithoutTheLibraryNothingIsWrittenOrReported) {
  set_switches("", "\"yes\"");
  const std::string before = platform::current_directory();
  px_tools::debug_message("testo", 3, host);
  EXPECT_EQ(platform::current_directory(), before);
  EXPECT_TRUE(fs::is_directory(appl.path() / "Temp" / "Log"));
  EXPECT_FALSE(fs::exists(debug_log()));
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(DebugChannel, LibraryWithoutDestroyWritesNothing) {
  test_support::install_logging_library(appl.path(), true);
  set_switches("", "\"yes\"");
  px_tools::debug_message("testo", 3, host);
  EXPECT_FALSE(fs::exists(debug_log()));
}

}  // namespace
