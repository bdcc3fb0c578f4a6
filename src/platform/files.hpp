#pragma once
// Files that hold patient data: created readable by their owner only, never written
// through a link planted in their place, replaced in one step so that a reader never
// sees half a file, and removed however the run that made them ends.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

/// What stands at a path, symbolic links followed (a dangling link is missing).
enum class FileKind { missing, regular, directory, other };
FileKind file_kind(const std::string& path);

/// Writes bytes to path in one step: into a new temporary file beside the file path names
/// (for a symbolic link, the file it points to, so that the link stays), renamed over it
/// at the end. A replaced file keeps its permission bits; a new file is readable and
/// writable by its owner only. Only a regular file or nothing is replaced. Throws
/// std::runtime_error naming path when it cannot be written; an earlier file is then
/// left as it was and the temporary file is gone.
void replace_file(const std::string& path, std::string_view bytes);

/// replace_file for bytes that come in pieces, so that a large file is never held whole:
/// the temporary file is made when the object is, write() appends to it, commit() puts it
/// in place. Destroyed without a commit (or after a failed write), the temporary file goes
/// and an earlier file stays as it was.
class FileReplacement {
 public:
  /// Throws std::runtime_error naming path when the temporary file cannot be made or
  /// path names something other than a regular file.
  explicit FileReplacement(const std::string& path);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  /// Appends bytes; false when they cannot be written (commit() then throws).
  bool write(std::string_view bytes);
  /// Writes what is still buffered and replaces the file. Throws std::runtime_error
  /// naming path when it cannot; the earlier file then stays.
  void commit();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// Creates path, empty and readable by its owner only, when nothing stands there yet; a
/// link is never followed. True when a regular file is there afterwards.
bool ensure_private_file(const std::string& path);

/// What read_and_remove_dump found: the file's bytes, no file of that name, or something
/// that is not to be read, with the reason.
struct DumpFile {
  enum class State { rows, missing, refused };
  State state = State::missing;
  std::string text;  ///< rows: the file's bytes; refused: why (Italian, for the user)
};

/// Reads the whole file name (a bare file name) directly inside folder, which another
/// program left to be read once, and removes it however the reading ends (and when the
/// process is interrupted meanwhile). Neither folder nor the file is reached through a
/// link; only a plain file with a single name is read, and the file removed is the one
/// that was read (a file put in its place meanwhile stays). missing when folder or the
/// file does not exist; refused, and nothing removed, when folder is a link or no folder,
/// or the file a link, a folder, a pipe, a device or a file with another name too (a
/// hard link, which may be any file of the volume). Throws std::runtime_error naming the file when it is
/// there but cannot be opened or read.
DumpFile read_and_remove_dump(const std::string& folder, const std::string& name);

/// For the platform layer: the whole of a file measured at size bytes, read through
/// read_some (which reads at most the given count into the buffer and gives how many it
/// read, 0 at the end, or throws). One byte of room past the size lets the first read that
/// leaves room unfilled show the end, so that a whole file costs one read; a file that grew
/// since it was measured is read on to its end.
std::string read_measured(std::uint64_t size, const std::function<std::size_t(char*, std::size_t)>& read_some);

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

/// A run's working file: created anew at path with bytes, readable by its owner only. An
/// earlier file or link of that name is removed first and never followed; the file is
/// removed when the object goes and when the process is interrupted.
class WorkingFile {
 public:
  /// Throws std::runtime_error naming path when the file cannot be made or written.
  WorkingFile(const std::string& path, std::string_view bytes);
  ~WorkingFile();
  WorkingFile(const WorkingFile&) = delete;
  WorkingFile& operator=(const WorkingFile&) = delete;

  /// The whole file, read back through the handle it was written with. Throws
  /// std::runtime_error when it cannot be read.
  std::string read() const;

 private:
  std::string path_;
  std::intptr_t handle_ = -1;
  RemovalGuard removal_;
};

}  // namespace platform
