// The registry on POSIX: the ".reg" export file named by PIVZONA12_REGISTRY; without it
// every key is missing. Never written.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/registry.hpp"
#include "platform/registry_file.hpp"

namespace platform {

namespace {

/// How long after its modification a file counts as recent: well above the tick of the
/// file systems' clocks (a few milliseconds; two seconds on FAT).
constexpr std::int64_t recent_ns = 3'000'000'000;

std::int64_t nanoseconds(const timespec& t) { return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; }

std::optional<FileState> state_of(const struct stat& st, std::int64_t now_ns) {
  if (!S_ISREG(st.st_mode)) return std::nullopt;
  FileState state;
  state.stamp.device = static_cast<std::uint64_t>(st.st_dev);
  state.stamp.inode = static_cast<std::uint64_t>(st.st_ino);
  state.stamp.size = static_cast<std::uint64_t>(st.st_size);
  state.stamp.modified_ns = nanoseconds(st.st_mtim);
  // A time in the future (a clock set back) is recent as well.
  state.recent = now_ns - state.stamp.modified_ns < recent_ns;
  return state;
}

std::int64_t now_ns() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return nanoseconds(now);
}

}  // namespace

std::optional<FileState> regular_file_state(const std::filesystem::path& path) {
  // The clock is read first: a change after the stamp was taken cannot then look older
  // than it is.
  const std::int64_t now = now_ns();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return state_of(st, now);
}

std::optional<std::string> read_regular_file(const std::filesystem::path& path, std::uintmax_t max_size,
                                             FileState& state) {
  const std::int64_t now = now_ns();
  // O_NONBLOCK: opening a FIFO without a writer must not wait for one. The type is
  // checked on the opened file, so a file swapped in after a check cannot slip through.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> content;
  struct stat st {};
  if (::fstat(fd, &st) == 0) {
    const std::optional<FileState> opened = state_of(st, now);
    if (opened && opened->stamp.size <= max_size) {
      std::string data(static_cast<std::size_t>(opened->stamp.size), '\0');
      std::size_t used = 0;
      bool failed = false;
      // A file that grows while it is read is read up to one byte past the limit.
      while (!failed) {
        if (used == data.size()) {
          if (data.size() > max_size) break;
          data.resize(std::min<std::uintmax_t>(max_size + 1, data.size() + 4096));
        }
        const ssize_t n = ::read(fd, data.data() + used, data.size() - used);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = true;
        if (n <= 0) break;
        used += static_cast<std::size_t>(n);
      }
      if (!failed && used <= max_size) {
        data.resize(used);
        content = std::move(data);
        state = *opened;
      }
    }
  }
  ::close(fd);
  return content;
}

RegistryValue registry_read(RegistryRoot root, std::string_view key, std::string_view name) {
  const char* file = std::getenv("PIVZONA12_REGISTRY");
  if (!file || !*file) return {};
  return read_registry_file(file, root, key, name);
}

}  // namespace platform
