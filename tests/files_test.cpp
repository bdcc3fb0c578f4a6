// Files that hold patient data: what a replacement does to links, permission bits and
// things that are not files, the working file's creation, and the reading of a dump file
// left to be read once.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "child_processes.hpp"
#include "platform/files.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;

namespace {

using test_support::read_file;
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
  if (*c.link) EXPECT_TRUE(fs::is_symlink(dir.path() / c.link));
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
                      fs::permissions(d / "sub" / "r.xml", fs::perms::owner_read | fs::perms::owner_write |
                                                               fs::perms::group_read);
                      fs::create_symlink("r.xml", d / "sub" / "inner.xml");
                      fs::create_symlink("sub/inner.xml", d / "outer.xml");
                      return d / "outer.xml";
                    },
                    "sub/r.xml", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                    "outer.xml"},
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
    for (const std::string* piece : {&middle, &middle, &big}) ASSERT_TRUE(replacement.write(*piece));
    EXPECT_EQ(read_file(path), "vecchio") << "nothing in place before the commit";
    ASSERT_TRUE(replacement.write("fine"));
    replacement.commit();
  }
  EXPECT_EQ(read_file(path), middle + middle + big + "fine");
  EXPECT_EQ(temporary_files(dir.path()), 0);

  {
    platform::FileReplacement abandoned(path.string());
    ASSERT_TRUE(abandoned.write("mai messo al suo posto"));
  }
  EXPECT_EQ(read_file(path), middle + middle + big + "fine") << "a replacement never committed changes nothing";
  EXPECT_EQ(temporary_files(dir.path()), 0);
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

TEST(ReadAndRemoveDump, ReadsAPlainFileWholeAndRemovesIt) {
  TempDir dir;
  fs::create_directory(dir.path() / "Temp");
  std::string large(200'000, 'x');
  for (std::size_t i = 0; i < large.size(); i += 4093) large[i] = '\n';
  const struct {
    const char* name;
    std::string content;
  } cases[] = {{"righe.txt", "\"P1\"\t\"D'Al\xF2\"\r\n\"P2\"\t\"Rossi\""}, {"vuoto.txt", ""}, {"grande.txt", large}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir.path() / "Temp" / c.name, c.content);
    const platform::DumpFile read = platform::read_and_remove_dump((dir.path() / "Temp").string(), c.name);
    ASSERT_EQ(read.state, platform::DumpFile::State::rows) << read.text;
    EXPECT_EQ(read.text, c.content);
    EXPECT_FALSE(fs::exists(dir.path() / "Temp" / c.name));
  }
  EXPECT_TRUE(fs::is_directory(dir.path() / "Temp"));
}

TEST(ReadAndRemoveDump, NoFileOrNoFolderIsMissing) {
  TempDir dir;
  fs::create_directory(dir.path() / "Temp");
  const platform::DumpFile::State missing = platform::DumpFile::State::missing;
  EXPECT_EQ(platform::read_and_remove_dump((dir.path() / "Temp").string(), "nessuno.txt").state, missing);
  EXPECT_EQ(platform::read_and_remove_dump((dir.path() / "Nessuna").string(), "x.txt").state, missing);
  EXPECT_FALSE(fs::exists(dir.path() / "Nessuna"));
}

/// What stands in the Temp folder, or in its place, and is not to be read.
struct RefusedDumpCase {
  const char* name;
  bool posix_only;  ///< links and FIFOs as POSIX makes them
  /// Prepares the installation dir (its Temp folder exists, and "fuori.txt" beside it)
  /// and gives the name asked for in Temp.
  std::function<std::string(const fs::path& dir)> prepare;
  const char* reason;  ///< the start of the refusal's text
};

void PrintTo(const RefusedDumpCase& c, std::ostream* os) { *os << c.name; }

class RefusedDump : public ::testing::TestWithParam<RefusedDumpCase> {};

TEST_P(RefusedDump, IsNeitherReadNorRemoved) {
  const RefusedDumpCase& c = GetParam();
  if (c.posix_only && test_support::windows) GTEST_SKIP() << "symbolic links and FIFOs as POSIX makes them";
  TempDir dir;
  fs::create_directory(dir.path() / "Temp");
  write_file(dir.path() / "fuori.txt", "fuori");
  const std::string name = c.prepare(dir.path());
  const fs::path entry = dir.path() / "Temp" / name;
  const fs::file_status before = fs::symlink_status(entry);
  const platform::DumpFile read = platform::read_and_remove_dump((dir.path() / "Temp").string(), name);
  EXPECT_EQ(read.state, platform::DumpFile::State::refused);
  EXPECT_EQ(read.text.rfind(c.reason, 0), 0u) << read.text;
  EXPECT_EQ(fs::symlink_status(entry).type(), before.type()) << "left as it is";
  EXPECT_EQ(read_file(dir.path() / "fuori.txt"), "fuori");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedDump,
    ::testing::Values(RefusedDumpCase{"Folder", false,
                                      [](const fs::path& dir) {
                                        fs::create_directory(dir / "Temp" / "cartella");
                                        return "cartella";
                                      },
                                      "il file dei risultati indicato da Praxilo non è un file: "},
                      RefusedDumpCase{"SecondNameOfAFileOutside", false,
                                      [](const fs::path& dir) {
                                        fs::create_hard_link(dir / "fuori.txt", dir / "Temp" / "x.txt");
                                        return "x.txt";
                                      },
                                      "il file dei risultati indicato da Praxilo ha più di un nome: "},
                      RefusedDumpCase{"TempIsAFile", false,
                                      [](const fs::path& dir) {
                                        fs::remove(dir / "Temp");
                                        write_file(dir / "Temp", "non una cartella");
                                        return "x.txt";
                                      },
                                      "la cartella Temp di Praxilo non è una cartella: "},
                      RefusedDumpCase{"Fifo", true,
                                      [](const fs::path& dir) {
                                        test_support::make_fifo(dir / "Temp" / "fifo");
                                        return "fifo";
                                      },
                                      "il file dei risultati indicato da Praxilo non è un file: "},
                      RefusedDumpCase{"LinkToAFile", true,
                                      [](const fs::path& dir) {
                                        fs::create_symlink(dir / "fuori.txt", dir / "Temp" / "x.txt");
                                        return "x.txt";
                                      },
                                      "il file dei risultati indicato da Praxilo non è un file: "},
                      RefusedDumpCase{"DanglingLink", true,
                                      [](const fs::path& dir) {
                                        fs::create_symlink(dir / "nessuno.txt", dir / "Temp" / "x.txt");
                                        return "x.txt";
                                      },
                                      "il file dei risultati indicato da Praxilo non è un file: "},
                      RefusedDumpCase{"TempIsALinkToAFolder", true,
                                      [](const fs::path& dir) {
                                        fs::remove(dir / "Temp");
                                        fs::create_directory(dir / "altrove");
                                        write_file(dir / "altrove" / "x.txt", "altrove");
                                        fs::create_directory_symlink(dir / "altrove", dir / "Temp");
                                        return "x.txt";
                                      },
                                      "la cartella Temp di Praxilo non è una cartella: "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PosixFiles, WorkingFileNeverWritesThroughALinkAndGoesWithTheObject) {
  TempDir dir;
  write_file(dir.path() / "victim", "da non toccare");
  fs::create_symlink(dir.path() / "victim", dir.path() / "Tao.txt");
  {
    platform::WorkingFile working((dir.path() / "Tao.txt").string(), "riga\r\n");
    EXPECT_FALSE(fs::is_symlink(dir.path() / "Tao.txt"));
    EXPECT_EQ(permissions(dir.path() / "Tao.txt"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(working.read(), "riga\r\n");
  }
  EXPECT_EQ(read_file(dir.path() / "victim"), "da non toccare");
  EXPECT_FALSE(fs::exists(dir.path() / "Tao.txt"));
}

}  // namespace
