#pragma once
// The wire protocol between a late-bound automation object and its local server process.
// Each message is one frame: a 4-byte big-endian length followed by that many bytes of
// MessagePack. A request is the array [id, method, [argument, ...]], each argument a
// string or nil for "omitted"; an answer repeats the request's id: [id, true, result] or
// [id, false, error text], where result is an array that holds the value: [] for empty,
// [nil] for Null, [string] for text, [integer] for a number. The id lets the client tell
// the answer to its request from a stray or late frame. A binary coding spares both sides
// the escaping and unescaping of every character of the SQL texts that most calls carry.
// Shared by the client (automation_posix.cpp) and the records product's stand-in server.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation.hpp"

namespace platform::protocol {

/// Largest frame accepted; a longer announced length means the peer is talking nonsense,
/// and the frame is refused before anything is allocated for it.
inline constexpr std::uint32_t max_frame_size = 64u * 1024u * 1024u;

/// A decoded request.
struct Request {
  std::string method;
  std::vector<Argument> args;
  std::uint64_t id = 0;  ///< chosen by the client, repeated in the answer
};

/// A decoded answer: a result, or the error text the server raised.
struct Response {
  bool ok = false;
  Variant result;
  std::string error;
  std::uint64_t id = 0;  ///< the id of the request answered
};

/// The frame for payload: its length in 4 big-endian bytes, then the payload.
std::string encode_frame(std::string_view payload);

/// Writes one frame, retrying short writes and EINTR. fd is a stream socket (socket true),
/// written so that a reader that has gone away makes the write fail rather than raise
/// SIGPIPE, or a pipe of a process that ignores SIGPIPE. False when the frame could not
/// be written whole.
bool write_frame(int fd, std::string_view payload, bool socket);

/// How long a reader watches for a frame before it sleeps until one comes. Client and
/// server usually answer each other within tens of microseconds, while a sleep and a
/// wake-up on another core cost about as much again on a virtual machine. A watch that
/// finds nothing makes the reader's next waits sleep at once (FrameReader), so a busy
/// machine, where watching would only keep the other side from running, loses nothing.
inline constexpr std::int64_t frame_watch_ns = 100'000;

/// What ends a reader's wait for a frame besides the frame: a moment, and a check asked
/// about ten times a second (true ends the wait).
struct WaitEnd {
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
  const std::function<bool()>* stop = nullptr;
};

/// Reads the frames that arrive on a file descriptor (a pipe or a socket on POSIX) through
/// a buffer of its own: a frame usually costs one read, its header and payload together,
/// and the buffer is kept from one frame to the next.
class FrameReader {
 public:
  /// With a watch time, a reader that finds nothing waiting first watches the descriptor
  /// for up to that long before it sleeps until input comes; watches that find nothing
  /// make the next waits sleep at once, more of them after each. A watching reader puts
  /// the descriptor in non-blocking mode (which only its reader may share).
  explicit FrameReader(int fd, std::int64_t watch_ns = 0);

  /// The next frame's payload, valid until the next call. nullopt at end of file, on a
  /// read error, when the announced length exceeds max_frame_size, or when the wait ended
  /// by until (ended() says which). Memory grows with the bytes that actually arrive, not
  /// with the length announced. After a wait ended by until, part of a frame may have been
  /// read: the reader keeps it, and the next call goes on with that frame.
  std::optional<std::string_view> next(const WaitEnd& until = {});

  /// Why the last next() answered nullopt.
  enum class Ending { closed, timed_out, stopped };
  Ending ended() const { return ending_; }

  /// True when bytes that follow the last frame handed out have already been read.
  bool holds_input() const { return begin_ < end_; }

 private:
  /// Reads once more, into room for at least wanted bytes from begin_; false at end of
  /// file or on an error.
  bool fill(std::size_t wanted, const WaitEnd& until);
  /// Sleeps until fd_ has input or until ends the wait; false in the second case.
  bool wait_for_input(const WaitEnd& until);

  int fd_;
  bool blocking_ = true;  ///< fd_ is in blocking mode: a read waits
  std::int64_t watch_ns_;
  std::uint32_t watch_skip_ = 0;     ///< waits left that sleep without watching
  std::uint32_t watch_backoff_ = 0;  ///< waits skipped after the last watch that found nothing
  std::string buffer_;
  std::size_t begin_ = 0;  ///< first byte not yet handed out
  std::size_t end_ = 0;    ///< end of the bytes read
  Ending ending_ = Ending::closed;
};

/// The MessagePack bytes of a request / an answer. Texts go as the bytes they hold.
std::string encode_request(const Request& request);
std::string encode_response(const Response& response);

/// Parses a request / an answer; nullopt when the bytes are not a well-formed message of
/// that shape. Anything out of place, a nested array among them, stops the parse where it
/// stands, so that a hostile frame costs no more than its bytes.
std::optional<Request> decode_request(std::string_view bytes);
std::optional<Response> decode_response(std::string_view bytes);

/// Splits a command line into program and arguments as Windows programs do: blanks and
/// tabs separate, double quotes group (and are removed), 2n backslashes before a quote
/// give n backslashes, 2n+1 give n backslashes and a literal quote, other backslashes are
/// kept as they are.
std::vector<std::string> split_command_line(std::string_view command_line);

/// The command line that split_command_line splits back into words: each word in double
/// quotes, with the backslashes before a quote doubled and each quote escaped.
std::string join_command_line(const std::vector<std::string>& words);

}  // namespace platform::protocol
