#pragma once
// Files that hold patient data: created readable by their owner only, never written
// through a link planted in their place, replaced in one step so that a reader never
// sees half a file, and removed however the run that made them ends.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/failure.hpp"

namespace platform {

/// What stands at a path, symbolic links followed (a dangling link is missing).
enum class FileKind { missing, regular, directory, other };
FileKind file_kind(const std::string& path);

/// Writes bytes to path in one step: into a new temporary file beside the file path names
/// (for a symbolic link, the file it points to, so that the link stays), renamed over it
/// at the end. A replaced file keeps its permission bits; a new file is readable and
/// writable by its owner only. Only a regular file or nothing is replaced. Throws
/// Failure naming path when it cannot be written; an earlier file is then
/// left as it was and the temporary file is gone.
void replace_file(const std::string& path, std::string_view bytes);

/// replace_file for bytes that come in pieces, so that a large file is never held whole:
/// the temporary file is made when the object is, write() appends to it, commit() puts it
/// in place. A write that fails is kept, not thrown, so that a writer called back from a
/// library never throws through it; commit() then throws for it. Destroyed without a
/// commit (or after a failed write), the temporary file goes and an earlier file stays as
/// it was.
class FileReplacement {
 public:
  /// What a symbolic link at path stands for: the file it points to, which is replaced and
  /// the link kept (a file the user chose); or nothing of ours, so that the link itself is
  /// replaced and what it points to left as it is (the program's own files).
  enum class Link { followed, replaced };

  /// Throws Failure naming path when the temporary file cannot be made or
  /// path names something other than a regular file (or, with Link::replaced, a link).
  explicit FileReplacement(const std::string& path, Link link = Link::followed);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  /// Appends bytes. Once bytes could not be written, the later ones are dropped and
  /// commit() throws saying why.
  void write(std::string_view bytes);
  /// False once a write has failed: a writer fed piece by piece may stop there.
  bool accepting() const;
  /// Writes what is still buffered and replaces the file. Throws Failure
  /// naming path when it cannot; the earlier file then stays.
  void commit();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// Creates path, empty and readable by its owner only, when nothing stands there yet; a
/// link is never followed. True when a regular file is there afterwards.
bool ensure_private_file(const std::string& path);

/// The path (UTF-8) of an existing file as the ANSI code page holds it, for a library that
/// takes 8-bit paths: the path itself when the code page holds each of its letters; else,
/// on Windows, the file's short (8.3) name when the code page holds that one; nullopt when
/// there is no such form (the library would open another file, or none).
std::optional<std::string> ansi_path(const std::string& path);

/// The size of the pieces in which the files below are read: a file of any size costs
/// about this much memory to read.
constexpr std::size_t file_piece_size = std::size_t{1} << 16;

/// Receives a file's bytes one piece at a time, in order; a piece is never empty.
using PieceSink = std::function<void(std::string_view piece)>;

/// What read_and_remove_dump found: the file read, no file of that name, or something
/// that is not to be read, with the reason.
struct DumpFile {
  enum class State { rows, missing, refused };
  State state = State::missing;
  std::string reason;  ///< refused: why (Italian, for the user)
};

/// Reads the file name, relative to folder (its folders and file separated by '/', no
/// "." or ".." part), which another program left to be read once, handing its bytes to
/// on_piece in pieces of at most piece_size bytes, and removes it however the reading ends
/// (an exception from on_piece included, and when the process is interrupted meanwhile).
/// folder may be reached through links; nothing below it is: every folder on the way and
/// the file are checked. Only a plain file with a single name is read, and the file
/// removed is the one that was read (a file put in its place meanwhile stays).
/// missing when folder, a folder on the way or the file does not exist; refused, with the
/// reason, and nothing read or removed, when a folder on the way is a link (a junction) or
/// no folder, or the file a link, a folder, a pipe, a device, a file with another name too
/// (a hard link, which may be any file of the volume), or, given written_since, a file last
/// written before it (less the file systems' time granularity, 2 s on FAT). Throws Failure
/// naming the file when it is there but cannot be opened or read.
DumpFile read_and_remove_dump(const std::string& folder, const std::string& name, const PieceSink& on_piece,
                              std::size_t piece_size = file_piece_size,
                              std::optional<std::chrono::system_clock::time_point> written_since = std::nullopt);

/// The reasons read_and_remove_dump gives, each followed by the path (Italian, for the user).
namespace dump_refusal {
inline constexpr const char* not_a_file = "il file dei risultati indicato da Praxilo non è un file: ";
inline constexpr const char* second_name = "il file dei risultati indicato da Praxilo ha più di un nome: ";
inline constexpr const char* through_link = "il file dei risultati indicato da Praxilo passa per un collegamento: ";
inline constexpr const char* not_a_folder =
    "il file dei risultati indicato da Praxilo passa per qualcosa che non è una cartella: ";
inline constexpr const char* not_written =
    "il file dei risultati indicato da Praxilo non è stato scritto dopo la richiesta: ";
}  // namespace dump_refusal

/// How much older than the request a dump may look: the coarsest time stamps (FAT's).
inline constexpr std::chrono::seconds file_time_granularity{2};

/// Makes (with create) or only looks for the folders levels, each inside the one before,
/// below base, an existing folder that may itself be reached through links. A level that
/// is a link, or no folder, is never entered, and nothing is made in or through it. True
/// when every level is a folder, reached without a link, afterwards. Never throws.
bool own_folders_below(const std::string& base, const std::vector<std::string>& levels, bool create);

/// For the platform layer: the temporary file that replaces a file is named
/// ".STEM.PID.TOKEN.tmp" beside it, STEM the file's name, cut (at a character's start) so
/// that the whole name takes at most max_name bytes, PID the process that made it and TOKEN
/// letters and digits that make it unique. These give the stem, and tell the process id of
/// an entry of the folder that is such a temporary file of the same stem (nullopt for any
/// other name).
std::string temporary_stem(const std::string& file_name, std::size_t max_name);
std::optional<std::uint64_t> temporary_owner(std::string_view entry, std::string_view stem);
/// The bytes a temporary name takes beyond its stem, at most: ".", ".PID", ".TOKEN", ".tmp".
inline constexpr std::size_t temporary_name_extra = 1 + 11 + 24 + 4;

/// Removes path when the guard goes (unless released), and when the process is
/// interrupted while the guard lives (install_interrupt_cleanup).
class RemovalGuard {
 public:
  explicit RemovalGuard(std::string path);
  ~RemovalGuard();
  RemovalGuard(const RemovalGuard&) = delete;
  RemovalGuard& operator=(const RemovalGuard&) = delete;
  /// The file stays: neither the guard nor an interruption removes it any more.
  void release();

 private:
  std::string path_;
  int slot_ = -1;
  bool armed_ = true;
};

/// A run's working file: made in folder under a name of its own, ".STEM.PID.TOKEN.tmp" as
/// the temporary files above are named, created exclusively (two runs at once never share
/// one, and nothing that stands there is followed or replaced), empty and readable by its
/// owner only, then written and read in pieces. folder is never reached through a link.
/// The working files of stem that runs killed outright left in folder are removed first,
/// once their process has ended. The file is removed when the object goes and when the
/// process is interrupted.
class WorkingFile {
 public:
  /// Throws Failure naming the file when it cannot be made.
  WorkingFile(const std::string& folder, const std::string& stem);
  ~WorkingFile();
  WorkingFile(const WorkingFile&) = delete;
  WorkingFile& operator=(const WorkingFile&) = delete;

  /// The file's path.
  const std::string& path() const { return path_; }

  /// Appends bytes at the end of the file. Throws Failure naming the file when
  /// they cannot be written.
  void append(std::string_view bytes);

  /// Reads the file from its start through the handle it is written with, handing it to
  /// on_piece in pieces of at most piece_size bytes, until the end or until on_piece
  /// answers false. True when the end was reached. Throws Failure when the file
  /// cannot be read.
  bool read(const std::function<bool(std::string_view piece)>& on_piece,
            std::size_t piece_size = file_piece_size) const;

 private:
  std::string path_;
  std::intptr_t handle_ = -1;
  std::unique_ptr<RemovalGuard> removal_;
};

}  // namespace platform
