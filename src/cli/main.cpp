// pivzona12-cli: signs the doctor in and runs one programme's extraction for a date
// range, without windows. Exit status: 0 report saved, 1 no patient extracted, 2 sign-in
// refused, 3 bad arguments, 4 the report could not be produced or saved.
#include <CLI/CLI.hpp>
#include <fmt/core.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "app/login.hpp"
#include "cli_host.hpp"
#include "extract/run.hpp"
#include "platform/automation.hpp"
#include "platform/paths.hpp"
#include "platform/terminal.hpp"
#include "platform/xmldoc.hpp"
#include "records/px_tools.hpp"
#include "tools/tools.hpp"

namespace {

enum ExitStatus { exit_saved = 0, exit_no_patient = 1, exit_refused = 2, exit_usage = 3, exit_failed = 4 };

int usage_error(const std::string& message) {
  fmt::print(stderr, "pivzona12-cli: {}\n", message);
  return exit_usage;
}

bool parse_date(const std::string& text, TDateTime& date) {
  date = tools::string2date(text, "yyyy-mm-dd");
  return date != 0;
}

}  // namespace

int main(int argc, char** argv) {
  // COM (on Windows) for the whole run: the session's server object lives inside it.
  const platform::AutomationScope automation;
  // The arguments as UTF-8, whatever the platform passes (a report path may hold letters
  // outside the ANSI code page).
  std::vector<std::string> arguments = platform::utf8_arguments(argc, argv);
  std::vector<char*> utf8_argv;
  for (std::string& a : arguments) utf8_argv.push_back(a.data());
  utf8_argv.push_back(nullptr);

  CLI::App app{"PIV ZONA12: estrazione di un programma dal gestionale Praxilo", "pivzona12-cli"};
  std::string programme_key, from_text, to_text, output, user_name;
  bool password_stdin = false;
  app.add_option("--programme", programme_key, "diabete, tao o vaccinazioni")
      ->required()
      ->check(CLI::IsMember({"diabete", "tao", "vaccinazioni"}));
  app.add_option("--from", from_text, "inizio del periodo, yyyy-mm-dd (predefinito: oggi meno 365 giorni)");
  app.add_option("--to", to_text, "fine del periodo, yyyy-mm-dd (predefinito: oggi)");
  app.add_option("--output", output, "file XML del report")->required();
  app.add_option("--user", user_name, "utente Praxilo (predefinito: l'ultimo utente)");
  app.add_flag("--password-stdin", password_stdin, "legge la password dallo standard input");
  try {
    app.parse(static_cast<int>(arguments.size()), utf8_argv.data());
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return exit_usage;
  }

  Programme programme{};
  programme_from_key(programme_key, programme);

  const TDateTime today = std::floor(tools::now());
  TDateTime date_from = today - 365, date_to = today;
  if (!from_text.empty() && !parse_date(from_text, date_from))
    return usage_error("data non valida per --from: " + from_text + " (atteso yyyy-mm-dd)");
  if (!to_text.empty() && !parse_date(to_text, date_to))
    return usage_error("data non valida per --to: " + to_text + " (atteso yyyy-mm-dd)");

  std::error_code ec;
  const std::filesystem::path output_path = std::filesystem::absolute(platform::path_from_utf8(output), ec);
  if (ec || output_path.filename().empty())
    return usage_error("percorso del report non valido: " + output);
  if (!std::filesystem::is_directory(output_path.parent_path(), ec))
    return usage_error("la cartella del report non esiste: " + platform::path_to_utf8(output_path.parent_path()));
  if (std::filesystem::is_directory(output_path, ec))
    return usage_error("il percorso del report è una cartella: " + platform::path_to_utf8(output_path));

  if (user_name.empty()) user_name = last_user_name();

  std::string password;
  if (password_stdin) {
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
  } else if (const char* env = std::getenv("PIVZONA12_PASSWORD")) {
    password = env;
  } else if (auto typed = platform::read_password_from_terminal("Password di " + user_name + ": ")) {
    password = *typed;
  } else {
    return usage_error("nessuna password: usare --password-stdin o PIVZONA12_PASSWORD");
  }

  CliHost host(platform::path_to_utf8(output_path), platform::stderr_is_terminal());
  platform::set_current_host(&host);

  Tpx_wrap_praxipat session;
  std::unique_ptr<TUser> user = sign_in_attempt(user_name, password, session, host);
  if (!user) return exit_refused;

  platform::XmlDocument xml_doc;
  ExtractionContext context{session, *user, xml_doc, date_from, date_to, 0, host};
  RunState state;
  const RunResult result = run_extraction(programme, context, state);
  host.end_progress();
  platform::set_current_host(nullptr);

  switch (result.outcome) {
    case RunOutcome::saved:
      fmt::print("{}\n{}\n", result.xml_path, result.html_path);
      return exit_saved;
    case RunOutcome::no_patient:
      return exit_no_patient;
    default:
      return exit_failed;
  }
}
