// praxilo-demo: makes a directory an installation of the records product with a
// synthetic practice.
//
//   praxilo-demo --dir DIR [--patients N] [--seed S] [--today yyyy-mm-dd] [--xsl-dir XSL]
//
// DIR receives praxilo.db, praxiapi.so (from beside this program), the stylesheets and
// registry.reg; the program prints the line that makes the registry file the one read.
#include <chrono>
#include <cstdio>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "platform/automation_protocol.hpp"
#include "practice.hpp"
#include "praxilo_db.hpp"
#include "praxilo_install.hpp"

namespace fs = std::filesystem;

namespace {

// The directory of this program, where praxilo-server and praxiapi.so are built.
fs::path program_directory(const char* argv0) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self = fs::absolute(argv0, ec);
  return self.parent_path();
}

std::optional<std::chrono::sys_days> parse_day(const std::string& text) {
  std::string checked;
  if (!praxilo_db::format_date(text, "yyyy-mm-dd", checked) || checked != text) return std::nullopt;
  using namespace std::chrono;
  return sys_days{year{std::stoi(text.substr(0, 4))} / std::stoi(text.substr(5, 2)) / std::stoi(text.substr(8, 2))};
}

// A path as a shell word: as it is when it holds only safe characters, else in single quotes.
std::string shell_word(const std::string& text) {
  bool safe = !text.empty();
  for (char c : text)
    safe = safe && (std::isalnum(static_cast<unsigned char>(c)) || std::string_view("/._-+,:@%").find(c) != std::string_view::npos);
  if (safe) return text;
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Makes DIR an installation of the records product with a synthetic practice"};
  std::string dir_text;
  int patients = 2000;
  std::uint64_t seed = 1;
  std::string today_text;
  std::string xsl_dir = PRAXILO_DEMO_XSL_DIR;
  app.add_option("--dir", dir_text, "installation directory (created when missing)")->required();
  app.add_option("--patients", patients, "number of patients")->check(CLI::NonNegativeNumber);
  app.add_option("--seed", seed, "seed of the synthetic practice");
  app.add_option("--today", today_text, "last day with records, yyyy-mm-dd (default: today)");
  app.add_option("--xsl-dir", xsl_dir, "directory of the stylesheets to copy");
  CLI11_PARSE(app, argc, argv);

  praxilo_demo::PracticeOptions options;
  options.patients = patients;
  options.seed = seed;
  if (today_text.empty()) {
    options.today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  } else if (const auto day = parse_day(today_text)) {
    options.today = *day;
  } else {
    std::cerr << "praxilo-demo: --today: data non valida: " << today_text << "\n";
    return 2;
  }

  std::error_code ec;
  const fs::path dir = fs::absolute(dir_text, ec).lexically_normal();
  fs::path clean = dir;
  if (!clean.has_filename()) clean = clean.parent_path();  // no trailing separator
  fs::create_directories(clean, ec);
  if (!fs::is_directory(clean)) {
    std::cerr << "praxilo-demo: impossibile creare la cartella " << clean.string() << "\n";
    return 1;
  }

  const fs::path db_file = clean / "praxilo.db";
  fs::remove(db_file, ec);
  std::string error;
  sqlite3* db = praxilo_db::open(db_file.string(), true, error);
  if (db) {
    error = praxilo_db::create_schema(db);
    if (error.empty()) error = praxilo_demo::generate_practice(db, options);
    sqlite3_close(db);
  }
  if (!error.empty()) {
    std::cerr << "praxilo-demo: " << db_file.string() << ": " << error << "\n";
    return 1;
  }

  const fs::path bin = program_directory(argv[0]);
  fs::copy_file(bin / "praxiapi.so", clean / "praxiapi.so", fs::copy_options::overwrite_existing, ec);
  if (ec) {
    std::cerr << "praxilo-demo: praxiapi.so: " << ec.message() << "\n";
    return 1;
  }
  if (fs::is_directory(xsl_dir)) {
    for (const fs::directory_entry& entry : fs::directory_iterator(xsl_dir, ec)) {
      if (entry.path().extension() != ".xsl") continue;
      fs::copy_file(entry.path(), clean / entry.path().filename(), fs::copy_options::overwrite_existing, ec);
      if (ec) {
        std::cerr << "praxilo-demo: " << entry.path().string() << ": " << ec.message() << "\n";
        return 1;
      }
    }
  } else {
    std::cerr << "praxilo-demo: cartella dei fogli di stile assente: " << xsl_dir << "\n";
  }

  praxilo_db::RegistrySettings settings;
  settings.app_path = clean.string() + ";" + (clean / "bin").string() + ";";
  settings.server_command = platform::protocol::join_command_line({(bin / "praxilo-server").string(), db_file.string()});
  settings.last_user = "demo";
  const fs::path registry = clean / "registry.reg";
  {
    std::ofstream out(registry, std::ios::binary | std::ios::trunc);
    out << praxilo_db::registry_text(settings);
    if (!out.flush()) {
      std::cerr << "praxilo-demo: impossibile scrivere " << registry.string() << "\n";
      return 1;
    }
  }
  std::cout << "export PIVZONA12_REGISTRY=" << shell_word(registry.string()) << "\n";
  return 0;
}
