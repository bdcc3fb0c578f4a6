// Frames over POSIX file descriptors (a socket and a pipe), for the automation protocol.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "protocol/automation_protocol.hpp"

namespace platform::protocol {

namespace {

/// What one read without waiting found.
enum class Read { got, end, nothing };

/// Reads what is already there into buffer, without waiting when fd does not block.
Read read_now(int fd, char* buffer, std::size_t room, std::size_t& got) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, room);
    if (n > 0) {
      got = static_cast<std::size_t>(n);
      return Read::got;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Read::nothing;
    return Read::end;  // the end of input, or an error
  }
}

std::int64_t elapsed_ns(const timespec& start) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1'000'000'000 + (now.tv_nsec - start.tv_nsec);
}

/// The most waits in a row that skip their watch after watches that found nothing.
constexpr std::uint32_t max_watch_skip = 256;

}  // namespace

bool write_frame(int fd, std::string_view payload, bool socket) {
  if (payload.size() > max_frame_size) return false;
  const auto n = static_cast<std::uint32_t>(payload.size());
  const unsigned char header[4] = {static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
                                   static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
  // The header and the payload go out together, without copying the payload.
  iovec parts[2] = {{const_cast<unsigned char*>(header), sizeof header},
                    {const_cast<char*>(payload.data()), payload.size()}};
  iovec* part = parts;
  int count = 2;
  while (count > 0) {
    ssize_t written;
    if (socket) {
      msghdr message{};
      message.msg_iov = part;
      message.msg_iovlen = static_cast<decltype(message.msg_iovlen)>(count);
      written = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    } else {
      written = ::writev(fd, part, count);
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
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

FrameReader::FrameReader(int fd, std::int64_t watch_ns) : fd_(fd), watch_ns_(watch_ns) {
  // A watching reader reads without blocking: a read that finds the frame is the whole
  // cost of the wait, with no look at the descriptor before it. Without that mode it
  // cannot watch, and waits as a reader that does not.
  if (watch_ns_ > 0) {
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0)
      watch_ns_ = 0;
    else
      blocking_ = false;
  }
}

bool FrameReader::wait_for_input(const WaitEnd& until) {
  using clock = std::chrono::steady_clock;
  constexpr auto check_every = std::chrono::milliseconds(100);
  const bool limited = until.deadline != clock::time_point::max() || until.stop;
  for (;;) {
    int timeout_ms = -1;
    if (limited) {
      if (until.stop && *until.stop && (*until.stop)()) {
        ending_ = Ending::stopped;
        return false;
      }
      const auto now = clock::now();
      if (now >= until.deadline) {
        ending_ = Ending::timed_out;
        return false;
      }
      auto slice = std::chrono::ceil<std::chrono::milliseconds>(until.deadline - now);
      if (until.stop && *until.stop) slice = std::min<std::chrono::milliseconds>(slice, check_every);
      timeout_ms = static_cast<int>(std::min<std::chrono::milliseconds::rep>(slice.count(), 1'000'000));
    }
    pollfd p{fd_, POLLIN, 0};
    const int rc = ::poll(&p, 1, timeout_ms);
    if (rc > 0) return true;
    if (rc < 0 && errno != EINTR) return true;  // the read that follows tells what is wrong
  }
}

bool FrameReader::fill(std::size_t wanted, const WaitEnd& until) {
  // The bytes not yet handed out move to the front, so that the buffer never holds more
  // than the frame being read and what came after it.
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (buffer_.size() < wanted) buffer_.resize(wanted);
  char* room = buffer_.data() + end_;
  const std::size_t room_size = buffer_.size() - end_;
  std::size_t got = 0;
  // A frame already there when the wait begins tells nothing about watching. A reader
  // whose reads block sleeps first, so that its wait can end by until.
  if (blocking_ && !wait_for_input(until)) return false;
  Read read = read_now(fd_, room, room_size, got);
  if (read == Read::nothing && watch_ns_ > 0) {
    // A watch that finds nothing in time means the other side is not running now: the
    // cores are busy, or both processes share one, where watching only keeps the other
    // side from running. The waits that follow then sleep at once, twice as many after
    // each such watch; a frame that comes while a watch waits for it makes every wait
    // watch again.
    if (watch_skip_ > 0) {
      --watch_skip_;
    } else {
      timespec start{};
      clock_gettime(CLOCK_MONOTONIC, &start);
      while ((read = read_now(fd_, room, room_size, got)) == Read::nothing && elapsed_ns(start) < watch_ns_) {
      }
      if (read == Read::got) {
        watch_backoff_ = 0;
      } else if (read == Read::nothing) {
        watch_backoff_ = std::min(max_watch_skip, std::max<std::uint32_t>(1, watch_backoff_ * 2));
        watch_skip_ = watch_backoff_;
      }
    }
  }
  // Only a descriptor that does not block (a watching reader's) finds nothing: it sleeps
  // until input, or its end, comes.
  while (read == Read::nothing) {
    if (!wait_for_input(until)) return false;
    read = read_now(fd_, room, room_size, got);
  }
  if (read == Read::end) {
    ending_ = Ending::closed;
    return false;
  }
  end_ += got;
  return true;
}

std::optional<std::string_view> FrameReader::next(const WaitEnd& until) {
  ending_ = Ending::closed;
  // Room for a usual frame and for what may follow it; larger frames get more below.
  constexpr std::size_t usual_room = 64u * 1024u;
  // Room grows at most by this much past the bytes already here, so that a length
  // announced but never sent costs no more than what came.
  constexpr std::size_t step = 1u << 20;
  constexpr std::size_t header = 4;
  while (end_ - begin_ < header)
    if (!fill(usual_room, until)) return std::nullopt;
  const auto* h = reinterpret_cast<const unsigned char*>(buffer_.data() + begin_);
  const std::uint32_t n =
      (std::uint32_t{h[0]} << 24) | (std::uint32_t{h[1]} << 16) | (std::uint32_t{h[2]} << 8) | std::uint32_t{h[3]};
  if (n > max_frame_size) return std::nullopt;
  const std::size_t whole = header + n;
  while (end_ - begin_ < whole) {
    const std::size_t have = end_ - begin_;
    if (!fill(std::min(whole, std::max(usual_room, have + step)), until)) return std::nullopt;
  }
  const std::string_view payload(buffer_.data() + begin_ + header, n);
  begin_ += whole;
  return payload;
}

}  // namespace platform::protocol
