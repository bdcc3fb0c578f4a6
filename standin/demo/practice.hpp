#pragma once
// A synthetic general practice for the records database: users, options, patients and
// their clinical records over ten years, deterministic for a seed and a reference day.
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace praxilo_demo {

struct PracticeOptions {
  int patients = 2000;
  std::uint64_t seed = 1;
  std::chrono::sys_days today;  ///< the last day with records
};

/// Fills an empty records database (schema already created) in one transaction.
/// Returns "" on success, else the SQL error text.
std::string generate_practice(sqlite3* db, const PracticeOptions& options);

/// The Italian fiscal code of a person (16 characters, with its check letter).
std::string fiscal_code(const std::string& surname, const std::string& name, bool female,
                        std::chrono::year_month_day birth, const std::string& belfiore);

}  // namespace praxilo_demo
