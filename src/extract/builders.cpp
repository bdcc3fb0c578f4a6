#include "extract/builders.hpp"

#include <cctype>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "extract/text_file.hpp"
#include "platform/files.hpp"
#include "platform/paths.hpp"
#include "records/px_tools.hpp"

namespace fs = std::filesystem;

namespace {

/// The patient list has seven columns: code, surname, first name, sex, fiscal code,
/// date of birth, ISTAT code of the municipality of birth.
constexpr std::size_t patient_fields = 7;

/// The doctor's regional code padded with leading zeros, or cut, to its last six characters.
std::string regional_code_six(const std::string& code) { return tools::last_characters("000000" + code, 6); }

struct Enrolment {
  std::string date;  ///< yyyymmdd
  std::string memo;  ///< first ten characters
};

/// Looks for the patient's current enrolment in the diabetes project: the latest
/// enrolment record must be in state "A". False when the patient is not to be reported.
bool find_enrolment(Tpx_wrap_praxipat& session, const std::string& patient_code, Enrolment& enrolment) {
  const std::string tail = " from cart_accert WHERE codice = " + sql_quote(patient_code) + " and ac_code = '4250'" +
                           " ORDER by time_last desc";
  const std::string opened = checked_sql_into(session, "Praxilo", "SELECT dateformat(data_open, 'yyyy-mm-dd' )" + tail);
  if (tools::is_empty(opened)) return false;
  const TDateTime date = tools::string2date(opened, "yyyy-mm-dd");
  const std::string memo = checked_sql_into(session, "Praxilo", "SELECT ac_mem" + tail);
  const std::string state = checked_sql_into(session, "Praxilo", "SELECT ac_val" + tail);
  if (state != "A") return false;
  enrolment.date = tools::date2string(date, "yyyymmdd");
  enrolment.memo = tools::first_characters(memo, 10);
  return true;
}

/// Counts the lines that are patients (seven fields or more).
int count_patient_lines(const std::vector<std::string>& lines) {
  int total = 0;
  for (const auto& line : lines)
    if (tools::string2array(line, "\t").size() >= patient_fields) ++total;
  return total;
}

}  // namespace

std::string unquote_field(const std::string& text) {
  if (tools::is_empty(text)) return {};
  if (tools::starts_with(text, "\"") && tools::ends_with(text, "\""))
    return text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
  return text;
}

std::string sql_quote(const std::string& text) {
  if (tools::is_empty(text)) return "''";
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += '\'';  // an inner quote is doubled, so it cannot end the literal
    quoted += c;
  }
  return quoted + "'";
}

void copy_file(const std::string& source, const std::string& target) {
  // Copied beside the target and renamed over it: copying over an existing file fails in
  // some standard libraries (mingw's), and a rename replaces it in one step.
  const fs::path to = platform::path_from_utf8(target);
  fs::path part = to;
  part += ".part";
  std::error_code ec;
  fs::remove(part, ec);
  fs::copy_file(platform::path_from_utf8(source), part, ec);
  if (!ec) fs::rename(part, to, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(part, ignored);
    throw std::runtime_error("Impossibile copiare il file '" + source + "' in '" + target + "': " + ec.message());
  }
}

std::optional<std::string> dump_file_name(const std::string& answer) {
  // Both separators count, whatever the platform: the name comes from another program.
  constexpr std::size_t folder_size = 4;  // "Temp"
  if (answer.size() <= folder_size + 1 || (answer[folder_size] != '/' && answer[folder_size] != '\\')) return {};
  for (std::size_t i = 0; i < folder_size; ++i)
    if (std::toupper(static_cast<unsigned char>(answer[i])) != "TEMP"[i]) return {};
  std::string name = answer.substr(folder_size + 1);
  // A drive (":") or a stream of another file (":") has no place in a bare name.
  if (name.find_first_of(std::string("/\\:\0", 4)) != std::string::npos) return {};
  if (name == "." || name == "..") return {};
  return name;
}

std::optional<std::string> read_dump(Tpx_wrap_praxipat& session, const std::string& database, const std::string& sql) {
  const std::string answer = checked_sql_dump_file(session, database, sql);
  if (tools::is_empty(answer)) return std::nullopt;  // no file written: no rows
  const std::optional<std::string> name = dump_file_name(answer);
  if (!name)
    throw ExtractionInterrupted("il file dei risultati indicato da Praxilo non è nella cartella Temp: " + answer);
  // The dump goes as soon as it is read, however the reading ends.
  platform::DumpFile dump = platform::read_and_remove_dump(px_tools::appl_directory() + "Temp", *name);
  switch (dump.state) {
    case platform::DumpFile::State::rows:
      return std::move(dump.text);
    case platform::DumpFile::State::missing:
      return std::nullopt;  // the records product's way of saying "no rows"
    case platform::DumpFile::State::refused:
      break;
  }
  throw ExtractionInterrupted(dump.text);
}

void build_document(const ProgrammeInfo& programme, const std::string& select_sql, ExtractionContext& context) {
  Tpx_wrap_praxipat& session = context.session;
  const std::string range_start = sql_date_expression(context.date_from);
  const std::string range_end = sql_date_expression(context.date_to);

  const std::optional<std::string> list = read_dump(session, "Praxilo", select_sql);
  if (!list) return;  // no list: the document is untouched
  // The working file is a bare name: the current directory. It goes however the build ends.
  const platform::WorkingFile working(programme.working_file, *list);
  const std::vector<std::string> lines = ansi_lines(working.read());
  const int total = count_patient_lines(lines);
  context.host.progress(0, total);

  platform::XmlDocument& doc = context.xml_doc;
  doc.activate();
  platform::XmlElement root =
      doc.create_root(std::string(report_namespace_host) + programme.namespace_path, programme.root_element);
  root.append_text_child("dataOraProduzione", tools::date2string(tools::now(), "yyyymmddhhmmss"));
  platform::XmlElement medico = root.append_child("medico");
  medico.append_text_child("codiceRegionale", regional_code_six(context.user.get_codice_regionale()));
  medico.append_text_child("codiceFiscale", context.user.get_codice_fiscale());

  int done = 0;
  for (const auto& line : lines) {
    // A run stopped by the user ends here, before its next patient, and replaces nothing.
    if (context.host.cancel_requested()) return;
    const std::vector<std::string> fields = tools::string2array(line, "\t");
    if (fields.size() < patient_fields) continue;  // cannot fill a patient: not one
    const std::string patient_code = unquote_field(fields[0]);
    Enrolment enrolment;
    const bool reported = !programme.enrolment_check || find_enrolment(session, patient_code, enrolment);
    if (reported) {
      ++context.patient_count;
      platform::XmlElement patient = medico.append_child("assistito");
      patient.append_text_child("codiceFiscale", unquote_field(fields[4]));
      patient.append_text_child("cognome", unquote_field(fields[1]));
      patient.append_text_child("nome", unquote_field(fields[2]));
      patient.append_text_child("sesso", unquote_field(fields[3]));
      patient.append_text_child("dataNascita", unquote_field(fields[5]));
      patient.append_child("comuneNascita").append_text_child("codiceIstat", unquote_field(fields[6]));
      if (programme.enrolment_check) {
        platform::XmlElement taken = patient.append_child("presaInCarico");
        taken.append_text_child("data", enrolment.date);
        taken.append_text_child("codice", enrolment.memo);
      }
      programme.section_builder(session, patient, patient_code, range_start, range_end);
      // A finished patient goes to the report being saved, when one is, and leaves memory.
      doc.write_finished(patient);
    }
    context.host.progress(++done, total);
  }

  doc.set_document_element(root);
}

void build_diabete_document(const std::string& select_sql, ExtractionContext& context) {
  build_document(programme_info(Programme::diabete), select_sql, context);
}

void build_tao_document(const std::string& select_sql, ExtractionContext& context) {
  build_document(programme_info(Programme::tao), select_sql, context);
}

void build_vaccinazioni_document(const std::string& select_sql, ExtractionContext& context) {
  build_document(programme_info(Programme::vaccinazioni), select_sql, context);
}
