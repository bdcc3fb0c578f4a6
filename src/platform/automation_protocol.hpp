#pragma once
// The wire protocol between a late-bound automation object and its local server process.
// Each message is one frame: a 4-byte big-endian length followed by that many bytes of
// JSON. A request reads {"id": n, "method": name, "args": [{"omitted": true} | {"text":
// "..."}]}; an answer repeats the request's id and reads {"id": n, "ok": true, "result":
// {"kind": "empty"|"null"|"text"|"integer", ...}} or {"id": n, "ok": false, "error": "..."}.
// The id lets the client tell the answer to its request from a stray or late frame.
// Shared by the client (automation_posix.cpp) and the records product's stand-in server.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation.hpp"

namespace platform::protocol {

/// Largest frame accepted; a longer announced length means the peer is talking nonsense,
/// and the frame is refused before anything is allocated for it.
inline constexpr std::uint32_t max_frame_size = 64u * 1024u * 1024u;

/// Deepest nesting of arrays and objects accepted in a message (the messages themselves
/// nest three deep); a deeper one is refused while it is being parsed.
inline constexpr int max_nesting_depth = 8;

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

/// Writes one frame to the file descriptor (a pipe on POSIX), retrying short writes and EINTR. A reader that
/// has gone away makes it return false; SIGPIPE is never delivered for it. sigpipe_ignored
/// tells that the process ignores SIGPIPE, which spares the signal mask changes per write.
bool write_frame(int fd, std::string_view payload, bool sigpipe_ignored = false);

/// Reads one frame from the file descriptor. nullopt at end of file, on a read error, or
/// when the announced length exceeds max_frame_size. Memory grows with the bytes that
/// actually arrive, not with the length announced.
std::optional<std::string> read_frame(int fd);

/// JSON text of a request / an answer. Invalid UTF-8 in texts is replaced, never thrown on.
std::string encode_request(const Request& request);
std::string encode_response(const Response& response);

/// Parses a request / an answer; nullopt when the text is not a well-formed message, has
/// no id, or nests deeper than max_nesting_depth.
std::optional<Request> decode_request(std::string_view json);
std::optional<Response> decode_response(std::string_view json);

/// Splits a command line into program and arguments as Windows programs do: blanks and
/// tabs separate, double quotes group (and are removed), 2n backslashes before a quote
/// give n backslashes, 2n+1 give n backslashes and a literal quote, other backslashes are
/// kept as they are.
std::vector<std::string> split_command_line(std::string_view command_line);

/// The command line that split_command_line splits back into words: each word in double
/// quotes, with the backslashes before a quote doubled and each quote escaped.
std::string join_command_line(const std::vector<std::string>& words);

}  // namespace platform::protocol
