#include "server_methods.hpp"

#include <atomic>
#include <cstdlib>
#include <exception>

#include <fmt/format.h>

#include "platform/codepage.hpp"
#include "platform/paths.hpp"
#include "praxilo_db.hpp"
#include "server_os.hpp"

namespace fs = std::filesystem;
using platform::Argument;
using platform::Variant;

namespace praxilo_server {

std::atomic<unsigned long> dumps_made{0};

void remove_remaining_dumps(const std::filesystem::path& install_dir) {
  const std::string name_prefix = fmt::format("dump_{:06}_", process_id());
  std::error_code ec;
  for (fs::directory_iterator entry(install_dir / "Temp", ec), end; !ec && entry != end; entry.increment(ec)) {
    const std::string name = platform::path_to_utf8(entry->path().filename());
    std::error_code ignored;
    if (name.starts_with(name_prefix) && name.ends_with(".txt")) fs::remove(entry->path(), ignored);
  }
}

namespace {

/// A method's failure: answered as a failed call and kept as the last error.
struct CallError {
  std::string text;
};

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
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

// A text argument; an omitted one reads as empty.
const std::string& arg(const std::vector<Argument>& args, std::size_t i) { return args[i].text; }

// Both database names of the records product reach the one records database.
void check_database(const std::string& name) {
  const std::string n = lower(name);
  if (n != "praxilo" && n != "praxilo2") throw CallError{"Database sconosciuto: " + name};
}

// Appends one row as a line, without its line end: TAB between fields, text in double
// quotes, numbers bare, NULL empty. TAB, CR and LF inside a text become blanks, so that a
// row stays one line with the right number of fields.
void append_row_line(sqlite3_stmt* stmt, std::string& out) {
  const int n = sqlite3_column_count(stmt);
  for (int i = 0; i < n; ++i) {
    if (i > 0) out += '\t';
    switch (sqlite3_column_type(stmt, i)) {
      case SQLITE_NULL:
        break;
      case SQLITE_INTEGER:
      case SQLITE_FLOAT:
        out += column_text(stmt, i);
        break;
      default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        const std::size_t length = static_cast<std::size_t>(sqlite3_column_bytes(stmt, i));
        out += '"';
        const std::size_t start = out.size();
        if (text) out.append(text, length);
        for (std::size_t j = start; j < out.size(); ++j)
          if (out[j] == '\t' || out[j] == '\r' || out[j] == '\n') out[j] = ' ';
        out += '"';
      }
    }
  }
}

}  // namespace

Methods::Methods(sqlite3* db, fs::path install_dir)
    : db_(db), install_dir_(std::move(install_dir)), dump_name_prefix_(fmt::format("Temp/dump_{:06}_", process_id())) {
  using Args = std::vector<Argument>;
  methods_ = {
      {"new", 0, [this](const Args&) { return start_session(); }},
      {"connetti", 2, [this](const Args& a) { return connetti(arg(a, 0), arg(a, 1)); }},
      {"get_error", 0, [this](const Args&) { return Variant::make_text(last_error_); }},
      {"disconnetti", 0, [this](const Args&) { return disconnetti(); }},
      {"Destroy", 0, [](const Args&) { return Variant::make_empty(); }},
      {"Free", 0, [](const Args&) { return Variant::make_empty(); }},
      {"leggi_attributo", 1, [this](const Args& a) { return attribute(arg(a, 0)); }},
      {"utente_leggi_attributo", 1, [this](const Args& a) { return attribute(arg(a, 0)); }},
      {"get_opzione", 2, [this](const Args& a) { return get_opzione(arg(a, 0), arg(a, 1)); }},
      {"new_object", 0, [](const Args&) { return Variant::make_text({}); }},
      {"sql_into", 2, [this](const Args& a) { return sql_into(arg(a, 0), arg(a, 1)); }},
      {"sql_dump_file", 2, [this](const Args& a) { return sql_dump_file(arg(a, 0), arg(a, 1)); }},
      // Diagnostics for the tests: the server's process id.
      {"process_id", 0, [](const Args&) { return Variant::make_integer(process_id()); }},
  };
  for (std::size_t i = 0; i < methods_.size(); ++i) by_name_[lower(methods_[i].name)] = static_cast<int>(i + 1);
}

std::optional<int> Methods::find(std::string_view name) const {
  const auto found = by_name_.find(lower(name));
  if (found == by_name_.end()) return std::nullopt;
  return found->second;
}

std::string Methods::name_of(int id) const {
  return id >= 1 && static_cast<std::size_t>(id) <= methods_.size() ? methods_[id - 1].name : std::string();
}

Answer Methods::call(std::string_view name, const std::vector<Argument>& args) {
  if (const std::optional<int> id = find(name)) return call(*id, args);
  last_error_ = "Metodo sconosciuto: " + std::string(name);
  return Answer{false, {}, last_error_};
}

Answer Methods::call(int id, const std::vector<Argument>& args) {
  Answer answer;
  try {
    if (id < 1 || static_cast<std::size_t>(id) > methods_.size()) throw CallError{"Metodo sconosciuto"};
    const Method& method = methods_[id - 1];
    if (args.size() < method.arguments) throw CallError{"Numero di argomenti non valido"};
    answer.result = method.run(args);
    answer.ok = true;
  } catch (const CallError& e) {
    last_error_ = e.text;
    answer.error = e.text;
  } catch (const std::exception& e) {
    last_error_ = std::string("Errore interno: ") + e.what();
    answer.error = last_error_;
  }
  return answer;
}

Variant Methods::start_session() {
  user_.reset();
  last_error_.clear();
  return Variant::make_empty();
}

Variant Methods::connetti(const std::string& name, const std::string& password) {
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

Variant Methods::disconnetti() {
  user_.reset();
  return Variant::make_empty();
}

Variant Methods::attribute(const std::string& name) {
  static const char* const readable[] = {"nome_utente",    "userid_utente", "tipo_praxi", "codice_regionale",
                                         "codice_fiscale", "nome",          "cognome",    "asl_di_convenzione"};
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

Variant Methods::get_opzione(const std::string& scope, const std::string& path) {
  Statement s(db_, "SELECT valore FROM opzioni WHERE ambito = ?1 AND percorso = ?2");
  sqlite3_bind_text(s.get(), 1, scope.c_str(), static_cast<int>(scope.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 2, path.c_str(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
  return Variant::make_text(s.step(db_) ? column_text(s.get(), 0) : std::string());
}

Variant Methods::sql_into(const std::string& database, const std::string& sql) {
  check_database(database);
  Statement s(db_, sql);
  return Variant::make_text(s.step(db_) && sqlite3_column_count(s.get()) > 0 ? column_text(s.get(), 0) : std::string());
}

Variant Methods::sql_dump_file(const std::string& database, const std::string& sql) {
  check_database(database);
  Statement s(db_, sql);
  // Every row is gathered before the file is made, and the whole text goes to the ANSI
  // code page in one conversion: a conversion costs more to begin than a row to convert,
  // and a query that fails half-way leaves no file behind.
  std::string rows;
  while (s.step(db_)) {
    append_row_line(s.get(), rows);
    rows += "\r\n";
  }
  const std::string bytes = platform::to_ansi(rows);
  std::error_code ec;
  std::string name;
  bool made_directory = false;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    name = dump_name_prefix_ + std::to_string(++dumps_made) + ".txt";
    switch (write_new_file(install_dir_ / platform::path_from_utf8(name), bytes)) {  // never reuses a name
      case NewFile::written:
        return Variant::make_text(name);
      case NewFile::name_taken:
        continue;
      case NewFile::not_written:
        throw CallError{"Errore di scrittura del file " + name};
      case NewFile::not_created:
        break;
    }
    // The directory is made when a file cannot be created, not looked for at every call.
    if (made_directory) break;
    made_directory = true;
    fs::create_directories(install_dir_ / "Temp", ec);
  }
  throw CallError{"Impossibile creare il file " +
                  platform::path_to_utf8(install_dir_ / platform::path_from_utf8(name))};
}

long call_number(const char* variable) {
  const char* text = std::getenv(variable);
  if (!text || !*text) return 0;
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  return *end == '\0' && n > 0 ? n : 0;
}

}  // namespace praxilo_server
