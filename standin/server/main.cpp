// praxilo-server: the records product's automation server "Praxilo.Server", answering
// late-bound calls on stdin/stdout over an SQLite records database (the POSIX transport;
// the methods themselves are in server_methods.cpp).
//
//   praxilo-server DB_FILE [INSTALL_DIR]
//
// INSTALL_DIR (default: the database file's directory) receives the dump files under
// Temp/. PRAXILO_SERVER_EXIT_AFTER=N makes the process exit, without answering, when it
// receives its N-th call. While the file named by PRAXILO_SERVER_HOLD_FILE exists, every
// call (from the N-th on with PRAXILO_SERVER_HOLD_FROM=N) waits before it is answered.
// PRAXILO_SERVER_FAIL_AT=N answers the N-th call with an error.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "praxilo_db.hpp"
#include "protocol/automation_protocol.hpp"
#include "server_methods.hpp"

namespace fs = std::filesystem;
using platform::protocol::Request;
using platform::protocol::Response;

namespace {

/// The dump files of this process are "<install>/Temp/dump_<pid>_<n>.txt", n from 1 up.
/// The client removes each one once read; those still there when the session ends (the
/// client went away, or the process is told to end) are removed here, so that no patient
/// data outlives the session. Kept in plain memory for the signal handler.
char dump_prefix[4096];

/// Removes every dump file this process made and is still there. Async-signal-safe.
void remove_dump_files() {
  if (dump_prefix[0] == '\0') return;
  const std::size_t prefix_length = std::strlen(dump_prefix);
  char path[sizeof dump_prefix + 32];
  std::memcpy(path, dump_prefix, prefix_length);
  for (unsigned long n = praxilo_server::dumps_made.load(); n > 0; --n) {
    char digits[24];
    int count = 0;
    for (unsigned long v = n; v > 0; v /= 10) digits[count++] = static_cast<char>('0' + v % 10);
    std::size_t at = prefix_length;
    while (count > 0) path[at++] = digits[--count];
    std::memcpy(path + at, ".txt", 5);
    ::unlink(path);
  }
}

extern "C" void end_on_signal(int signal_number) {
  remove_dump_files();
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "uso: praxilo-server DB_FILE [INSTALL_DIR]\n");
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);  // a client that went away ends the loop through EPIPE
  const fs::path db_file = argv[1];
  std::error_code ec;
  fs::path install_dir = argc == 3 ? fs::path(argv[2]) : fs::absolute(db_file, ec).parent_path();
  if (install_dir.empty()) install_dir = ".";

  std::string error;
  sqlite3* db = praxilo_db::open(db_file.string(), false, error);
  if (!db) {
    std::fprintf(stderr, "praxilo-server: %s: %s\n", db_file.c_str(), error.c_str());
    return 1;
  }

  long exit_after = 0;
  if (const char* n = std::getenv("PRAXILO_SERVER_EXIT_AFTER"); n && *n) exit_after = std::strtol(n, nullptr, 10);

  fs::path hold_file;
  if (const char* h = std::getenv("PRAXILO_SERVER_HOLD_FILE"); h && *h) hold_file = h;
  const long hold_from = praxilo_server::call_number("PRAXILO_SERVER_HOLD_FROM");
  const long fail_at = praxilo_server::call_number("PRAXILO_SERVER_FAIL_AT");

  const std::string prefix = (install_dir / fmt::format("Temp/dump_{:06}_", ::getpid())).string();
  if (prefix.size() < sizeof dump_prefix) std::memcpy(dump_prefix, prefix.c_str(), prefix.size() + 1);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, end_on_signal);

  praxilo_server::Methods server(db, install_dir);
  long calls = 0;
  platform::protocol::FrameReader requests(STDIN_FILENO, platform::protocol::frame_watch_ns);
  while (const std::optional<std::string_view> frame = requests.next()) {
    ++calls;
    if (exit_after > 0 && calls >= exit_after) _exit(3);  // fault injection: no answer
    // Fault injection: a slow records product, whose answer waits while the file exists.
    while (!hold_file.empty() && calls >= hold_from && fs::exists(hold_file, ec)) ::usleep(10000);
    Response response;
    const std::optional<Request> request = platform::protocol::decode_request(*frame);
    if (request && calls == fail_at) {
      response.error = praxilo_server::injected_failure;  // fault injection: a refused call
      response.id = request->id;
    } else if (request) {
      praxilo_server::Answer answer = server.call(request->method, request->args);
      response.ok = answer.ok;
      response.result = std::move(answer.result);
      response.error = std::move(answer.error);
      response.id = request->id;
    } else {
      response.error = "Richiesta non valida";
    }
    if (!platform::protocol::write_frame(STDOUT_FILENO, platform::protocol::encode_response(response), false)) break;
  }
  praxilo_server::remove_remaining_dumps(install_dir);
  sqlite3_close(db);
  return 0;
}
