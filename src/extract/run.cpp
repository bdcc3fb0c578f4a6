#include "extract/run.hpp"

#include <cmath>
#include <exception>

#include "extract/builders.hpp"
#include "platform/files.hpp"
#include "platform/paths.hpp"
#include "records/px_tools.hpp"
#include "render/render.hpp"
#include "tools/tools.hpp"

namespace {

const std::string dialog_filter = "File XML|*.xml";
const std::string dialog_title = "Report";
const std::string session_lost_text =
    "La connessione con Praxilo si è interrotta e non è stato possibile ripristinarla.\r\n"
    "Il report non è stato salvato: ripetere l'estrazione.";

RunResult stopped() {
  RunResult result;
  result.outcome = RunOutcome::stopped;
  return result;
}

// The directory a save dialog opens in: the installation directory for the programmes
// that keep their reports there, else the process's current directory.
std::string dialog_directory(const ProgrammeInfo& programme) {
  if (programme.dialog_starts_in_appl_directory) return px_tools::appl_directory();
  return std::string(".") + platform::path_separator;
}

// The address of a file for the report view: "file:///" and the path as a URL path.
// An absolute POSIX path already starts with "/", which the scheme's third slash stands for.
std::string file_url(const std::string& path) {
  std::string url_path = path_to_url(path);
  if (!url_path.empty() && url_path.front() == '/') url_path.erase(0, 1);
  return "file:///" + url_path;
}

// What the page states beside the report: the period and the doctor. The report's own
// format has no place for them, so they go to the stylesheet as parameters (dates as
// yyyymmdd, as the report writes its dates).
platform::XsltParameters page_parameters(const ExtractionContext& context) {
  const TUser& user = context.user;
  return {{"dal", tools::date2string(context.date_from, "yyyymmdd")},
          {"al", tools::date2string(context.date_to, "yyyymmdd")},
          {"nominativo", user.get_nome() + " " + user.get_cognome()},
          {"asl", user.get_asl_di_convenzione()}};
}

RunResult fail(RunOutcome outcome, const ProgrammeInfo& programme, const std::string& message, frontend::Host& host) {
  tools::message_box(message, programme.message_caption, frontend::mb_ok | frontend::mb_iconerror, host);
  RunResult result;
  result.outcome = outcome;
  result.message = message;
  return result;
}

}  // namespace

std::string selection_statement(const ProgrammeInfo& programme, TDateTime date_from, TDateTime date_to,
                                const std::string& userid_utente) {
  const std::string start = sql_date_expression(date_from);
  std::string sql =
      "SELECT P.CODICE, P.COGNOME, P.NOME, P.SESSO, P.CODICE_FISCALE, dateformat(P.nascita, 'yyyymmdd'),"
      " P.codice_comune_nasc";
  if (programme.incent_code) {
    sql += std::string(" from PAZIENTI P, NOS_002 N, CART_CONCESSIONI_PIP C") + " where P.CODICE = N.CODICE and" +
           " C.CODICE = P.CODICE and" + " C.incent_code = '" + programme.incent_code + "' and" +
           " (N.PA_DREVOCA is null or N.PA_DREVOCA > " + start + ") and" + " (P.DECESSO is null or P.DECESSO > " +
           start + ") and";
  } else {
    sql += std::string(" from PAZIENTI P, NOS_002 N") + " where P.CODICE = N.CODICE and" +
           " EXISTS (SELECT 1 FROM cart_vaccini C WHERE C.CODICE = P.CODICE and (va_data >= " + start +
           " and va_data <= " + sql_date_expression(date_to) +
           ") and C.va_code IN ( '0005','IADV','IDRM','ISPL','ISUB','IVRS') )  and";
  }
  // A quote inside the user id is doubled, so that it cannot end the literal early.
  std::string userid;
  for (char c : userid_utente) {
    userid += c;
    if (c == '\'') userid += '\'';
  }
  sql += std::string(" P.PA_CONVENZIONE = 'S' and") + " n.pa_medi = '" + userid + "'" + " order by P.COGNOME, P.NOME";
  return sql;
}

std::string output_path_problem(const std::string& path) {
  switch (platform::file_kind(path)) {
    case platform::FileKind::missing:
    case platform::FileKind::regular:
      return {};
    case platform::FileKind::directory:
      return "Impossibile salvare il report in " + path + ": è una cartella.";
    case platform::FileKind::other:
      break;
  }
  return "Impossibile salvare il report in " + path + ": non è un file.";
}

std::string date_range_problem(TDateTime date_from, TDateTime date_to, TDateTime today) {
  if (std::floor(date_from) > std::floor(date_to)) return "La data iniziale (Dal) è successiva alla data finale (Al).";
  if (std::floor(date_from) > std::floor(today)) return "La data iniziale (Dal) è successiva alla data odierna.";
  return {};
}

std::string installation_problem() {
  if (px_tools::installation_found()) return {};
  return "Installazione di Praxilo non trovata.";
}

RunResult run_extraction(Programme id, ExtractionContext& context, RunState& state) {
  const ProgrammeInfo& programme = programme_info(id);
  frontend::Host& host = context.host;

  // Without an installation nothing can be read or written where it belongs.
  if (const std::string problem = installation_problem(); !problem.empty())
    return fail(RunOutcome::failed, programme, problem, host);
  if (const std::string problem = date_range_problem(context.date_from, context.date_to, tools::now());
      !problem.empty())
    return fail(RunOutcome::refused, programme, problem, host);

  std::string file_name = programme.default_file_name;
  const std::string directory = dialog_directory(programme);
  if (!ask_file_name(host, state.owner, nullptr, dialog_filter, &directory, &dialog_title, file_name, false)) return {};
  // A device, a FIFO, a socket or a directory is left as it is.
  if (const std::string problem = output_path_problem(file_name); !problem.empty())
    return fail(RunOutcome::refused, programme, problem, host);
  host.progress(0, 0);  // the run has started; the number of patients is not known yet

  // The report is written to its file as it is built, each patient once finished, so that
  // it is never held whole; the file replaces any earlier one only once the report is
  // complete. Whatever ends the run before then drops what was written.
  platform::XmlDocument& report = context.xml_doc;
  struct DropUnfinished {
    platform::XmlDocument& report;
    ~DropUnfinished() { report.abandon_save(); }
  } drop_unfinished{report};
  report.activate();
  report.set_declaration("1.0", "UTF-8", true);
  try {
    report.begin_save(file_name);
  } catch (const std::exception& error) {
    return fail(RunOutcome::save_failed, programme, std::string("Impossibile salvare il report: ") + error.what(),
                host);
  }

  const std::string sql =
      selection_statement(programme, context.date_from, context.date_to, context.user.get_userid_utente());
  context.patient_count = 0;
  context.session.clear_failure();
  try {
    build_document(programme, sql, context);
  } catch (const std::exception& error) {
    // A failed call or file: what was built is short, so nothing is saved. A call the
    // user's stop cut short ends the run as the stop does.
    if (host.cancel_requested()) return stopped();
    if (context.session.failed_with(SessionFailure::Kind::session_lost))
      return fail(RunOutcome::session_lost, programme, session_lost_text, host);
    return fail(RunOutcome::failed, programme, std::string("Estrazione interrotta: ") + error.what(), host);
  }

  if (host.cancel_requested()) return stopped();

  if (context.session.failed_with(SessionFailure::Kind::session_lost))
    return fail(RunOutcome::session_lost, programme, session_lost_text, host);

  if (context.patient_count <= 0) {
    tools::message_box(programme.no_patient_text, programme.message_caption,
                       frontend::mb_ok | frontend::mb_iconinformation, host);
    RunResult result;
    result.outcome = RunOutcome::no_patient;
    return result;
  }

  try {
    report.end_save();
  } catch (const std::exception& error) {
    return fail(RunOutcome::save_failed, programme, std::string("Impossibile salvare il report: ") + error.what(),
                host);
  }

  // The page is made from the saved file: the report's tree is not kept while it is built.
  report.deactivate();

  const std::string appl = px_tools::appl_directory();
  RunResult result;
  result.xml_path = file_name;
  result.patient_count = context.patient_count;
  if (state.xml_only) {
    result.outcome = RunOutcome::saved;
    return result;
  }
  std::string reason;
  const std::string html_path = appl + report_page_name;
  const std::string conversion =
      tools::xml2html(appl + programme.stylesheet, file_name, html_path, page_parameters(context), &reason);
  if (!conversion.empty()) {
    // Whatever page the view shows is not this report's.
    host.set_report_visible(false);
    result.outcome = RunOutcome::page_failed;
    result.message = "Il report è stato salvato in " + file_name +
                     ", ma la pagina non è stata prodotta: " + (reason.empty() ? conversion : reason);
    tools::message_box(result.message, programme.message_caption, frontend::mb_ok, host);
    return result;
  }

  result.outcome = RunOutcome::saved;
  result.html_path = html_path;
  if (state.report_url.empty()) {
    state.report_url = file_url(result.html_path);
    host.navigate_report(state.report_url);
  } else {
    host.refresh_report();
  }
  host.set_report_visible(true);
  return result;
}

bool ask_file_name(frontend::Host& host, frontend::WindowHandle owner, const std::string* default_extension,
                   const std::string& filter, const std::string* initial_directory, const std::string* title,
                   std::string& file_name, bool open) {
  // The dialog's file buffer holds 260 characters; a longer name offered is cut there.
  constexpr std::size_t max_path = 260;
  frontend::FileDialogRequest request;
  request.owner = owner;
  if (default_extension && !default_extension->empty()) request.default_extension = *default_extension;
  request.filter = filter;
  if (initial_directory && !initial_directory->empty()) request.initial_directory = *initial_directory;
  if (title && !title->empty()) request.title = *title;
  request.open = open;
  std::string chosen = file_name.substr(0, max_path);
  try {
    if (!host.ask_file_name(request, chosen)) return false;
  } catch (...) {
    return false;
  }
  file_name = chosen;
  return true;
}

std::string replace_char(const std::string& text, char find, char put) {
  std::string result = text;
  for (char& c : result)
    if (c == find) c = put;
  return result;
}

std::string path_to_url(const std::string& path) {
  std::string result;
  for (char c : path) {
    if (c == ' ')
      result += "%20";
    else
      result += c;
  }
  return replace_char(result, '\\', '/');
}

std::string url_to_path(const std::string& url) {
  if (url.rfind("file:///", 0) != 0) return url;
  // On POSIX the scheme's third slash is the path's root.
  std::string path = platform::path_separator == '/' ? url.substr(7) : url.substr(8);
  std::string out;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path.compare(i, 3, "%20") == 0) {
      out += ' ';
      i += 2;
    } else {
      out += path[i] == '/' ? platform::path_separator : path[i];
    }
  }
  return out;
}

namespace {
std::string saved_line(const RunResult& result) {
  return "Salvato: " + result.xml_path + " \u2013 " + std::to_string(result.patient_count) +
         (result.patient_count == 1 ? " assistito" : " assistiti");
}
}  // namespace

std::string run_summary(const RunResult& result) {
  switch (result.outcome) {
    case RunOutcome::saved:
      return saved_line(result);
    case RunOutcome::page_failed:
      return saved_line(result) + "; pagina non prodotta";
    case RunOutcome::save_dialog_cancelled:
      return "Nessun file scelto: estrazione non eseguita.";
    case RunOutcome::no_patient:
      return "Nessun paziente estratto: nessun file salvato.";
    case RunOutcome::stopped:
      return "Estrazione annullata: nessun file salvato.";
    default:
      break;
  }
  // The first line of the message shown says why.
  const std::string reason = result.message.substr(0, result.message.find_first_of("\r\n"));
  return reason.empty() ? "Nessun file salvato." : "Nessun file salvato: " + reason;
}
