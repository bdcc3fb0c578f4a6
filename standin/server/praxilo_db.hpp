#pragma once
// The records database of the stand-in server: its schema and the SQL dialect that the
// records product's queries are written in, shared by praxilo-server, praxilo-demo and
// the tests' fixture installations.
#include <sqlite3.h>

#include <string>
#include <string_view>

namespace praxilo_db {

/// Creates the records tables, the server's own tables (utenti, opzioni) and the indexes
/// of the per-patient queries. Text columns compare without regard to case (NOCASE:
/// trailing blanks stay significant); the password compares exactly. Dates are ISO text.
/// Returns "" on success, else SQLite's error text.
std::string create_schema(sqlite3* db);

/// Registers the dialect's functions on a connection: dateformat(value, pattern).
/// Returns "" on success, else SQLite's error text.
std::string register_dialect(sqlite3* db);

/// The result of rewriting a statement: the SQL to prepare, or an error text.
struct Rewritten {
  std::string sql;
  std::string error;  ///< not empty when the statement cannot be run
};

/// Rewrites the date literals cast('yyyy-mm-dd' as date) outside string literals into the
/// text 'yyyy-mm-dd' that the date columns hold. An impossible date is an error.
Rewritten rewrite_dialect(std::string_view sql);

/// Formats an ISO date ("yyyy-mm-dd" or "yyyy-mm-dd hh:mm:ss") with a pattern: yyyy, yy,
/// mm (month; minutes right after "hh:"), dd, hh, nn (minutes), ss, case-insensitive,
/// anything else copied. Returns false when the value is not such a date.
bool format_date(std::string_view iso, std::string_view pattern, std::string& out);

/// Prepares one statement of the dialect. A second statement after the first is an error.
/// Returns "" and sets *stmt on success, else the error text (and *stmt is null).
std::string prepare(sqlite3* db, std::string_view sql, sqlite3_stmt** stmt);

/// Runs a script of statements (with the dialect's date literals). "" on success.
std::string exec_script(sqlite3* db, std::string_view sql);

/// Opens (creating when create is true) a database file and registers the dialect.
/// Returns nullptr and sets error when it cannot be opened.
sqlite3* open(const std::string& path, bool create, std::string& error);

}  // namespace praxilo_db
