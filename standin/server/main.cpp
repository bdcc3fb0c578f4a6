// praxilo-server: the records product's automation server "Praxilo.Server", answering
// late-bound calls on stdin/stdout over an SQLite records database.
//
//   praxilo-server DB_FILE [INSTALL_DIR]
//
// INSTALL_DIR (default: the database file's directory) receives the dump files under
// Temp/. PRAXILO_SERVER_EXIT_AFTER=N makes the process exit, without answering, when it
// receives its N-th call. While the file named by PRAXILO_SERVER_HOLD_FILE exists, every
// call waits before it is answered.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "platform/automation_protocol.hpp"
#include "platform/codepage.hpp"
#include "praxilo_db.hpp"

namespace fs = std::filesystem;
using platform::Argument;
using platform::Variant;
using platform::protocol::Request;
using platform::protocol::Response;

namespace {

/// The dump files of this process are "<install>/Temp/dump_<pid>_<n>.txt", n from 1 up.
/// The client removes each one once read; those still there when the session ends (the
/// client went away, or the process is told to end) are removed here, so that no patient
/// data outlives the session. Kept in plain memory for the signal handler.
char dump_prefix[4096];
std::atomic<unsigned long> dumps_made{0};

/// Removes every dump file this process made and is still there. Async-signal-safe.
void remove_dump_files() {
  if (dump_prefix[0] == '\0') return;
  const std::size_t prefix_length = std::strlen(dump_prefix);
  char path[sizeof dump_prefix + 32];
  std::memcpy(path, dump_prefix, prefix_length);
  for (unsigned long n = dumps_made.load(); n > 0; --n) {
    char digits[24];
    int count = 0;
    for (unsigned long v = n; v > 0; v /= 10) digits[count++] = static_cast<char>('0' + v % 10);
    std::size_t at = prefix_length;
    while (count > 0) path[at++] = digits[--count];
    std::memcpy(path + at, ".txt", 5);
    ::unlink(path);
  }
}

/// At the normal end of a session: removes the dump files of this process still in the
/// dump directory, found by listing it. The client has removed nearly all of them, and
/// trying every name ever made would cost a system call per query of the session.
void remove_remaining_dump_files(const fs::path& dump_directory, const std::string& name_prefix) {
  std::error_code ec;
  for (fs::directory_iterator entry(dump_directory, ec), end; !ec && entry != end; entry.increment(ec)) {
    const std::string name = entry->path().filename().string();
    std::error_code ignored;
    if (name.starts_with(name_prefix) && name.ends_with(".txt")) fs::remove(entry->path(), ignored);
  }
}

extern "C" void end_on_signal(int signal_number) {
  remove_dump_files();
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

/// A method's failure: answered as {"ok": false} and kept as the last error.
struct CallError {
  std::string text;
};

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The text of a column: integers in decimal, reals in their shortest form, NULL empty.
std::string column_text(sqlite3_stmt* stmt, int i) {
  switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_NULL:
      return {};
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_column_int64(stmt, i));
    case SQLITE_FLOAT:
      return fmt::format("{}", sqlite3_column_double(stmt, i));
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, i))) : std::string();
    }
  }
}

class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql) {
    const std::string error = praxilo_db::prepare(db, sql, &stmt_);
    if (!error.empty()) throw CallError{"Errore SQL: " + error};
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  /// Steps once: true for a row, false when done; an SQL error throws.
  bool step(sqlite3* db) {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw CallError{std::string("Errore SQL: ") + sqlite3_errmsg(db)};
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class Server {
 public:
  Server(sqlite3* db, fs::path install_dir) : db_(db), install_dir_(std::move(install_dir)) {
    methods_ = {
        {"new", {0, [this](const Request&) { return start_session(); }}},
        {"connetti", {2, [this](const Request& r) { return connetti(arg(r, 0), arg(r, 1)); }}},
        {"get_error", {0, [this](const Request&) { return Variant::make_text(last_error_); }}},
        {"disconnetti", {0, [this](const Request&) { return disconnetti(); }}},
        {"destroy", {0, [](const Request&) { return Variant::make_empty(); }}},
        {"free", {0, [](const Request&) { return Variant::make_empty(); }}},
        {"leggi_attributo", {1, [this](const Request& r) { return attribute(arg(r, 0)); }}},
        {"utente_leggi_attributo", {1, [this](const Request& r) { return attribute(arg(r, 0)); }}},
        {"get_opzione", {2, [this](const Request& r) { return get_opzione(arg(r, 0), arg(r, 1)); }}},
        {"new_object", {0, [](const Request&) { return Variant::make_text({}); }}},
        {"sql_into", {2, [this](const Request& r) { return sql_into(arg(r, 0), arg(r, 1)); }}},
        {"sql_dump_file", {2, [this](const Request& r) { return sql_dump_file(arg(r, 0), arg(r, 1)); }}},
        // Diagnostics for the tests: the server's process id.
        {"process_id", {0, [](const Request&) { return Variant::make_integer(::getpid()); }}},
    };
  }

  Response answer(const Request& request) {
    Response response;
    try {
      const auto method = methods_.find(lower(request.method));
      if (method == methods_.end()) throw CallError{"Metodo sconosciuto: " + request.method};
      if (request.args.size() < method->second.arguments) throw CallError{"Numero di argomenti non valido"};
      response.result = method->second.run(request);
      response.ok = true;
    } catch (const CallError& e) {
      last_error_ = e.text;
      response.error = e.text;
    } catch (const std::exception& e) {
      last_error_ = std::string("Errore interno: ") + e.what();
      response.error = last_error_;
    }
    return response;
  }

 private:
  struct Method {
    std::size_t arguments;  ///< how many arguments the method needs at least
    std::function<Variant(const Request&)> run;
  };

  // A text argument; an omitted one reads as empty.
  static const std::string& arg(const Request& r, std::size_t i) { return r.args[i].text; }

  Variant start_session() {
    user_.reset();
    last_error_.clear();
    return Variant::make_empty();
  }

  Variant connetti(const std::string& name, const std::string& password) {
    Statement s(db_, "SELECT rowid FROM utenti WHERE nome_utente = ?1 AND password = ?2");
    sqlite3_bind_text(s.get(), 1, name.c_str(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(s.get(), 2, password.c_str(), static_cast<int>(password.size()), SQLITE_TRANSIENT);
    if (!s.step(db_)) {
      user_.reset();
      last_error_ = "Nome utente o password non validi";
      return Variant::make_text(last_error_);
    }
    user_ = sqlite3_column_int64(s.get(), 0);
    return Variant::make_text({});
  }

  Variant disconnetti() {
    user_.reset();
    return Variant::make_empty();
  }

  Variant attribute(const std::string& name) {
    static const char* const readable[] = {"nome_utente",    "userid_utente", "tipo_praxi",
                                           "codice_regionale", "codice_fiscale", "nome",
                                           "cognome",        "asl_di_convenzione"};
    const std::string key = lower(name);
    const char* column = nullptr;
    for (const char* c : readable)
      if (key == c) column = c;
    if (!column) throw CallError{"Attributo sconosciuto: " + name};
    if (!user_) throw CallError{"Nessun utente connesso"};
    Statement s(db_, fmt::format("SELECT {} FROM utenti WHERE rowid = {}", column, *user_));
    if (!s.step(db_)) throw CallError{"Nessun utente connesso"};
    return Variant::make_text(column_text(s.get(), 0));
  }

  Variant get_opzione(const std::string& scope, const std::string& path) {
    Statement s(db_, "SELECT valore FROM opzioni WHERE ambito = ?1 AND percorso = ?2");
    sqlite3_bind_text(s.get(), 1, scope.c_str(), static_cast<int>(scope.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(s.get(), 2, path.c_str(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
    return Variant::make_text(s.step(db_) ? column_text(s.get(), 0) : std::string());
  }

  // Both database names of the records product reach the one records database.
  static void check_database(const std::string& name) {
    const std::string n = lower(name);
    if (n != "praxilo" && n != "praxilo2") throw CallError{"Database sconosciuto: " + name};
  }

  Variant sql_into(const std::string& database, const std::string& sql) {
    check_database(database);
    Statement s(db_, sql);
    return Variant::make_text(s.step(db_) && sqlite3_column_count(s.get()) > 0 ? column_text(s.get(), 0)
                                                                                 : std::string());
  }

  // One row as a line: TAB between fields, text in double quotes, numbers bare, NULL
  // empty. TAB, CR and LF inside a text become blanks, so that a row stays one line with
  // the right number of fields.
  static std::string row_line(sqlite3_stmt* stmt) {
    std::string line;
    const int n = sqlite3_column_count(stmt);
    for (int i = 0; i < n; ++i) {
      if (i > 0) line += '\t';
      const int type = sqlite3_column_type(stmt, i);
      if (type == SQLITE_NULL) continue;
      std::string value = column_text(stmt, i);
      if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
        line += value;
        continue;
      }
      for (char& c : value)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
      line += '"';
      line += value;
      line += '"';
    }
    return line;
  }

  Variant sql_dump_file(const std::string& database, const std::string& sql) {
    check_database(database);
    Statement s(db_, sql);
    std::error_code ec;
    std::string name;
    std::FILE* file = nullptr;
    bool made_directory = false;
    for (int attempt = 0; attempt < 1000 && !file; ++attempt) {
      name = fmt::format("Temp/dump_{:06}_{}.txt", pid_, ++dumps_made);
      file = std::fopen((install_dir_ / name).c_str(), "wbx");  // never reuses a name
      // The directory is made when it is found missing, not looked for at every call.
      if (!file && errno == ENOENT && !made_directory) {
        made_directory = true;
        fs::create_directories(install_dir_ / "Temp", ec);
        continue;
      }
      if (!file && errno != EEXIST) break;
    }
    if (!file) throw CallError{"Impossibile creare il file " + (install_dir_ / name).string()};
    try {
      bool written = true;
      while (s.step(db_)) {
        const std::string line = platform::to_ansi(row_line(s.get())) + "\r\n";
        written = written && std::fwrite(line.data(), 1, line.size(), file) == line.size();
      }
      if (std::fclose(file) != 0 || !written) {
        file = nullptr;
        throw CallError{"Errore di scrittura del file " + name};
      }
    } catch (...) {
      if (file) std::fclose(file);
      fs::remove(install_dir_ / name, ec);
      throw;
    }
    return Variant::make_text(name);
  }

  sqlite3* db_;
  fs::path install_dir_;
  std::map<std::string, Method> methods_;
  std::optional<sqlite3_int64> user_;  ///< rowid of the signed-in user in utenti
  std::string last_error_;
  const pid_t pid_ = ::getpid();
};

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

  const std::string prefix = (install_dir / fmt::format("Temp/dump_{:06}_", ::getpid())).string();
  if (prefix.size() < sizeof dump_prefix) std::memcpy(dump_prefix, prefix.c_str(), prefix.size() + 1);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, end_on_signal);

  Server server(db, install_dir);
  long calls = 0;
  while (const std::optional<std::string> frame = platform::protocol::read_frame(STDIN_FILENO)) {
    if (exit_after > 0 && ++calls >= exit_after) _exit(3);  // fault injection: no answer
    // Fault injection: a slow records product, whose answer waits while the file exists.
    while (!hold_file.empty() && fs::exists(hold_file, ec)) ::usleep(10000);
    Response response;
    if (const std::optional<Request> request = platform::protocol::decode_request(*frame)) {
      response = server.answer(*request);
      response.id = request->id;
    } else {
      response.error = "Richiesta non valida";
    }
    if (!platform::protocol::write_frame(STDOUT_FILENO, platform::protocol::encode_response(response), true)) break;
  }
  remove_remaining_dump_files(install_dir / "Temp", fmt::format("dump_{:06}_", ::getpid()));
  sqlite3_close(db);
  return 0;
}
