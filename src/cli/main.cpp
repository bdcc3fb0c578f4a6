// pivzona12-cli: signs the doctor in and runs one programme's extraction for a date
// range, without windows. Exit status: 0 report saved, 1 no patient extracted, 2 sign-in
// refused, 3 bad arguments (a password longer than 4096 bytes included) or an output path
// that cannot hold a report, 4 the report could not be produced or saved (the records
// product could not be started, its installation was not found, or a call or its answer
// failed, a call past its time limit among them), 5 the report was saved but its page was
// not produced.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <vector>

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

/// The longest password taken, in bytes: far beyond any the records product accepts, and
/// small enough that what is read for it stays small.
constexpr std::size_t max_password_size = 4096;

/// One line of in without its line end (LF or CR LF), read a byte at a time: reading stops
/// once the line is longer than max_size, and what comes back is then that long.
std::string read_bounded_line(std::istream& in, std::size_t max_size) {
  std::string line;
  char c = 0;
  // One byte more than the limit may be the CR before the line end.
  while (line.size() <= max_size + 1 && in.get(c) && c != '\n') line += c;
  if (!line.empty() && line.back() == '\r' && line.size() <= max_size + 1) line.pop_back();
  return line;
}

int usage_error(const std::string& message) {
  write_to_stderr("pivzona12-cli: " + message + "\n");
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
  if (!written) write_to_stderr("pivzona12-cli: impossibile scrivere i percorsi sullo standard output\n");
  return written;
}

/// Edits (a letter added, dropped, changed, or two neighbours swapped) from a to b.
std::size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

/// The option that a mistyped one most likely meant: the nearest within one edit for a
/// name of up to four letters, two for a longer one (dashes aside, so that "-output"
/// finds --output), else the only one it begins; "" when none.
std::string meant_option(const CLI::App& app, const std::string& typed) {
  const std::size_t letters = typed.find_first_not_of('-');
  if (letters == std::string::npos) return {};
  const std::string bare = typed.substr(letters);
  std::string best, prefixed;
  std::size_t best_distance = 3, prefixes = 0;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& name : option->get_lnames()) {
      const std::size_t distance = edit_distance(bare, name);
      if (distance <= (name.size() <= 4 ? 1u : 2u) && distance < best_distance) {
        best_distance = distance;
        best = "--" + name;
      }
      if (name.rfind(bare, 0) == 0) {
        ++prefixes;
        prefixed = "--" + name;
      }
    }
  }
  if (!best.empty()) return best;
  return prefixes == 1 ? prefixed : "";
}

/// What the command line holds that is no option of the program: each such option
/// named (with the one meant, when one is near), one a line; "" when there is none. An
/// unknown option is said before a missing one, since the missing one is often the
/// option the user misspelt.
std::string unknown_options_text(const CLI::App& app) {
  std::string text;
  for (const std::string& extra : app.remaining()) {
    if (extra.size() < 2 || extra[0] != '-' || extra == "--") continue;
    const std::string name = extra.substr(0, extra.find('='));
    const std::string meant = meant_option(app, name);
    text += (text.empty() ? "" : "\n") + ("l'opzione " + name + " non esiste") +
            (meant.empty() ? "" : "; forse " + meant + "?");
  }
  return text;
}

/// A command-line error in Italian: what is missing, not allowed or not expected.
std::string parse_error_text(const CLI::App& app, const CLI::Error& error) {
  // Both are raised once the whole command line has been read, which is when what it
  // holds beyond the options is known.
  if (dynamic_cast<const CLI::RequiredError*>(&error) || dynamic_cast<const CLI::ExtrasError*>(&error)) {
    if (const std::string unknown = unknown_options_text(app); !unknown.empty()) return unknown;
  }
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
  // Before any file is opened: a closed standard stream must not pass its number to one.
  if (!platform::keep_standard_streams_apart()) return exit_failed;
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
    password = read_bounded_line(std::cin, max_password_size);
  } else if (const char* env = std::getenv("PIVZONA12_PASSWORD")) {
    password = env;
  } else if (auto typed = platform::read_password_from_terminal("Password di " + user_name + ": ", max_password_size)) {
    password = *typed;
  } else {
    return usage_error("nessuna password: usare --password-stdin o PIVZONA12_PASSWORD");
  }
  // Refused before anything is sent: no password is that long.
  if (password.size() > max_password_size)
    return usage_error("password troppo lunga: al massimo " + std::to_string(max_password_size) + " byte");

  CliHost host(platform::path_to_utf8(output_path), platform::stderr_is_terminal());
  // Without the installation nothing is made, and the records product is not asked.
  if (const std::string problem = installation_problem(); !problem.empty()) {
    host.message_box(problem, application_title, frontend::mb_ok | frontend::mb_iconerror);
    return exit_failed;
  }
  Tpx_wrap_praxipat session({}, host);
  if (time_limit) session.set_call_time_limit(*time_limit);
  std::unique_ptr<TUser> user = sign_in_attempt(user_name, password, session, host);
  // A server that could not be started, or a call of the sign-in that failed or found no
  // answer in time, is no refusal of the doctor.
  if (!user) return session.failure() ? exit_failed : exit_refused;

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
