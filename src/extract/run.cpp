#include "extract/run.hpp"

#include <cmath>
#include <exception>

#include "extract/builders.hpp"
#include "platform/paths.hpp"
#include "records/px_tools.hpp"
#include "render/render.hpp"

namespace {

const std::string dialog_filter = "File XML|*.xml";
const std::string dialog_title = "Report";
const std::string report_file_name = "ZONA12.html";

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

RunResult fail(RunOutcome outcome, const ProgrammeInfo& programme, const std::string& message,
               platform::Host& host) {
  tools::message_box(message, programme.no_patient_caption, platform::mb_ok, host);
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

RunResult run_extraction(Programme id, ExtractionContext& context, RunState& state) {
  const ProgrammeInfo& programme = programme_info(id);
  platform::Host& host = context.host;

  std::string file_name = programme.default_file_name;
  const std::string directory = dialog_directory(programme);
  if (!ask_file_name(host, state.owner, nullptr, dialog_filter, &directory, &dialog_title, file_name, false))
    return {};

  const std::string sql = selection_statement(programme, context.date_from, context.date_to,
                                              context.user.get_userid_utente());
  context.patient_count = 0;
  context.session.clear_session_lost();
  try {
    build_document(programme, sql, context);
  } catch (const std::exception& error) {
    return fail(RunOutcome::failed, programme, std::string("Estrazione interrotta: ") + error.what(), host);
  }

  if (context.session.session_lost())
    return fail(RunOutcome::session_lost, programme,
                "La connessione con Praxilo si è interrotta e non è stato possibile ripristinarla.\r\n"
                "Il report non è stato salvato: ripetere l'estrazione.",
                host);

  if (context.patient_count <= 0) {
    tools::message_box(programme.no_patient_text, programme.no_patient_caption, platform::mb_ok, host);
    RunResult result;
    result.outcome = RunOutcome::no_patient;
    return result;
  }

  context.xml_doc.activate();
  context.xml_doc.set_declaration("1.0", "UTF-8", true);
  try {
    context.xml_doc.save(file_name);
  } catch (const std::exception& error) {
    return fail(RunOutcome::save_failed, programme, std::string("Impossibile salvare il report: ") + error.what(),
                host);
  }

  RunResult result;
  result.outcome = RunOutcome::saved;
  result.xml_path = file_name;
  if (state.xml_only) return result;
  const std::string appl = px_tools::appl_directory();
  result.html_path = appl + report_file_name;
  // A failed transformation is not reported: the view shows whatever page the file holds.
  tools::xml2html(appl + programme.stylesheet, file_name, result.html_path);

  if (state.report_url.empty()) {
    state.report_url = file_url(result.html_path);
    host.navigate_report(state.report_url);
  } else {
    host.refresh_report();
  }
  host.set_report_visible(true);
  return result;
}

bool ask_file_name(platform::Host& host, platform::WindowHandle owner, const std::string* default_extension,
                   const std::string& filter, const std::string* initial_directory, const std::string* title,
                   std::string& file_name, bool open) {
  // The dialog's file buffer holds 260 characters; a longer name offered is cut there.
  constexpr std::size_t max_path = 260;
  platform::FileDialogRequest request;
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
