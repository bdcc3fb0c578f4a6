// Files that hold patient data, on POSIX: owner-only creation modes, O_EXCL and
// O_NOFOLLOW so that nothing is written through a planted link, and rename(2) for the
// replacement in one step.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <vector>

#include "platform/codepage.hpp"
#include "platform/files.hpp"
#include "platform/interrupt.hpp"

namespace platform {

namespace {

constexpr mode_t owner_only = S_IRUSR | S_IWUSR;
/// Links followed at most from the name given to the file (as the system's own limit).
constexpr int max_links = 40;

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
  throw Failure("Impossibile scrivere il file '" + path + "': " + reason);
}

std::string errno_text(int error) { return std::strerror(error); }

/// Writes all of bytes to fd; false on a write error.
bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

/// The file that path finally names: every symbolic link on the way followed, a
/// relative link read from the link's own directory. A dangling link gives the name it
/// points to, where a new file then goes.
std::filesystem::path final_target(const std::string& path) {
  namespace fs = std::filesystem;
  fs::path target(path);
  for (int hops = 0; hops < max_links; ++hops) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
    std::error_code ec;
    const fs::path link = fs::read_symlink(target, ec);
    if (ec) return target;
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  fail(path, errno_text(ELOOP));
}

/// When this process started, by the clock of files' times.
const std::time_t process_start = std::time(nullptr);

/// Removes the temporary files of stem in the directory open as directory_fd that runs
/// killed before they could remove them left behind: made by a process that has ended,
/// before this process started (a process id is used again in time), and plain files,
/// never followed through a link. Another live run's file stays.
void remove_leftovers(int directory_fd, const std::string& stem) {
  const int own_fd = ::dup(directory_fd);  // the listing closes its descriptor
  if (own_fd < 0) return;
  DIR* dir = ::fdopendir(own_fd);
  if (!dir) {
    ::close(own_fd);
    return;
  }
  const int dir_fd = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    const std::optional<std::uint64_t> owner = temporary_owner(entry->d_name, stem);
    if (!owner || *owner == static_cast<std::uint64_t>(::getpid()) || *owner > 0x7FFFFFFF) continue;
    if (::kill(static_cast<pid_t>(*owner), 0) == 0 || errno != ESRCH) continue;  // alive, or not ours to know
    struct stat st {};
    if (::fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (st.st_mtime >= process_start) continue;
    ::unlinkat(dir_fd, entry->d_name, 0);
  }
  ::closedir(dir);
}

/// Makes a new temporary file of stem in the directory open as directory_fd, exclusively
/// and readable and writable by its owner only, after removing the leftovers of killed
/// runs: ".STEM.PID.TOKEN.tmp", stem cut to the directory's name limit. Returns its
/// descriptor and sets name to the name made; -1 with errno when it cannot be made.
int create_temporary(int directory_fd, const std::string& stem, int flags, std::string& name) {
  const long name_max = ::fpathconf(directory_fd, _PC_NAME_MAX);
  const std::string cut = temporary_stem(stem, name_max > 0 ? static_cast<std::size_t>(name_max) : 255);
  remove_leftovers(directory_fd, cut);
  static constexpr char letters[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  static std::mt19937_64 random{std::random_device{}() ^ static_cast<std::uint64_t>(::getpid())};
  static std::mutex random_mutex;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string token(6, '0');
    {
      std::lock_guard lock(random_mutex);
      for (char& c : token) c = letters[random() % (sizeof letters - 1)];
    }
    name = "." + cut + "." + std::to_string(::getpid()) + "." + token + ".tmp";
    const int fd = ::openat(directory_fd, name.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, owner_only);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;  // errno is EEXIST
}

}  // namespace

FileKind file_kind(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return FileKind::missing;
  if (S_ISREG(st.st_mode)) return FileKind::regular;
  if (S_ISDIR(st.st_mode)) return FileKind::directory;
  return FileKind::other;
}

struct FileReplacement::Impl {
  std::string path;  ///< as the caller named it, for messages
  std::filesystem::path target;
  std::string temp;
  mode_t mode = owner_only;
  int fd = -1;
  int error = 0;       ///< errno of the first failed write
  std::string buffer;  ///< small pieces are gathered into writes of this size
  std::unique_ptr<RemovalGuard> removal;

  static constexpr std::size_t buffer_size = 1 << 16;

  bool flush() {
    if (error == 0 && !write_all(fd, buffer)) error = errno != 0 ? errno : EIO;
    buffer.clear();
    return error == 0;
  }
};

FileReplacement::FileReplacement(const std::string& path, Link link) : impl_(std::make_unique<Impl>()) {
  Impl& r = *impl_;
  r.path = path;
  r.target = link == Link::followed ? final_target(path) : std::filesystem::path(path);
  if (r.target.filename().empty()) fail(path, "percorso non valido");
  struct stat existing {};
  // A link to be replaced is looked at itself: a new file takes its place.
  const bool found =
      (link == Link::followed ? ::stat(r.target.c_str(), &existing) : ::lstat(r.target.c_str(), &existing)) == 0;
  // A name longer than the folder takes would fail only when the file is put in place.
  if (!found && errno == ENAMETOOLONG) fail(path, errno_text(ENAMETOOLONG));
  const bool replacing = found && !S_ISLNK(existing.st_mode);
  if (replacing && !S_ISREG(existing.st_mode)) fail(path, "non è un file");
  if (replacing) r.mode = existing.st_mode & 07777;

  const std::filesystem::path directory = r.target.has_parent_path() ? r.target.parent_path() : ".";
  const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) fail(path, errno_text(errno));
  std::string name;
  r.fd = create_temporary(dir, r.target.filename().string(), O_WRONLY, name);
  const int error = errno;
  ::close(dir);
  if (r.fd < 0) fail(path, errno_text(error));
  r.temp = (directory / name).string();
  r.removal = std::make_unique<RemovalGuard>(r.temp);
  // A disk that takes no byte more would fail only when the buffered bytes are written,
  // after whatever produced them: one byte is written and taken back now.
  if (::pwrite(r.fd, "", 1, 0) != 1 || ::ftruncate(r.fd, 0) != 0) {
    const int error = errno;
    ::close(r.fd);
    r.fd = -1;
    fail(path, errno_text(error));
  }
  r.buffer.reserve(Impl::buffer_size);
}

FileReplacement::~FileReplacement() {
  if (impl_->fd >= 0) ::close(impl_->fd);
  // The guard removes the temporary file unless commit() released it.
}

void FileReplacement::write(std::string_view bytes) {
  Impl& r = *impl_;
  if (!accepting()) return;
  if (r.buffer.size() + bytes.size() > Impl::buffer_size && !r.flush()) return;
  if (bytes.size() >= Impl::buffer_size) {
    if (!write_all(r.fd, bytes)) r.error = errno != 0 ? errno : EIO;
    return;
  }
  r.buffer.append(bytes);
}

bool FileReplacement::accepting() const { return impl_->fd >= 0 && impl_->error == 0; }

void FileReplacement::commit() {
  Impl& r = *impl_;
  if (r.fd < 0) fail(r.path, errno_text(EBADF));
  const bool written = r.flush() && ::fchmod(r.fd, r.mode) == 0 && ::fsync(r.fd) == 0;
  const int write_error = r.error != 0 ? r.error : errno;
  const int fd = r.fd;
  r.fd = -1;
  if (::close(fd) != 0 || !written) fail(r.path, errno_text(written ? errno : write_error));
  if (::rename(r.temp.c_str(), r.target.c_str()) != 0) fail(r.path, errno_text(errno));
  r.removal->release();
}

bool own_folders_below(const std::string& base, const std::vector<std::string>& levels, bool create) {
  int dir = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (const std::string& level : levels) {
    if (dir < 0) break;
    if (create && ::mkdirat(dir, level.c_str(), 0777) != 0 && errno != EEXIST) {
      ::close(dir);
      return false;
    }
    // O_NOFOLLOW: a link in the level's place is refused, not entered.
    const int next = ::openat(dir, level.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(dir);
    dir = next;
  }
  if (dir < 0) return false;
  ::close(dir);
  return true;
}

std::optional<std::string> ansi_path(const std::string& path) {
  std::string ansi = to_ansi(path);
  if (from_ansi(ansi) == path) return ansi;
  return std::nullopt;
}

bool ensure_private_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, owner_only);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  struct stat st {};
  return errno == EEXIST && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

WorkingFile::WorkingFile(const std::string& folder, const std::string& stem) {
  // The folder itself is never a link: a link there could lead anywhere.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  const std::string pattern = (std::filesystem::path(folder) / ("." + stem + ".PID.XXXXXX.tmp")).string();
  if (dir < 0) fail(pattern, errno_text(errno));
  std::string name;
  const int fd = create_temporary(dir, stem, O_RDWR, name);
  const int error = errno;
  ::close(dir);
  if (fd < 0) fail(pattern, errno_text(error));
  handle_ = fd;
  path_ = (std::filesystem::path(folder) / name).string();
  removal_ = std::make_unique<RemovalGuard>(path_);
}

void WorkingFile::append(std::string_view bytes) {
  // write(2) goes on at the end of what was written: the reads below never move the offset.
  if (!write_all(static_cast<int>(handle_), bytes)) fail(path_, errno_text(errno));
}

WorkingFile::~WorkingFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

DumpFile read_and_remove_dump(const std::string& folder, const std::string& name, const PieceSink& on_piece,
                              std::size_t piece_size,
                              std::optional<std::chrono::system_clock::time_point> written_since) {
  const std::string path = (std::filesystem::path(folder) / name).string();
  const auto refused = [](const char* reason, const std::string& at) {
    return DumpFile{DumpFile::State::refused, reason + at};
  };
  // The folder may be reached through links (the installation's own place); what lies
  // below it never is: a link there could lead anywhere.
  struct Fd {
    int fd = -1;
    ~Fd() {
      if (fd >= 0) ::close(fd);
    }
    void reset(int other) {
      if (fd >= 0) ::close(fd);
      fd = other;
    }
  } dir;
  dir.fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir.fd < 0) {
    if (errno == ENOENT) return {};
    if (errno == ENOTDIR) return refused(dump_refusal::not_a_folder, folder);
    throw Failure("Impossibile aprire la cartella '" + folder + "'");
  }
  std::vector<std::string> parts(1);
  for (char c : name) {
    if (c == '/')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  std::filesystem::path reached(folder);
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    reached /= parts[i];
    struct stat st {};
    if (::fstatat(dir.fd, parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) return {};
      throw Failure("Impossibile aprire la cartella '" + reached.string() + "'");
    }
    if (S_ISLNK(st.st_mode)) return refused(dump_refusal::through_link, reached.string());
    if (!S_ISDIR(st.st_mode)) return refused(dump_refusal::not_a_folder, reached.string());
    const int next = ::openat(dir.fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      if (errno == ENOENT) return {};
      // Made a link or a file since it was looked at.
      if (errno == ELOOP || errno == ENOTDIR) return refused(dump_refusal::through_link, reached.string());
      throw Failure("Impossibile aprire la cartella '" + reached.string() + "'");
    }
    dir.reset(next);
  }
  const std::string& file_name = parts.back();
  // O_NOFOLLOW refuses a link in the name's place; O_NONBLOCK keeps a FIFO from waiting
  // for a writer before it can be refused.
  const int fd = ::openat(dir.fd, file_name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return {};
    if (errno == ELOOP || errno == ENOTDIR || errno == ENXIO) return refused(dump_refusal::not_a_file, path);
    throw Failure("Impossibile aprire il file '" + path + "'");
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return refused(dump_refusal::not_a_file, path);
  }
  // A second name (a hard link) could be another file's, kept anywhere on the volume.
  if (st.st_nlink != 1) {
    ::close(fd);
    return refused(dump_refusal::second_name, path);
  }
  // A file last written before the request is no answer to it (a database, a stylesheet).
  const auto written =
      std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
  if (written_since && written < *written_since - file_time_granularity) {
    ::close(fd);
    return refused(dump_refusal::not_written, path);
  }
  const int slot = register_removal_at_interrupt(path);
  // Closed, then removed by its name in the folder, however the reading ends; the name
  // goes only while it still names the file that was read.
  const struct Remover {
    int dir, fd, slot;
    const std::string& name;
    const struct stat& read;
    ~Remover() {
      ::close(fd);
      struct stat now {};
      if (::fstatat(dir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == read.st_dev &&
          now.st_ino == read.st_ino)
        ::unlinkat(dir, name.c_str(), 0);
      unregister_removal_at_interrupt(slot);
    }
  } remover{dir.fd, fd, slot, file_name, st};
  std::vector<char> buffer(std::max<std::size_t>(piece_size, 1));
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure("Errore nella lettura del file '" + path + "'");
    if (n == 0) return {DumpFile::State::rows, {}};
    on_piece(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
  }
}

bool WorkingFile::read(const std::function<bool(std::string_view)>& on_piece, std::size_t piece_size) const {
  std::vector<char> buffer(std::max<std::size_t>(piece_size, 1));
  for (off_t offset = 0;;) {
    const ssize_t n = ::pread(static_cast<int>(handle_), buffer.data(), buffer.size(), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure("Errore nella lettura del file '" + path_ + "': " + errno_text(errno));
    if (n == 0) return true;
    if (!on_piece(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) return false;
    offset += n;
  }
}

}  // namespace platform
