// floor-bench: the least time an extraction can take, its own queries run back to back.
//
//   floor-bench --db praxilo.db --log praxipat.log [--repeat N]
//
// Reads the SQL statements of a run from its operation log (a run made with the log
// switch on), then runs each of them on the database file in this one process, in the
// log's order, through the same dialect as the records server: every row of a dumped
// statement and the first value of a single-value one are fetched as text, as the server
// must fetch them. Nothing is sent between processes, written to files or converted.
// Prints one line of key=value figures: wall and processor time of the best of the repeats.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>
#include <fmt/core.h>

#include "platform/codepage.hpp"
#include "praxilo_db.hpp"

namespace {

struct Statement {
  bool all_rows = false;  ///< a dump (every row) rather than a single value
  std::string sql;
};

/// The statement traced on a log line, if the line traces a query. A trace reads
/// "ole_praxipat." + method + "(" + database + ", " + sql + ") = " + answer + ";".
bool traced_statement(std::string_view line, Statement& statement) {
  static constexpr std::string_view into = "ole_praxipat.sql_into(";
  static constexpr std::string_view dump = "ole_praxipat.sql_dump_file(";
  std::size_t start = line.find(into);
  statement.all_rows = start == std::string_view::npos;
  if (statement.all_rows) start = line.find(dump);
  if (start == std::string_view::npos) return false;
  line.remove_prefix(start + (statement.all_rows ? dump.size() : into.size()));
  const std::size_t comma = line.find(", ");
  const std::size_t end = line.rfind(") = ");
  if (comma == std::string_view::npos || end == std::string_view::npos || end < comma) return false;
  statement.sql = std::string(line.substr(comma + 2, end - comma - 2));
  return true;
}

struct Pass {
  double seconds = 0;
  double cpu_seconds = 0;
  long rows = 0;
  long failed = 0;
};

Pass run_all(sqlite3* db, const std::vector<Statement>& statements) {
  Pass pass;
  std::size_t bytes = 0;  // keeps the fetches from being optimised away
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpu_start = std::clock();
  for (const Statement& s : statements) {
    sqlite3_stmt* stmt = nullptr;
    if (!praxilo_db::prepare(db, s.sql, &stmt).empty()) {
      ++pass.failed;
      continue;
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      ++pass.rows;
      const int columns = s.all_rows ? sqlite3_column_count(stmt) : std::min(1, sqlite3_column_count(stmt));
      for (int i = 0; i < columns; ++i) {
        sqlite3_column_text(stmt, i);
        bytes += static_cast<std::size_t>(sqlite3_column_bytes(stmt, i));
      }
      if (!s.all_rows) break;
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) ++pass.failed;
    sqlite3_finalize(stmt);
  }
  pass.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  pass.cpu_seconds = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  if (bytes == static_cast<std::size_t>(-1)) fmt::print(stderr, "\n");
  return pass;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Runs the queries of a logged run directly on the database, to give the run's floor", "floor-bench"};
  std::string db_file, log_file;
  int repeat = 3;
  app.add_option("--db", db_file, "the records database")->required();
  app.add_option("--log", log_file, "the operation log of a run made with the log switch on")->required();
  app.add_option("--repeat", repeat, "passes; the best is reported")->check(CLI::PositiveNumber);
  CLI11_PARSE(app, argc, argv);

  std::ifstream in(log_file, std::ios::binary);
  if (!in) {
    fmt::print(stderr, "floor-bench: cannot read {}\n", log_file);
    return 1;
  }
  std::vector<Statement> statements;
  std::string line;
  while (std::getline(in, line)) {
    Statement statement;
    if (traced_statement(platform::from_ansi(line), statement)) statements.push_back(std::move(statement));
  }
  if (statements.empty()) {
    fmt::print(stderr, "floor-bench: no query traced in {} (was the log switch on?)\n", log_file);
    return 1;
  }

  std::string error;
  sqlite3* db = praxilo_db::open(db_file, false, error);
  if (!db) {
    fmt::print(stderr, "floor-bench: {}: {}\n", db_file, error);
    return 1;
  }
  Pass best;
  for (int i = 0; i < repeat; ++i) {
    const Pass pass = run_all(db, statements);
    if (i == 0 || pass.seconds < best.seconds) best = pass;
  }
  sqlite3_close(db);
  fmt::print("statements={} rows={} failed={} seconds={:.3f} cpu_seconds={:.3f}\n", statements.size(), best.rows,
             best.failed, best.seconds, best.cpu_seconds);
  return best.failed == 0 ? 0 : 2;
}
