#include "praxilo_db.hpp"

#include <cctype>
#include <regex>

namespace praxilo_db {

namespace {

// Every text column is NOCASE: comparisons ignore the case of letters, and trailing
// blanks stay significant ('  ' > ' ', 'abc ' <> 'abc'). Dates are TEXT, never DATE,
// so that SQLite's NUMERIC affinity cannot turn a date into a number. Patient codes are
// INTEGER affinity without being the rowid, so that codes sent as '1234' still match.
constexpr const char* schema_sql = R"sql(
BEGIN;
CREATE TABLE IF NOT EXISTS PAZIENTI (
  CODICE INTEGER NOT NULL,
  COGNOME TEXT COLLATE NOCASE,
  NOME TEXT COLLATE NOCASE,
  SESSO TEXT COLLATE NOCASE,
  CODICE_FISCALE TEXT COLLATE NOCASE,
  nascita TEXT COLLATE NOCASE,
  codice_comune_nasc TEXT COLLATE NOCASE,
  DECESSO TEXT COLLATE NOCASE,
  PA_CONVENZIONE TEXT COLLATE NOCASE
);
CREATE UNIQUE INDEX IF NOT EXISTS pazienti_codice ON PAZIENTI (CODICE);
CREATE INDEX IF NOT EXISTS pazienti_nome ON PAZIENTI (COGNOME, NOME);

CREATE TABLE IF NOT EXISTS NOS_002 (
  CODICE INTEGER NOT NULL,
  pa_medi INTEGER,
  PA_DREVOCA TEXT COLLATE NOCASE
);
CREATE INDEX IF NOT EXISTS nos_002_codice ON NOS_002 (CODICE);
CREATE INDEX IF NOT EXISTS nos_002_medi ON NOS_002 (pa_medi);

CREATE TABLE IF NOT EXISTS CART_CONCESSIONI_PIP (
  CODICE INTEGER NOT NULL,
  incent_code TEXT COLLATE NOCASE
);
CREATE INDEX IF NOT EXISTS concessioni_codice ON CART_CONCESSIONI_PIP (CODICE, incent_code);

CREATE TABLE IF NOT EXISTS cart_accert (
  codice INTEGER NOT NULL,
  ac_code TEXT COLLATE NOCASE,
  ac_val TEXT COLLATE NOCASE,
  ac_mem TEXT COLLATE NOCASE,
  data_open TEXT COLLATE NOCASE,
  time_last TEXT COLLATE NOCASE
);
CREATE INDEX IF NOT EXISTS accert_codice ON cart_accert (codice, ac_code, data_open);
CREATE INDEX IF NOT EXISTS accert_time_last ON cart_accert (codice, ac_code, time_last);

CREATE TABLE IF NOT EXISTS cart_press (
  codice INTEGER NOT NULL,
  p_min TEXT COLLATE NOCASE,
  p_max TEXT COLLATE NOCASE,
  data_open TEXT COLLATE NOCASE
);
CREATE INDEX IF NOT EXISTS press_codice ON cart_press (codice, data_open);

CREATE TABLE IF NOT EXISTS cart_vaccini (
  codice INTEGER NOT NULL,
  va_tipo TEXT COLLATE NOCASE,
  va_code TEXT COLLATE NOCASE,
  va_data TEXT COLLATE NOCASE
);
CREATE INDEX IF NOT EXISTS vaccini_codice ON cart_vaccini (codice, va_data);

CREATE TABLE IF NOT EXISTS utenti (
  nome_utente TEXT COLLATE NOCASE NOT NULL,
  password TEXT COLLATE BINARY,
  userid_utente INTEGER,
  tipo_praxi TEXT COLLATE NOCASE,
  codice_regionale TEXT COLLATE NOCASE,
  codice_fiscale TEXT COLLATE NOCASE,
  nome TEXT COLLATE NOCASE,
  cognome TEXT COLLATE NOCASE,
  asl_di_convenzione TEXT COLLATE NOCASE
);
CREATE UNIQUE INDEX IF NOT EXISTS utenti_nome ON utenti (nome_utente);

CREATE TABLE IF NOT EXISTS opzioni (
  ambito TEXT COLLATE NOCASE NOT NULL,
  percorso TEXT COLLATE NOCASE NOT NULL,
  valore TEXT COLLATE NOCASE
);
CREATE UNIQUE INDEX IF NOT EXISTS opzioni_chiave ON opzioni (ambito, percorso);
COMMIT;
)sql";

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

int number(std::string_view s) {
  int n = 0;
  for (char c : s) n = n * 10 + (c - '0');
  return n;
}

bool valid_day(int year, int month, int day) {
  static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int last = days[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= last;
}

bool iequal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

bool starts_with_token(std::string_view pattern, std::size_t i, std::string_view token) {
  return i + token.size() <= pattern.size() && iequal(pattern.substr(i, token.size()), token);
}

bool identifier_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

void dateformat_function(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (argc != 2 || sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const auto* value = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const auto* pattern = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
  std::string out;
  if (!value || !pattern || !format_date(value, pattern, out)) {
    sqlite3_result_null(context);
    return;
  }
  sqlite3_result_text(context, out.c_str(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

}  // namespace

std::string create_schema(sqlite3* db) {
  std::string error = exec_script(db, schema_sql);
  if (!error.empty() && !sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return error;
}

std::string register_dialect(sqlite3* db) {
  const int rc = sqlite3_create_function_v2(db, "dateformat", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                            dateformat_function, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? std::string() : std::string(sqlite3_errmsg(db));
}

bool format_date(std::string_view iso, std::string_view pattern, std::string& out) {
  // yyyy-mm-dd, optionally followed by a blank (or T) and hh:mm:ss.
  if (iso.size() != 10 && iso.size() != 19) return false;
  const std::string_view y = iso.substr(0, 4), mo = iso.substr(5, 2), d = iso.substr(8, 2);
  if (iso[4] != '-' || iso[7] != '-' || !all_digits(y) || !all_digits(mo) || !all_digits(d)) return false;
  if (!valid_day(number(y), number(mo), number(d))) return false;
  std::string_view h = "00", mi = "00", s = "00";
  if (iso.size() == 19) {
    if ((iso[10] != ' ' && iso[10] != 'T') || iso[13] != ':' || iso[16] != ':') return false;
    h = iso.substr(11, 2);
    mi = iso.substr(14, 2);
    s = iso.substr(17, 2);
    if (!all_digits(h) || !all_digits(mi) || !all_digits(s) || number(h) > 23 || number(mi) > 59 || number(s) > 59)
      return false;
  }
  out.clear();
  std::size_t i = 0;
  while (i < pattern.size()) {
    if (starts_with_token(pattern, i, "yyyy")) {
      out += y;
      i += 4;
    } else if (starts_with_token(pattern, i, "yy")) {
      out += y.substr(2);
      i += 2;
    } else if (starts_with_token(pattern, i, "mm")) {
      const bool after_hour = i >= 3 && starts_with_token(pattern, i - 3, "hh:");
      out += after_hour ? mi : mo;
      i += 2;
    } else if (starts_with_token(pattern, i, "dd")) {
      out += d;
      i += 2;
    } else if (starts_with_token(pattern, i, "hh")) {
      out += h;
      i += 2;
    } else if (starts_with_token(pattern, i, "nn")) {
      out += mi;
      i += 2;
    } else if (starts_with_token(pattern, i, "ss")) {
      out += s;
      i += 2;
    } else {
      out += pattern[i];
      ++i;
    }
  }
  return true;
}

Rewritten rewrite_dialect(std::string_view sql) {
  static const std::regex date_cast(R"(cast\s*\(\s*'([^']*)'\s+as\s+date\s*\))", std::regex::icase);
  Rewritten result;
  std::string& out = result.sql;
  out.reserve(sql.size());
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    // String literals, quoted names and comments are copied untouched.
    if (c == '\'' || c == '"') {
      std::size_t j = i + 1;
      while (j < sql.size()) {
        if (sql[j] == c) {
          if (j + 1 < sql.size() && sql[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      const std::size_t end = j < sql.size() ? j + 1 : sql.size();
      out.append(sql.substr(i, end - i));
      i = end;
      continue;
    }
    if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      const std::size_t nl = sql.find('\n', i);
      const std::size_t end = nl == std::string_view::npos ? sql.size() : nl;
      out.append(sql.substr(i, end - i));
      i = end;
      continue;
    }
    if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      const std::size_t close = sql.find("*/", i + 2);
      const std::size_t end = close == std::string_view::npos ? sql.size() : close + 2;
      out.append(sql.substr(i, end - i));
      i = end;
      continue;
    }
    if ((c == 'c' || c == 'C') && (i == 0 || !identifier_char(sql[i - 1])) && starts_with_token(sql, i, "cast")) {
      std::match_results<std::string_view::const_iterator> m;
      if (std::regex_search(sql.begin() + static_cast<std::ptrdiff_t>(i), sql.end(), m, date_cast,
                            std::regex_constants::match_continuous)) {
        const std::string date = m[1].str();
        std::string checked;
        if (!format_date(date, "yyyy-mm-dd", checked) || checked != date) {
          result.error = "Data non valida: " + m[0].str();
          result.sql.clear();
          return result;
        }
        out += '\'';
        out += date;
        out += '\'';
        i += static_cast<std::size_t>(m[0].length());
        continue;
      }
    }
    out += c;
    ++i;
  }
  return result;
}

std::string prepare(sqlite3* db, std::string_view sql, sqlite3_stmt** stmt) {
  *stmt = nullptr;
  const Rewritten rewritten = rewrite_dialect(sql);
  if (!rewritten.error.empty()) return rewritten.error;
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db, rewritten.sql.c_str(), static_cast<int>(rewritten.sql.size()), stmt, &tail) != SQLITE_OK) {
    std::string error = sqlite3_errmsg(db);
    sqlite3_finalize(*stmt);
    *stmt = nullptr;
    return error;
  }
  if (!*stmt) return "Istruzione SQL vuota";
  for (const char* p = tail; p && *p; ++p) {
    if (!std::isspace(static_cast<unsigned char>(*p)) && *p != ';') {
      sqlite3_finalize(*stmt);
      *stmt = nullptr;
      return "Una sola istruzione SQL per chiamata";
    }
  }
  return {};
}

std::string exec_script(sqlite3* db, std::string_view sql) {
  const Rewritten rewritten = rewrite_dialect(sql);
  if (!rewritten.error.empty()) return rewritten.error;
  char* message = nullptr;
  if (sqlite3_exec(db, rewritten.sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string error = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return error;
  }
  return {};
}

sqlite3* open(const std::string& path, bool create, std::string& error) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    error = db ? sqlite3_errmsg(db) : "impossibile aprire il database";
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 5000);
  error = register_dialect(db);
  if (!error.empty()) {
    sqlite3_close(db);
    return nullptr;
  }
  return db;
}

}  // namespace praxilo_db
