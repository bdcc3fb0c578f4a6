#include "records/px_wrap_log.hpp"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dynlib.hpp"
#include "platform/paths.hpp"
#include "px_fixture.hpp"
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

/// An installation directory, the registry pointing at it with the debug box on (so
/// that the log's failures can be seen), and the host recording the boxes.
class OperationLog : public testing::Test {
 protected:
  void set_log_switch(const std::string& log) {
    registry.write(app_paths_section(reg_string(appl.dir() + ";")) + switches_section("\"yes\"", "", log));
  }
  void SetUp() override { set_log_switch(""); }
  std::string log_file() const { return appl.dir() + "praxipat.log"; }

  TempDir appl;
  RegistryFile registry;
  RecordingHost host;
};

TEST_F(OperationLog, SwitchIsReadForEveryLine) {
  test_support::install_logging_library(appl.path());
  Tpx_wrap_log log(host);
  const std::string before = platform::current_directory();
  ASSERT_TRUE(log.start("PRAXIPAT_", log_file()));
  EXPECT_EQ(platform::current_directory(), before);
  // With the switch off the log is open (its file exists) but nothing is written.
  log.write_line("uno");
  EXPECT_TRUE(fs::exists(log_file()));
  EXPECT_EQ(test_support::read_file(log_file()), "");
  set_log_switch("\"yes\"");
  log.write_line("ole_praxipat.sql_into(a, b) = c;");
  set_log_switch("\"Yes\"");
  log.write_line("tre");
  log.stop();
  const std::string content = test_support::read_file(log_file());
  const auto lines = test_support::log_lines(content);
  ASSERT_EQ(lines.size(), 1u) << content;
  EXPECT_TRUE(test_support::is_log_line(lines[0], "PRAXIPAT_", "ole_praxipat.sql_into(a, b) = c;")) << content;
  EXPECT_EQ(content.back(), '\n');
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(OperationLog, LinesAreAppendedToAnExistingFile) {
  test_support::install_logging_library(appl.path());
  set_log_switch("\"yes\"");
  test_support::write_file(log_file(), "earlier\n");
  Tpx_wrap_log log(host);
  ASSERT_TRUE(log.start("PRAXIPAT_", log_file()));
  log.write_line("nuova");
  log.stop();
  log.write_line("after stop");  // does nothing
  const std::string content = test_support::read_file(log_file());
  const auto lines = test_support::log_lines(content);
  ASSERT_EQ(lines.size(), 2u) << content;
  EXPECT_EQ(lines[0], "earlier");
  EXPECT_TRUE(test_support::is_log_line(lines[1], "PRAXIPAT_", "nuova")) << content;
}

TEST_F(OperationLog, ANewFileIsTheOwnersOnlyAndALinkInItsPlaceIsNeverOpened) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX permission bits and symbolic links";
#endif
  test_support::install_logging_library(appl.path());
  set_log_switch("\"yes\"");
  {
    Tpx_wrap_log log(host);
    ASSERT_TRUE(log.start("PRAXIPAT_", log_file()));
    EXPECT_EQ(fs::status(log_file()).permissions() & fs::perms::mask, fs::perms::owner_read | fs::perms::owner_write);
  }
  fs::remove(log_file());
  test_support::write_file(appl.path() / "victim", "da non toccare");
  fs::create_symlink(appl.path() / "victim", log_file());
  Tpx_wrap_log log(host);
  EXPECT_FALSE(log.start("PRAXIPAT_", log_file()));
  log.write_line("riga");
  EXPECT_EQ(test_support::read_file(appl.path() / "victim"), "da non toccare");
}

TEST_F(OperationLog, AccentedTextInTheAnsiCodePage) {
  const fs::path accented = appl.path() / "Citt\xC3\xA0";
  fs::create_directory(accented);
  test_support::install_logging_library(accented);
  registry.write(app_paths_section(reg_string(platform::path_to_utf8(accented) + "/;")) +
                 switches_section("", "", "\"yes\""));
  ScopedEnv cp("PIVZONA12_CODEPAGE", "CP1252");
  Tpx_wrap_log log(host);
  const std::string file = platform::path_to_utf8(accented / "praxipat.log");
  ASSERT_TRUE(log.start("TAG\xC3\xA8_", file));
  log.write_line("Nicol\xC3\xB2 \xE2\x82\xAC \xE6\x97\xA5");
  log.stop();
  const std::string content = test_support::read_file(accented / "praxipat.log");
  const auto lines = test_support::log_lines(content);
  ASSERT_EQ(lines.size(), 1u) << content;
  EXPECT_TRUE(test_support::is_log_line(lines[0], "TAG\xE8_", "Nicol\xF2 \x80 ?")) << content;
}

// An installation in a folder with a letter the ANSI code page cannot hold ("ř" in
// CP1252): on Windows the library gets the file's short name, which the code page holds;
// elsewhere there is no such name, and the channel says why nothing is logged.
TEST_F(OperationLog, AFolderTheCodePageCannotHold) {
  // From UTF-8: a narrow literal would be read in another code page on Windows.
  const fs::path folder = appl.path() / platform::path_from_utf8("Dvo\xC5\x99\xC3\xA1k");
  fs::create_directory(folder);
  test_support::install_logging_library(folder);
  registry.write(app_paths_section(reg_string(platform::path_to_utf8(folder) + "/;")) +
                 switches_section("\"yes\"", "", "\"yes\""));
  ScopedEnv cp("PIVZONA12_CODEPAGE", "CP1252");
  Tpx_wrap_log log(host);
  const std::string file = platform::path_to_utf8(folder / "praxipat.log");
#ifdef _WIN32
  ASSERT_TRUE(log.start("PRAXIPAT_", file)) << testing::PrintToString(host.texts());
  log.write_line("riga");
  log.stop();
  EXPECT_EQ(test_support::log_lines(test_support::read_file(folder / "praxipat.log")).size(), 1u);
#else
  EXPECT_FALSE(log.start("PRAXIPAT_", file));
  EXPECT_EQ(host.texts(), std::vector<std::string>{"Error  -  Tpx_wrap_log.start(): percorso del log non "
                                                   "rappresentabile nella code page di sistema: " +
                                                   file});
  EXPECT_FALSE(fs::exists(folder / "praxipat.log"));
#endif
}

// The logging library's exports in either calling convention: __stdcall (the library
// removes its own arguments from the stack) or __cdecl (the caller does). In a 32-bit
// program a call made for the other convention moves the stack pointer at every call;
// whichever the library has, every line must come through and the log must end (its file
// closed, so that it can be removed on Windows). Elsewhere there is one convention.
struct ConventionCase {
  const char* name;
  const char* variant;  ///< the library's folder under the build's bin directory
};

class CallingConvention : public OperationLog, public testing::WithParamInterface<ConventionCase> {};

TEST_P(CallingConvention, EveryLineComesThroughAndTheLogEnds) {
  test_support::install_logging_library_variant(appl.path(), GetParam().variant);
  set_log_switch("\"yes\"");
  constexpr int count = 50;
  for (const char* tag : {"PRAXIPAT_", "SECONDO_"}) {
    Tpx_wrap_log log(host);
    ASSERT_TRUE(log.start(tag, log_file())) << testing::PrintToString(host.texts());
    for (int i = 0; i < count; ++i) log.write_line("riga " + std::to_string(i));
    log.stop();
  }
  const auto lines = test_support::log_lines(test_support::read_file(log_file()));
  ASSERT_EQ(lines.size(), 2u * count);
  for (int i = 0; i < 2 * count; ++i)
    EXPECT_TRUE(
        test_support::is_log_line(lines[i], i < count ? "PRAXIPAT_" : "SECONDO_", "riga " + std::to_string(i % count)))
        << lines[i];
  EXPECT_TRUE(host.texts().empty()) << testing::PrintToString(host.texts());
  std::error_code error;
  EXPECT_TRUE(fs::remove(log_file(), error)) << error.message();
}

INSTANTIATE_TEST_SUITE_P(PxWrapLog, CallingConvention,
                         testing::Values(ConventionCase{"Stdcall", ""}, ConventionCase{"Cdecl", "testlibs/cdecl"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct StartFailure {
  const char* name;
  /// other_architecture: a 32-bit praxiapi.dll beside this 64-bit program, as a 32-bit
  /// records product has it, which Windows cannot load into it.
  enum { none, without_destroy, good, other_architecture } library;
  bool file_opens;
  std::string message;
};

class FailedStart : public OperationLog, public testing::WithParamInterface<StartFailure> {};

TEST_P(FailedStart, ReportsToTheDebugChannelAndWritesNothing) {
  const auto& c = GetParam();
  if (c.library == StartFailure::other_architecture) {
#ifdef PZ_I686_BIN_DIR
    fs::copy_file(fs::path(PZ_I686_BIN_DIR) / test_support::logging_library_file,
                  appl.path() / test_support::logging_library_file);
#else
    GTEST_SKIP() << "needs the 32-bit Windows build's library (PIVZONA12_I686_BUILD)";
#endif
  } else if (c.library != StartFailure::none) {
    test_support::install_logging_library(appl.path(), c.library == StartFailure::without_destroy);
  }
  set_log_switch("\"yes\"");
  const std::string file = c.file_opens ? log_file() : appl.dir() + "no-such-dir/praxipat.log";
  const std::string before = platform::current_directory();
  Tpx_wrap_log log(host);
  EXPECT_FALSE(log.start("PRAXIPAT_", file));
  EXPECT_EQ(platform::current_directory(), before);
  EXPECT_EQ(host.texts(), std::vector<std::string>{"Error  -  Tpx_wrap_log.start()" + c.message});
  log.write_line("riga");
  log.stop();
  log.stop();
  EXPECT_FALSE(fs::exists(file));
}

INSTANTIATE_TEST_SUITE_P(PxWrapLog, FailedStart,
                         testing::Values(StartFailure{"NoLibrary", StartFailure::none, true,
                                                      ": eccezione nel caricamento del file praxiapi.dll"},
                                         StartFailure{"LibraryWithoutDestroy", StartFailure::without_destroy, true,
                                                      ": errore nel caricamento del file praxiapi.dll"},
                                         StartFailure{"FileCannotBeOpened", StartFailure::good, false,
                                                      ": errore in start_log()"},
                                         StartFailure{"LibraryOfTheOtherArchitecture", StartFailure::other_architecture,
                                                      true, ": eccezione nel caricamento del file praxiapi.dll"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OperationLog, EachInstallationLoadsItsOwnLibrary) {
  // A library already loaded from one installation must not stand in for the library
  // of another one that has the same file name.
  test_support::install_logging_library(appl.path());
  Tpx_wrap_log first(host);
  ASSERT_TRUE(first.start("PRAXIPAT_", log_file()));

  TempDir other;
  test_support::install_logging_library(other.path(), true);
  registry.write(app_paths_section(reg_string(other.dir() + ";")) + switches_section("\"yes\"", "", "\"yes\""));
  Tpx_wrap_log second(host);
  EXPECT_FALSE(second.start("PRAXIPAT_", other.dir() + "praxipat.log"));
  EXPECT_EQ(host.texts(),
            std::vector<std::string>{"Error  -  Tpx_wrap_log.start(): errore nel caricamento del file praxiapi.dll"});

  first.write_line("ancora");
  first.stop();
  EXPECT_NE(test_support::read_file(log_file()).find("\tPRAXIPAT_\tancora\n"), std::string::npos);
}

}  // namespace
