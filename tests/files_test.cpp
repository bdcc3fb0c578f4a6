// Files that hold patient data: what a replacement does to links, permission bits and
// things that are not files, the working file's creation, and the reading of a file left
// to be read once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>

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

bool make_fifo(const fs::path& path) {
#ifdef _WIN32
  (void)path;
  return false;
#else
  return ::mkfifo(path.c_str(), 0600) == 0;
#endif
}

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
  ASSERT_TRUE(make_fifo(dir.path() / "fifo"));
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

TEST(ReadAndRemoveFile, ReadsARegularFileWholeAndRemovesIt) {
  TempDir dir;
  std::string large(200'000, 'x');
  for (std::size_t i = 0; i < large.size(); i += 4093) large[i] = '\n';
  const struct {
    const char* name;
    std::string content;
  } cases[] = {{"righe.txt", "\"P1\"\t\"D'Al\xF2\"\r\n\"P2\"\t\"Rossi\""}, {"vuoto.txt", ""}, {"grande.txt", large}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir.path() / c.name;
    write_file(path, c.content);
    const std::optional<std::string> read = platform::read_and_remove_file(path.string());
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, c.content);
    EXPECT_FALSE(fs::exists(path));
  }
}

TEST(ReadAndRemoveFile, WhatIsNoFileReadsAsNoneAndIsLeftAlone) {
  TempDir dir;
  fs::create_directory(dir.path() / "cartella");
  write_file(dir.path() / "file.txt", "x");
  for (const fs::path& path : {dir.path() / "nessuno.txt", dir.path() / "nessuna" / "x.txt",
                               dir.path() / "file.txt" / "x.txt", dir.path() / "cartella"}) {
    SCOPED_TRACE(path.string());
    EXPECT_FALSE(platform::read_and_remove_file(path.string()));
  }
  EXPECT_TRUE(fs::is_directory(dir.path() / "cartella"));
  EXPECT_EQ(read_file(dir.path() / "file.txt"), "x");
}

TEST_F(PosixFiles, ReadAndRemoveFileLeavesAFifoWithoutWaitingForAWriter) {
  TempDir dir;
  ASSERT_TRUE(make_fifo(dir.path() / "fifo"));
  EXPECT_FALSE(platform::read_and_remove_file((dir.path() / "fifo").string()));
  EXPECT_TRUE(fs::is_fifo(dir.path() / "fifo"));
}

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
