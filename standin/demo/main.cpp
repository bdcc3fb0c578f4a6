// praxilo-demo: makes a directory an installation of the records product with a
// synthetic practice.
//
//   praxilo-demo --dir DIR [--patients N] [--seed S] [--today yyyy-mm-dd] [--xsl-dir XSL]
//   praxilo-demo --unregister
//
// DIR receives praxilo.db, the logging library (praxiapi.so or praxiapi.dll, from beside
// this program), the stylesheets and registry.reg, and "Praxilo.Server" is made to start
// the server beside this program on that database (on Windows: registered in the system
// registry). The program prints the line that makes the registry file the one read.
// --unregister removes the system's registration of the class.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "install.hpp"
#include "platform/paths.hpp"
#include "practice.hpp"
#include "praxilo_db.hpp"
#include "praxilo_install.hpp"
#include "protocol/automation_protocol.hpp"

namespace fs = std::filesystem;

namespace {

// Copies a file over an existing one through a temporary name and a rename: mingw's
// library fails to copy over an existing file, a rename over one works everywhere.
bool copy_over(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::path temporary = to;
  temporary += ".new";
  fs::remove(temporary, ec);
  fs::copy_file(from, temporary, ec);
  if (!ec) fs::rename(temporary, to, ec);
  if (ec) {
    fs::remove(temporary, ec);
    std::cerr << "praxilo-demo: " << platform::path_to_utf8(from) << ": " << ec.message() << "\n";
    return false;
  }
  return true;
}

std::optional<std::chrono::sys_days> parse_day(const std::string& text) {
  std::string checked;
  if (!praxilo_db::format_date(text, "yyyy-mm-dd", checked) || checked != text) return std::nullopt;
  using namespace std::chrono;
  return sys_days{year{std::stoi(text.substr(0, 4))} / std::stoi(text.substr(5, 2)) / std::stoi(text.substr(8, 2))};
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Makes DIR an installation of the records product with a synthetic practice"};
  std::string dir_text;
  int patients = 2000;
  std::uint64_t seed = 1;
  std::string today_text;
  std::string xsl_dir = PRAXILO_DEMO_XSL_DIR;
  bool unregister = false;
  app.add_option("--dir", dir_text, "installation directory (created when missing)");
  app.add_option("--patients", patients, "number of patients")->check(CLI::NonNegativeNumber);
  app.add_option("--seed", seed, "seed of the synthetic practice");
  app.add_option("--today", today_text, "last day with records, yyyy-mm-dd (default: today)");
  app.add_option("--xsl-dir", xsl_dir, "directory of the stylesheets to copy");
  app.add_flag("--unregister", unregister, "remove the system's registration of Praxilo.Server and stop");
  try {
    std::vector<std::string> args = praxilo_demo::arguments(argc, argv);
    std::reverse(args.begin(), args.end());  // the order CLI11 takes them in
    app.parse(args);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  if (unregister) {
    if (const std::string error = praxilo_demo::unregister_server(); !error.empty()) {
      std::cerr << "praxilo-demo: " << error << "\n";
      return 1;
    }
    return 0;
  }
  if (dir_text.empty()) {
    std::cerr << "praxilo-demo: --dir is required\n";
    return 2;
  }

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
  const fs::path dir = fs::absolute(platform::path_from_utf8(dir_text), ec).lexically_normal();
  fs::path clean = dir;
  if (!clean.has_filename()) clean = clean.parent_path();  // no trailing separator
  fs::create_directories(clean, ec);
  if (!fs::is_directory(clean)) {
    std::cerr << "praxilo-demo: impossibile creare la cartella " << platform::path_to_utf8(clean) << "\n";
    return 1;
  }

  const fs::path db_file = clean / "praxilo.db";
  fs::remove(db_file, ec);
  std::string error;
  sqlite3* db = praxilo_db::open(platform::path_to_utf8(db_file), true, error);
  if (db) {
    error = praxilo_db::create_schema(db);
    if (error.empty()) error = praxilo_demo::generate_practice(db, options);
    sqlite3_close(db);
  }
  if (!error.empty()) {
    std::cerr << "praxilo-demo: " << platform::path_to_utf8(db_file) << ": " << error << "\n";
    return 1;
  }

  const fs::path bin = praxilo_db::program_directory();
  if (!copy_over(bin / praxilo_db::library_file, clean / praxilo_db::library_file)) return 1;
  const fs::path xsl = platform::path_from_utf8(xsl_dir);
  if (fs::is_directory(xsl)) {
    for (const fs::directory_entry& entry : fs::directory_iterator(xsl, ec)) {
      // The stylesheets and the table of plausible ranges that they read.
      if (entry.path().extension() != ".xsl" && entry.path().filename() != "intervalli_plausibili.xml") continue;
      if (!copy_over(entry.path(), clean / entry.path().filename())) return 1;
    }
  } else {
    std::cerr << "praxilo-demo: cartella dei fogli di stile assente: " << xsl_dir << "\n";
  }

  praxilo_db::RegistrySettings settings;
  settings.app_path = platform::path_to_utf8(clean) + ";" + platform::path_to_utf8(clean / "bin") + ";";
  settings.server_command = platform::protocol::join_command_line(
      {platform::path_to_utf8(bin / praxilo_db::server_file), platform::path_to_utf8(db_file)});
  settings.last_user = "demo";
  const fs::path registry = clean / "registry.reg";
  {
    std::ofstream out(registry, std::ios::binary | std::ios::trunc);
    out << praxilo_db::registry_text(settings);
    if (!out.flush()) {
      std::cerr << "praxilo-demo: impossibile scrivere " << platform::path_to_utf8(registry) << "\n";
      return 1;
    }
  }
  if (const std::string error = praxilo_demo::register_server(settings.server_command); !error.empty()) {
    std::cerr << "praxilo-demo: Praxilo.Server: " << error << "\n";
    return 1;
  }
  std::cout << praxilo_demo::registry_line(registry) << "\n";
  return 0;
}
