// Frames over POSIX file descriptors (pipes), for the automation protocol.
#include <errno.h>
#include <signal.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "platform/automation_protocol.hpp"

namespace platform::protocol {

namespace {

// Blocks SIGPIPE for the calling thread while writing to a pipe whose reader may have
// gone away, and swallows the signal that such a write leaves pending, so that the
// write fails with EPIPE instead of ending the process. The process's own disposition
// of SIGPIPE is left untouched. A signal can only be pending before the write when the
// thread already held SIGPIPE back, so only then is the pending set looked at.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigset_t pipe_set;
    sigemptyset(&pipe_set);
    sigaddset(&pipe_set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_set, &old_mask_);
    if (sigismember(&old_mask_, SIGPIPE) == 1) {
      sigset_t pending;
      sigpending(&pending);
      already_pending_ = sigismember(&pending, SIGPIPE) == 1;
    }
  }
  ~SigpipeGuard() {
    if (broke_ && !already_pending_) {
      sigset_t pipe_set;
      sigemptyset(&pipe_set);
      sigaddset(&pipe_set, SIGPIPE);
      const timespec no_wait{0, 0};
      while (sigtimedwait(&pipe_set, nullptr, &no_wait) == -1 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;
  void broke() { broke_ = true; }

 private:
  sigset_t old_mask_{};
  bool already_pending_ = false;
  bool broke_ = false;
};

bool read_exactly(int fd, char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::read(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool write_frame(int fd, std::string_view payload, bool sigpipe_ignored) {
  if (payload.size() > max_frame_size) return false;
  const auto n = static_cast<std::uint32_t>(payload.size());
  const unsigned char header[4] = {static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
                                   static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
  std::optional<SigpipeGuard> guard;
  if (!sigpipe_ignored) guard.emplace();
  // The header and the payload go out together, without copying the payload.
  iovec parts[2] = {{const_cast<unsigned char*>(header), sizeof header},
                    {const_cast<char*>(payload.data()), payload.size()}};
  iovec* part = parts;
  int count = 2;
  while (count > 0) {
    const ssize_t written = ::writev(fd, part, count);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) {
      if (errno == EPIPE && guard) guard->broke();
      return false;
    }
    auto left = static_cast<std::size_t>(written);
    while (count > 0 && left >= part->iov_len) {
      left -= part->iov_len;
      ++part;
      --count;
    }
    if (count > 0) {
      part->iov_base = static_cast<char*>(part->iov_base) + left;
      part->iov_len -= left;
    }
  }
  return true;
}

std::optional<std::string> read_frame(int fd) {
  unsigned char header[4];
  if (!read_exactly(fd, reinterpret_cast<char*>(header), sizeof header)) return std::nullopt;
  const std::uint32_t n = (std::uint32_t{header[0]} << 24) | (std::uint32_t{header[1]} << 16) |
                          (std::uint32_t{header[2]} << 8) | std::uint32_t{header[3]};
  if (n > max_frame_size) return std::nullopt;
  // Read in steps, so that a length announced but never sent costs no more than what came.
  constexpr std::size_t step = 1u << 20;
  std::string payload;
  while (payload.size() < n) {
    const std::size_t have = payload.size();
    payload.resize(have + std::min<std::size_t>(step, n - have));
    if (!read_exactly(fd, payload.data() + have, payload.size() - have)) return std::nullopt;
  }
  return payload;
}

}  // namespace platform::protocol
