// pivzona12-cli: signs the doctor in and runs one programme's extraction for a date
// range, without windows. Exit status: 0 report saved, 1 no patient extracted, 2 sign-in
// refused, 3 bad arguments or an output path that cannot hold a report, 4 the report
// could not be produced or saved (the records product could not be started, its
// installation was not found, or a call or its answer failed, a call past its time limit
// among them), 5 the report was saved but its page was not produced.
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

#include <CLI/CLI.hpp>
#include <fmt/core.h>

#include "app/login.hpp"
#include "cli_host.hpp"
#include "extract/run.hpp"
#include "platform/automation.hpp"
#include "platform/interrupt.hpp"
#include "platform/paths.hpp"
#include "platform/terminal.hpp"
#include "records/px_tools.hpp"
#include "tools/tools.hpp"
#include "xml/xmldoc.hpp"

namespace {

enum ExitStatus {
  exit_saved = 0,
  exit_no_patient = 1,
  exit_refused = 2,
  exit_usage = 3,
  exit_failed = 4,
  exit_page_failed = 5
};

int usage_error(const std::string& message) {
  fmt::print(stderr, "pivzona12-cli: {}\n", message);
  return exit_usage;
}

bool parse_date(const std::string& text, TDateTime& date) {
  date = tools::string2date(text, "yyyy-mm-dd");
  return date != 0;
}

/// Prints the paths of what was saved on standard output; false when they could not be
/// written there (a closed or full output), which the caller must not pass off as done.
bool print_paths(const std::string& paths) {
  bool written = false;
  try {
    fmt::print("{}", paths);
    written = std::fflush(stdout) == 0 && !std::ferror(stdout);
  } catch (const std::exception&) {
  }
  if (!written) fmt::print(stderr, "pivzona12-cli: impossibile scrivere i percorsi sullo standard output\n");
  return written;
}

/// A command-line error in Italian: what is missing, not allowed or not expected.
std::string parse_error_text(const CLI::App& app, const CLI::Error& error) {
  if (dynamic_cast<const CLI::RequiredError*>(&error)) {
    for (const CLI::Option* option : app.get_options())
      if (option->get_required() && option->count() == 0) return "manca l'opzione obbligatoria " + option->get_name();
  }
  if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
    std::string extras;
    for (const std::string& extra : app.remaining()) extras += (extras.empty() ? "" : " ") + extra;
    return "argomenti non previsti: " + extras;
  }
  if (dynamic_cast<const CLI::ValidationError*>(&error)) {
    for (const CLI::Option* option : app.get_options()) {
      if (option->count() == 0 || option->get_description().empty()) continue;
      const std::string& name = option->get_name();
      const std::string text = error.what();
      // The value as given: converting it would run the failed check again.
      const std::string value = option->results().empty() ? "" : option->results().front();
      if (text.rfind(name + ":", 0) == 0)
        return "valore non ammesso per " + name + ": '" + value + "' (ammessi: " + option->get_description() + ")";
    }
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
    const std::string text = error.what();
    return "manca il valore dell'opzione " + text.substr(0, text.find(':'));
  }
  return std::string("argomenti non validi (") + error.what() + ")";
}

/// CLI11's own texts in Italian: the help's labels, the help option, the errors.
void speak_italian(CLI::App& app) {
  const auto formatter = app.get_formatter();
  formatter->label("Usage", "Uso");
  formatter->label("OPTIONS", "OPZIONI");
  formatter->label("REQUIRED", "OBBLIGATORIA");
  formatter->label("Positionals", "Argomenti");
  app.option_defaults()->group("Opzioni");
  app.set_help_flag("-h,--help", "mostra questo aiuto ed esce");
  app.failure_message([](const CLI::App* failed, const CLI::Error& error) {
    std::string text;
    try {
      text = parse_error_text(*failed, error);
    } catch (const std::exception&) {
      text = std::string("argomenti non validi (") + error.what() + ")";
    }
    return text + "\nUsare --help per l'elenco delle opzioni.\n";
  });
}

}  // namespace

int main(int argc, char** argv) {
  // Ctrl-C or SIGTERM: the run's files go and the records product's server ends too.
  platform::install_interrupt_cleanup();
  // COM (on Windows) for the whole run: the session's server object lives inside it.
  const platform::AutomationScope automation;
  // The arguments as UTF-8, whatever the platform passes (a report path may hold letters
  // outside the ANSI code page).
  std::vector<std::string> arguments = platform::utf8_arguments(argc, argv);
  std::vector<char*> utf8_argv;
  for (std::string& a : arguments) utf8_argv.push_back(a.data());
  utf8_argv.push_back(nullptr);

  CLI::App app{"PIV ZONA12: estrazione di un programma dal gestionale Praxilo", "pivzona12-cli"};
  speak_italian(app);
  std::string programme_key, from_text, to_text, output, user_name;
  bool password_stdin = false;
  std::vector<std::string> keys;
  for (const Programme p : all_programmes()) keys.emplace_back(programme_info(p).key);
  std::string key_list;
  for (std::size_t i = 0; i < keys.size(); ++i)
    key_list += (i == 0 ? "" : i + 1 == keys.size() ? " o " : ", ") + keys[i];
  app.add_option("--programme", programme_key, key_list)
      ->required()
      ->check(CLI::IsMember(keys))
      ->type_name("PROGRAMMA");
  app.add_option("--from", from_text, "inizio del periodo, yyyy-mm-dd (predefinito: oggi meno 365 giorni)")
      ->type_name("DATA");
  app.add_option("--to", to_text, "fine del periodo, yyyy-mm-dd (predefinito: oggi)")->type_name("DATA");
  app.add_option("--output", output, "file XML del report")->required()->type_name("FILE");
  app.add_option("--user", user_name, "utente Praxilo (predefinito: l'ultimo utente)")->type_name("UTENTE");
  app.add_flag("--password-stdin", password_stdin, "legge la password dallo standard input");
  bool xml_only = false;
  app.add_flag("--xml-only", xml_only, "salva solo il report XML, senza produrre la pagina HTML");
  std::string timeout_text;
  app.add_option("--timeout", timeout_text,
                 "secondi di attesa di ogni risposta di Praxilo, da 1 a 86400 (predefinito: "
                 "PIVZONA12_CALL_TIMEOUT_S, altrimenti 120)")
      ->type_name("SECONDI");
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
  if (app.count("--from") > 0 && !parse_date(from_text, date_from))
    return usage_error("data non valida per --from: '" + from_text + "' (atteso yyyy-mm-dd)");
  if (app.count("--to") > 0 && !parse_date(to_text, date_to))
    return usage_error("data non valida per --to: '" + to_text + "' (atteso yyyy-mm-dd)");
  if (const std::string problem = date_range_problem(date_from, date_to, today); !problem.empty())
    return usage_error(problem);
  std::optional<std::chrono::seconds> time_limit;
  if (app.count("--timeout") > 0 && !(time_limit = platform::parse_call_time_limit(timeout_text)))
    return usage_error("valore non valido per --timeout: '" + timeout_text +
                       "' (atteso un numero intero di secondi da 1 a 86400)");

  std::error_code ec;
  const std::filesystem::path output_path = std::filesystem::absolute(platform::path_from_utf8(output), ec);
  if (ec || output_path.filename().empty()) return usage_error("percorso del report non valido: " + output);
  if (!std::filesystem::is_directory(output_path.parent_path(), ec))
    return usage_error("la cartella del report non esiste: " + platform::path_to_utf8(output_path.parent_path()));
  // Refused before anything is sent, and left as it is.
  if (const std::string problem = output_path_problem(platform::path_to_utf8(output_path)); !problem.empty())
    return usage_error(problem);

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
  // Without the installation nothing is made, and the records product is not asked.
  if (const std::string problem = installation_problem(); !problem.empty()) {
    host.message_box(problem, application_title, frontend::mb_ok | frontend::mb_iconerror);
    return exit_failed;
  }
  Tpx_wrap_praxipat session({}, host);
  if (time_limit) session.set_call_time_limit(*time_limit);
  std::unique_ptr<TUser> user = sign_in_attempt(user_name, password, session, host);
  // A server that could not be started is no refusal of the doctor.
  if (!user) return session.failed_with(SessionFailure::Kind::start_failed) ? exit_failed : exit_refused;

  platform::XmlDocument xml_doc;
  ExtractionContext context{session, *user, xml_doc, date_from, date_to, 0, host};
  RunState state;
  state.xml_only = xml_only;
  const RunResult result = run_extraction(programme, context, state);
  host.end_progress();

  switch (result.outcome) {
    case RunOutcome::saved:
      return print_paths(result.xml_path + "\n" + (result.html_path.empty() ? "" : result.html_path + "\n"))
                 ? exit_saved
                 : exit_failed;
    case RunOutcome::page_failed:
      return print_paths(result.xml_path + "\n") ? exit_page_failed : exit_failed;
    case RunOutcome::no_patient:
      return exit_no_patient;
    case RunOutcome::refused:
      return exit_usage;
    default:
      return exit_failed;
  }
}
