// Files that hold patient data: what a replacement does to links, permission bits and
// things that are not files, the working file's creation, and the reading of a dump file
// left to be read once.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#endif

#include "child_processes.hpp"
#include "file_size_limit.hpp"
#include "platform/files.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;

namespace {

using test_support::read_file;
using test_support::set_write_time;
using test_support::TempDir;
using test_support::write_file;

/// Permission bits, links and FIFOs as POSIX has them; the Windows files have ACLs.
class PosixFiles : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX permission bits, symbolic links and FIFOs";
#endif
  }
};

fs::perms permissions(const fs::path& path) { return fs::status(path).permissions() & fs::perms::mask; }

struct ReplaceCase {
  const char* name;
  /// Prepares dir and gives the path to write to.
  std::function<fs::path(const fs::path& dir)> prepare;
  const char* written_file;  ///< where the new bytes land, relative to dir
  fs::perms bits;            ///< its permission bits afterwards
  const char* link;          ///< a link that must still be a link afterwards ("" none)
};

class ReplaceFile : public PosixFiles, public ::testing::WithParamInterface<ReplaceCase> {};

TEST_P(ReplaceFile, WritesTheFileTheNameStandsFor) {
  const ReplaceCase& c = GetParam();
  TempDir dir;
  const fs::path path = c.prepare(dir.path());
  platform::replace_file(path.string(), "nuovo");
  EXPECT_EQ(read_file(dir.path() / c.written_file), "nuovo");
  EXPECT_EQ(permissions(dir.path() / c.written_file), c.bits);
  if (*c.link) {
    EXPECT_TRUE(fs::is_symlink(dir.path() / c.link));
  }
  // Nothing is left beside the file written.
  for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceFile,
    ::testing::Values(
        ReplaceCase{"new_file_owner_only", [](const fs::path& d) { return d / "r.xml"; }, "r.xml",
                    fs::perms::owner_read | fs::perms::owner_write, ""},
        ReplaceCase{"replaced_file_keeps_its_bits",
                    [](const fs::path& d) {
                      write_file(d / "r.xml", "vecchio");
                      fs::permissions(d / "r.xml", fs::perms::owner_read | fs::perms::owner_write |
                                                       fs::perms::group_read | fs::perms::others_read);
                      return d / "r.xml";
                    },
                    "r.xml",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read,
                    ""},
        ReplaceCase{"relative_links_followed_to_the_end",
                    [](const fs::path& d) {
                      fs::create_directory(d / "sub");
                      write_file(d / "sub" / "r.xml", "vecchio");
                      fs::permissions(d / "sub" / "r.xml",
                                      fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
                      fs::create_symlink("r.xml", d / "sub" / "inner.xml");
                      fs::create_symlink("sub/inner.xml", d / "outer.xml");
                      return d / "outer.xml";
                    },
                    "sub/r.xml", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read, "outer.xml"},
        ReplaceCase{"dangling_link_makes_its_target",
                    [](const fs::path& d) {
                      fs::create_symlink("made.xml", d / "link.xml");
                      return d / "link.xml";
                    },
                    "made.xml", fs::perms::owner_read | fs::perms::owner_write, "link.xml"}),
    [](const auto& info) { return std::string(info.param.name); });

/// Names in dir that hold ".tmp": temporary files left behind.
int temporary_files(const fs::path& dir) {
  int n = 0;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().filename().string().find(".tmp") != std::string::npos) ++n;
  return n;
}

TEST(FileReplacement, PiecesOfAnySizeLandInOrderOnlyOnCommit) {
  TempDir dir;
  const fs::path path = dir.path() / "r.html";
  write_file(path, "vecchio");
  // Pieces below, across and far above the size in which writes are gathered.
  const std::string big(200000, 'b'), middle(40000, 'm');
  {
    platform::FileReplacement replacement(path.string());
    for (const std::string* piece : {&middle, &middle, &big}) replacement.write(*piece);
    ASSERT_TRUE(replacement.accepting());
    EXPECT_EQ(read_file(path), "vecchio") << "nothing in place before the commit";
    replacement.write("fine");
    ASSERT_TRUE(replacement.accepting());
    replacement.commit();
  }
  EXPECT_EQ(read_file(path), middle + middle + big + "fine");
  EXPECT_EQ(temporary_files(dir.path()), 0);

  {
    platform::FileReplacement abandoned(path.string());
    abandoned.write("mai messo al suo posto");
    ASSERT_TRUE(abandoned.accepting());
  }
  EXPECT_EQ(read_file(path), middle + middle + big + "fine") << "a replacement never committed changes nothing";
  EXPECT_EQ(temporary_files(dir.path()), 0);
}

// A file that refuses bytes part-way (a full disk; here the process's file size limit):
// the writes stop being taken, the commit throws naming the path and the earlier file
// stays as it was.
TEST_F(PosixFiles, AFailedWriteIsToldByTheCommitAndLeavesTheEarlierFile) {
#ifndef _WIN32
  TempDir dir;
  const fs::path path = dir.path() / "r.html";
  write_file(path, "vecchio");
  platform::FileReplacement replacement(path.string());
  bool accepting = true;
  std::string failure;
  {
    const test_support::FileSizeLimit limit(16 * 1024);
    replacement.write(std::string(200000, 'x'));
    accepting = replacement.accepting();
    try {
      replacement.commit();
    } catch (const platform::Failure& e) {
      failure = e.what();
    }
  }
  EXPECT_FALSE(accepting);
  EXPECT_NE(failure.find(path.string()), std::string::npos) << failure;
  EXPECT_EQ(read_file(path), "vecchio");
#endif
}

TEST_F(PosixFiles, WhatIsNotAFileIsRefusedAndLeftAsItIs) {
  TempDir dir;
  fs::create_directory(dir.path() / "cartella");
  ASSERT_TRUE(test_support::make_fifo(dir.path() / "fifo"));
  fs::create_symlink("fifo", dir.path() / "link-to-fifo");
  for (const char* name : {"cartella", "fifo", "link-to-fifo"}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(platform::replace_file((dir.path() / name).string(), "x"), std::runtime_error);
  }
  EXPECT_TRUE(fs::is_directory(dir.path() / "cartella"));
  EXPECT_TRUE(fs::is_fifo(dir.path() / "fifo"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
  EXPECT_EQ(platform::file_kind((dir.path() / "link-to-fifo").string()), platform::FileKind::other);
  EXPECT_EQ(platform::file_kind((dir.path() / "cartella").string()), platform::FileKind::directory);
  EXPECT_EQ(platform::file_kind((dir.path() / "nessuno").string()), platform::FileKind::missing);
}

/// A dump read through read_and_remove_dump, its pieces gathered.
struct GatheredDump {
  platform::DumpFile file;
  std::string bytes;
  std::size_t pieces = 0;
  std::size_t largest = 0;   ///< the largest piece's size
  std::size_t smallest = 0;  ///< the smallest piece's size
};

GatheredDump read_dump(const fs::path& folder, const std::string& name,
                       std::size_t piece_size = platform::file_piece_size,
                       std::optional<std::chrono::system_clock::time_point> written_since = std::nullopt) {
  GatheredDump dump;
  dump.file = platform::read_and_remove_dump(
      folder.string(), name,
      [&dump](std::string_view piece) {
        dump.smallest = dump.pieces == 0 ? piece.size() : std::min(dump.smallest, piece.size());
        dump.largest = std::max(dump.largest, piece.size());
        ++dump.pieces;
        dump.bytes.append(piece);
      },
      piece_size, written_since);
  return dump;
}

/// True when reason is that refusal's text followed by path (in either separators).
bool is_refusal(const std::string& reason, const std::string& text, const fs::path& path) {
  return reason.rfind(text, 0) == 0 &&
         fs::path(reason.substr(text.size())).make_preferred() == fs::path(path).make_preferred();
}

/// 200,000 bytes of lines of 4,092 bytes: more than the pieces a dump is read in.
std::string large_dump() {
  std::string large(200'000, 'x');
  for (std::size_t i = 0; i < large.size(); i += 4093) large[i] = '\n';
  return large;
}

TEST(ReadAndRemoveDump, ReadsAPlainFileWholeAndRemovesIt) {
  TempDir dir;
  fs::create_directory(dir.path() / "Temp");
  const struct {
    const char* name;
    std::string content;
  } cases[] = {
      {"righe.txt", "\"P1\"\t\"D'Al\xF2\"\r\n\"P2\"\t\"Rossi\""}, {"vuoto.txt", ""}, {"grande.txt", large_dump()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir.path() / "Temp" / c.name, c.content);
    const GatheredDump read = read_dump(dir.path() / "Temp", c.name);
    ASSERT_EQ(read.file.state, platform::DumpFile::State::rows) << read.file.reason;
    EXPECT_EQ(read.bytes, c.content);
    EXPECT_FALSE(fs::exists(dir.path() / "Temp" / c.name));
  }
  EXPECT_TRUE(fs::is_directory(dir.path() / "Temp"));
}

TEST(ReadAndRemoveDump, ReadsAFileAtTheTopOrInAnyFolderBelowAndKeepsTheFolders) {
  TempDir dir;
  for (const std::string name : {"d.txt", "Temp/d.txt", "Dati/Estrazioni 2024/d.txt"}) {
    SCOPED_TRACE(name);
    fs::create_directories((dir.path() / name).parent_path());
    write_file(dir.path() / name, "\"P1\"\r\n");
    const GatheredDump read = read_dump(dir.path(), name);
    ASSERT_EQ(read.file.state, platform::DumpFile::State::rows) << read.file.reason;
    EXPECT_EQ(read.bytes, "\"P1\"\r\n");
    EXPECT_FALSE(fs::exists(dir.path() / name));
    EXPECT_TRUE(fs::is_directory((dir.path() / name).parent_path()));
  }
  EXPECT_EQ(read_dump(dir.path(), "Manca/d.txt").file.state, platform::DumpFile::State::missing);
}

TEST(ReadAndRemoveDump, AFileWrittenUpToTheTimeGranularityBeforeTheRequestIsRead) {
  // FAT keeps the time of a write in steps of 2 s: a file written just after the request
  // may look up to 2 s older than it.
  TempDir dir;
  // A whole second: where a file's time is set in whole seconds (mingw's), the times below
  // stay on their side of the limit.
  const auto request = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  const struct {
    std::chrono::milliseconds before;  ///< how long before the request the file looks written
    platform::DumpFile::State state;
  } cases[] = {{std::chrono::milliseconds(-500), platform::DumpFile::State::rows},
               {std::chrono::milliseconds(1900), platform::DumpFile::State::rows},
               {std::chrono::milliseconds(2500), platform::DumpFile::State::refused},
               {std::chrono::hours(24 * 400), platform::DumpFile::State::refused}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before.count());
    write_file(dir.path() / "d.txt", "x");
    set_write_time(dir.path() / "d.txt", request - c.before);
    const GatheredDump read = read_dump(dir.path(), "d.txt", platform::file_piece_size, request);
    EXPECT_EQ(read.file.state, c.state) << read.file.reason;
    if (c.state == platform::DumpFile::State::refused) {
      EXPECT_TRUE(is_refusal(read.file.reason, platform::dump_refusal::not_written, dir.path() / "d.txt"))
          << read.file.reason;
      EXPECT_EQ(read.pieces, 0u);
      EXPECT_TRUE(fs::exists(dir.path() / "d.txt")) << "left as it is";
    } else {
      EXPECT_FALSE(fs::exists(dir.path() / "d.txt"));
    }
  }
}

TEST(ReadAndRemoveDump, PiecesOfAnySizeGiveTheWholeFileInOrder) {
  TempDir dir;
  fs::create_directory(dir.path() / "Temp");
  const std::string content = large_dump();
  for (const std::size_t piece_size : {std::size_t{1}, std::size_t{7}, std::size_t{4093}, platform::file_piece_size,
                                       content.size(), content.size() + 1}) {
    SCOPED_TRACE(piece_size);
    write_file(dir.path() / "Temp" / "d.txt", content);
    const GatheredDump read = read_dump(dir.path() / "Temp", "d.txt", piece_size);
    ASSERT_EQ(read.file.state, platform::DumpFile::State::rows) << read.file.reason;
    EXPECT_EQ(read.bytes, content);
    EXPECT_LE(read.largest, piece_size);
    EXPECT_GT(read.smallest, 0u) << "no empty piece";
    EXPECT_FALSE(fs::exists(dir.path() / "Temp" / "d.txt"));
  }
}

TEST(ReadAndRemoveDump, AReadingEndedByItsReceiverStillRemovesTheFile) {
  TempDir dir;
  fs::create_directory(dir.path() / "Temp");
  write_file(dir.path() / "Temp" / "d.txt", large_dump());
  int pieces = 0;
  EXPECT_THROW(platform::read_and_remove_dump((dir.path() / "Temp").string(), "d.txt",
                                              [&pieces](std::string_view) {
                                                if (++pieces == 2) throw std::runtime_error("rifiutato");
                                              },
                                              1000),
               std::runtime_error);
  EXPECT_EQ(pieces, 2);
  EXPECT_FALSE(fs::exists(dir.path() / "Temp" / "d.txt"));
}

TEST(ReadAndRemoveDump, NoFileOrNoFolderIsMissing) {
  TempDir dir;
  fs::create_directory(dir.path() / "Temp");
  const platform::DumpFile::State missing = platform::DumpFile::State::missing;
  EXPECT_EQ(read_dump(dir.path() / "Temp", "nessuno.txt").file.state, missing);
  EXPECT_EQ(read_dump(dir.path() / "Nessuna", "x.txt").file.state, missing);
  EXPECT_FALSE(fs::exists(dir.path() / "Nessuna"));
}

/// What stands in the installation folder, on the way to the file or in its place, and is
/// not to be read.
struct RefusedDumpCase {
  const char* name;
  bool posix_only;  ///< links and FIFOs as POSIX makes them
  /// Prepares the installation dir (its Temp folder exists, and "fuori.txt" beside it)
  /// and gives the name asked for, relative to dir.
  std::function<std::string(const fs::path& dir)> prepare;
  const char* reason;  ///< the refusal's text before the path
  const char* at;      ///< the path the refusal names, relative to dir
};

void PrintTo(const RefusedDumpCase& c, std::ostream* os) { *os << c.name; }

class RefusedDump : public ::testing::TestWithParam<RefusedDumpCase> {};

TEST_P(RefusedDump, IsNeitherReadNorRemoved) {
  const RefusedDumpCase& c = GetParam();
  if (c.posix_only && test_support::windows) GTEST_SKIP() << "symbolic links and FIFOs as POSIX makes them";
  TempDir dir;
  fs::create_directory(dir.path() / "Temp");
  write_file(dir.path() / "fuori.txt", "fuori");
  set_write_time(dir.path() / "fuori.txt", std::chrono::system_clock::now() - std::chrono::hours(1));
  const std::string name = c.prepare(dir.path());
  const fs::path entry = dir.path() / name;
  const fs::file_status before = fs::symlink_status(entry);
  const GatheredDump read = read_dump(dir.path(), name, platform::file_piece_size, std::chrono::system_clock::now());
  EXPECT_EQ(read.file.state, platform::DumpFile::State::refused);
  EXPECT_TRUE(is_refusal(read.file.reason, c.reason, dir.path() / c.at)) << read.file.reason;
  EXPECT_EQ(read.pieces, 0u) << "nothing read";
  EXPECT_EQ(fs::symlink_status(entry).type(), before.type()) << "left as it is";
  EXPECT_EQ(read_file(dir.path() / "fuori.txt"), "fuori");
}

/// Makes dir/altrove with x.txt in it, for a link to lead there.
fs::path elsewhere(const fs::path& dir) {
  fs::create_directory(dir / "altrove");
  write_file(dir / "altrove" / "x.txt", "altrove");
  return dir / "altrove";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedDump,
    ::testing::Values(RefusedDumpCase{"Folder", false,
                                      [](const fs::path& dir) {
                                        fs::create_directory(dir / "Temp" / "cartella");
                                        return "Temp/cartella";
                                      },
                                      platform::dump_refusal::not_a_file, "Temp/cartella"},
                      RefusedDumpCase{"SecondNameOfAFileOutside", false,
                                      [](const fs::path& dir) {
                                        fs::create_hard_link(dir / "fuori.txt", dir / "Temp" / "x.txt");
                                        return "Temp/x.txt";
                                      },
                                      platform::dump_refusal::second_name, "Temp/x.txt"},
                      RefusedDumpCase{"WrittenBeforeTheRequest", false, [](const fs::path&) { return "fuori.txt"; },
                                      platform::dump_refusal::not_written, "fuori.txt"},
                      RefusedDumpCase{"TempIsAFile", false,
                                      [](const fs::path& dir) {
                                        fs::remove(dir / "Temp");
                                        write_file(dir / "Temp", "non una cartella");
                                        return "Temp/x.txt";
                                      },
                                      platform::dump_refusal::not_a_folder, "Temp"},
                      RefusedDumpCase{"Fifo", true,
                                      [](const fs::path& dir) {
                                        test_support::make_fifo(dir / "Temp" / "fifo");
                                        return "Temp/fifo";
                                      },
                                      platform::dump_refusal::not_a_file, "Temp/fifo"},
                      RefusedDumpCase{"LinkToAFile", true,
                                      [](const fs::path& dir) {
                                        fs::create_symlink(dir / "fuori.txt", dir / "Temp" / "x.txt");
                                        return "Temp/x.txt";
                                      },
                                      platform::dump_refusal::not_a_file, "Temp/x.txt"},
                      RefusedDumpCase{"DanglingLink", true,
                                      [](const fs::path& dir) {
                                        fs::create_symlink(dir / "nessuno.txt", dir / "Temp" / "x.txt");
                                        return "Temp/x.txt";
                                      },
                                      platform::dump_refusal::not_a_file, "Temp/x.txt"},
                      RefusedDumpCase{"TempIsALinkToAFolder", true,
                                      [](const fs::path& dir) {
                                        fs::remove(dir / "Temp");
                                        fs::create_directory_symlink(elsewhere(dir), dir / "Temp");
                                        return "Temp/x.txt";
                                      },
                                      platform::dump_refusal::through_link, "Temp"},
                      RefusedDumpCase{"LinkDeeperOnTheWay", true,
                                      [](const fs::path& dir) {
                                        fs::create_directories(dir / "Temp" / "a");
                                        fs::create_directory_symlink(elsewhere(dir), dir / "Temp" / "a" / "b");
                                        return "Temp/a/b/x.txt";
                                      },
                                      platform::dump_refusal::through_link, "Temp/a/b"}),
    [](const auto& info) { return std::string(info.param.name); });

/// The whole working file, read back in pieces of piece_size.
std::string read_whole(const platform::WorkingFile& working, std::size_t piece_size = platform::file_piece_size) {
  std::string content;
  EXPECT_TRUE(working.read(
      [&](std::string_view piece) {
        EXPECT_LE(piece.size(), piece_size);
        content.append(piece);
        return true;
      },
      piece_size));
  return content;
}

TEST_F(PosixFiles, WorkingFileNeverWritesThroughALinkAndGoesWithTheObject) {
  TempDir dir;
  // What stands in the folder under the programme's plain name is somebody else's.
  write_file(dir.path() / "victim", "da non toccare");
  write_file(dir.path() / "Tao.txt", "del medico");
  fs::create_symlink(dir.path() / "victim", dir.path() / ".Tao.txt.tmp");
  std::string first_path, second_path;
  {
    // Two runs at once: each has its own file.
    platform::WorkingFile first(dir.dir(), "Tao.txt");
    platform::WorkingFile second(dir.dir(), "Tao.txt");
    first_path = first.path();
    second_path = second.path();
    EXPECT_NE(first_path, second_path);
    first.append("prima\r\n");
    second.append("seconda\r\n");
    for (const std::string& path : {first_path, second_path}) {
      SCOPED_TRACE(path);
      EXPECT_EQ(fs::path(path).parent_path(), dir.path());
      EXPECT_NE(platform::temporary_owner(fs::path(path).filename().string(), "Tao.txt"), std::nullopt);
      EXPECT_FALSE(fs::is_symlink(path));
      EXPECT_EQ(permissions(path), fs::perms::owner_read | fs::perms::owner_write);
    }
    EXPECT_EQ(read_whole(first), "prima\r\n");
    EXPECT_EQ(read_whole(second), "seconda\r\n");
  }
  EXPECT_FALSE(fs::exists(first_path));
  EXPECT_FALSE(fs::exists(second_path));
  EXPECT_EQ(read_file(dir.path() / "victim"), "da non toccare");
  EXPECT_EQ(read_file(dir.path() / "Tao.txt"), "del medico");
  EXPECT_TRUE(fs::is_symlink(dir.path() / ".Tao.txt.tmp"));
}

TEST_F(PosixFiles, WorkingFileIsNeverMadeThroughAFolderLink) {
  TempDir dir;
  fs::create_directory(dir.path() / "altrove");
  fs::create_directory_symlink(dir.path() / "altrove", dir.path() / "Temp");
  EXPECT_THROW(platform::WorkingFile((dir.path() / "Temp").string(), "Tao.txt"), platform::Failure);
  EXPECT_TRUE(fs::is_empty(dir.path() / "altrove"));
}

TEST(WorkingFile, WrittenInPiecesReadBackInPiecesOfAnySize) {
  TempDir dir;
  const std::string big = large_dump(), middle(40000, 'm');
  platform::WorkingFile working(dir.dir(), "Vac.txt");
  EXPECT_EQ(read_whole(working), "") << "made empty";
  working.append(middle);
  working.append(big);
  EXPECT_EQ(read_whole(working), middle + big);
  // An append after a reading goes on at the end, not where the reading stopped.
  working.append("fine");
  const std::string content = middle + big + "fine";
  for (const std::size_t piece_size : {std::size_t{1}, std::size_t{7}, platform::file_piece_size, content.size() + 1}) {
    SCOPED_TRACE(piece_size);
    EXPECT_EQ(read_whole(working, piece_size), content);
  }

  int pieces = 0;
  EXPECT_FALSE(working.read([&pieces](std::string_view) { return ++pieces < 3; }, 1000)) << "stopped";
  EXPECT_EQ(pieces, 3);
  EXPECT_EQ(read_whole(working), content) << "a new reading starts again from the start";
}

// A replacement, and a working file, first remove what killed runs left of that file: the
// temporary files of an ended process, older than this run. Another live run's file, a
// newer file, another file's temporary files, other names and links stay.
struct LeftoverMaker {
  const char* name;
  void (*make)(const fs::path& dir);  ///< makes the file "report.xml" stands for in dir
};

void PrintTo(const LeftoverMaker& c, std::ostream* os) { *os << c.name; }

class Leftovers : public ::testing::TestWithParam<LeftoverMaker> {};

TEST_P(Leftovers, OnlyEndedRunsOlderFilesOfTheSameTargetGo) {
  TempDir dir;
  const std::string ended = "2000000000";  // no process has this id
#ifdef _WIN32
  const std::string live;  // the test knows no other live process here
#else
  const std::string live = std::to_string(::getppid());
#endif
  struct Leftover {
    std::string name;
    bool old;
    bool removed;
  };
  std::vector<Leftover> cases = {
      {".report.xml." + ended + ".a1B2c3.tmp", true, true},   {".report.xml." + ended + ".9x12.tmp", true, true},
      {".report.xml." + ended + ".a1B2c4.tmp", false, false},  // newer than this run
      {".other.xml." + ended + ".a1B2c3.tmp", true, false},   {".report.xml." + ended + ".tmp", true, false},
      {".report.xml.12ab.a1B2c3.tmp", true, false},           {"report.xml." + ended + ".a1B2c3.tmp", true, false},
  };
  if (!live.empty()) cases.push_back({".report.xml." + live + ".a1B2c3.tmp", true, false});
  for (const Leftover& c : cases) {
    write_file(dir.path() / c.name, "dati di pazienti");
    const auto now = fs::file_time_type::clock::now();
    fs::last_write_time(dir.path() / c.name, c.old ? now - std::chrono::hours(24) : now + std::chrono::hours(1));
  }
#ifndef _WIN32
  // A link in a leftover's name is not followed, nor removed.
  write_file(dir.path() / "elsewhere.txt", "altro");
  fs::create_symlink(dir.path() / "elsewhere.txt", dir.path() / (".report.xml." + ended + ".l1nk00.tmp"));
  cases.push_back({".report.xml." + ended + ".l1nk00.tmp", true, false});
#endif

  GetParam().make(dir.path());

  for (const Leftover& c : cases) EXPECT_EQ(!fs::exists(fs::symlink_status(dir.path() / c.name)), c.removed) << c.name;
#ifndef _WIN32
  EXPECT_EQ(read_file(dir.path() / "elsewhere.txt"), "altro");
#endif
}

INSTANTIATE_TEST_SUITE_P(Files, Leftovers,
                         ::testing::Values(LeftoverMaker{"Replacement",
                                                         [](const fs::path& dir) {
                                                           platform::replace_file((dir / "report.xml").string(),
                                                                                  "nuovo");
                                                           EXPECT_EQ(read_file(dir / "report.xml"), "nuovo");
                                                         }},
                                           LeftoverMaker{"WorkingFile",
                                                         [](const fs::path& dir) {
                                                           platform::WorkingFile working(dir.string(), "report.xml");
                                                           working.append("nuovo");
                                                         }}),
                         [](const auto& info) { return std::string(info.param.name); });

// A name near the file system's limit still takes a report: its temporary name is shorter.
TEST(LongNames, ANameUpToTheLimitIsReplacedAndLeavesNothingBehind) {
  for (const std::size_t length : {200u, 250u, 255u}) {
    SCOPED_TRACE(length);
    TempDir dir;
    // Accented letters, so that a shortened temporary name must not cut one in two.
    std::string name;
    while (name.size() + 2 <= length - 4) name += "\xc3\xa8";
    while (name.size() < length - 4) name += "x";
    name += ".xml";
    ASSERT_EQ(name.size(), length);
    const fs::path target = dir.path() / fs::u8path(name);
    write_file(target, "vecchio");
    platform::replace_file(target.string(), "nuovo");
    EXPECT_EQ(read_file(target), "nuovo");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  }
}

// The temporary names' stem and owner.
TEST(TemporaryNames, StemIsCutAtACharacterAndOwnerIsReadBack) {
  EXPECT_EQ(platform::temporary_stem("report.xml", 255), "report.xml");
  const std::string accented = std::string(300, 'a') + "\xc3\xa8";
  const std::string cut =
      platform::temporary_stem(std::string(254 - platform::temporary_name_extra, 'a') + "\xc3\xa8", 255);
  EXPECT_EQ(cut, std::string(254 - platform::temporary_name_extra, 'a'));
  EXPECT_LE(platform::temporary_stem(accented, 255).size() + platform::temporary_name_extra, 255u);
  EXPECT_EQ(platform::temporary_owner(".r.xml.42.ab12.tmp", "r.xml"), std::optional<std::uint64_t>(42));
  for (const char* other : {".r.xml.42..tmp", ".r.xml..ab.tmp", ".r.xml.42.a-b.tmp", ".r.xmlx.42.ab.tmp",
                            ".r.xml.42.ab.tmpx", ".r.xml.12345678901.ab.tmp"})
    EXPECT_EQ(platform::temporary_owner(other, "r.xml"), std::nullopt) << other;
}

}  // namespace
