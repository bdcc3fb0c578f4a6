// praxilo-server: the records product's automation server "Praxilo.Server", answering
// late-bound calls on stdin/stdout over an SQLite records database (the POSIX transport;
// the methods themselves are in server_methods.cpp).
//
//   praxilo-server DB_FILE [INSTALL_DIR]
//
// INSTALL_DIR (default: the database file's directory) receives the dump files under
// Temp/. PRAXILO_SERVER_EXIT_AFTER=N makes the process exit, without answering, when it
// receives its N-th call.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/automation_protocol.hpp"
#include "praxilo_db.hpp"
#include "server_methods.hpp"

namespace fs = std::filesystem;
using platform::protocol::Request;
using platform::protocol::Response;

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

  praxilo_server::Methods server(db, install_dir);
  long calls = 0;
  while (const std::optional<std::string> frame = platform::protocol::read_frame(STDIN_FILENO)) {
    if (exit_after > 0 && ++calls >= exit_after) _exit(3);  // fault injection: no answer
    Response response;
    if (const std::optional<Request> request = platform::protocol::decode_request(*frame)) {
      praxilo_server::Answer answer = server.call(request->method, request->args);
      response.ok = answer.ok;
      response.result = std::move(answer.result);
      response.error = std::move(answer.error);
    } else {
      response.error = "Richiesta non valida";
    }
    if (!platform::protocol::write_frame(STDOUT_FILENO, platform::protocol::encode_response(response))) break;
  }
  sqlite3_close(db);
  return 0;
}
