#include "extract/builders.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
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

/// The TAB-separated fields of a line of the patient list.
std::vector<std::string> line_fields(std::string_view line) { return tools::string2array(line, "\t"); }

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

namespace {

/// True when text equals expected, letters compared without regard to case (as Windows
/// names are).
bool same_name(std::string_view text, std::string_view expected) {
  return text.size() == expected.size() && std::equal(text.begin(), text.end(), expected.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
         });
}

bool is_separator(char c) { return c == '/' || c == '\\'; }

/// True when parts name a temporary file of the system's own: the page's replacement at the
/// folder's top, or a run's working file in Temp (a patient list being read).
bool own_temporary(const std::vector<std::string>& parts) {
  if (parts.size() == 1) return platform::temporary_owner(parts[0], report_page_name).has_value();
  if (parts.size() != 2 || !same_name(parts[0], "Temp")) return false;
  const auto& programmes = all_programmes();
  return std::any_of(programmes.begin(), programmes.end(), [&](Programme programme) {
    return platform::temporary_owner(parts[1], programme_info(programme).working_file).has_value();
  });
}

/// Why the answer names no file the system may read and remove; "" when it may.
std::string dump_name_problem(const std::string& answer, const std::vector<std::string>& parts) {
  if (answer.size() >= 2 && is_separator(answer[0]) && is_separator(answer[1])) return "è in rete";
  if (is_separator(answer[0])) return "ha un percorso assoluto";
  if (answer.size() >= 2 && answer[1] == ':' && std::isalpha(static_cast<unsigned char>(answer[0])))
    return "indica un'unità";
  // Past a drive, a colon names a stream of another file.
  if (answer.find(':') != std::string::npos) return "indica un flusso di un altro file";
  for (const std::string& part : parts)
    if (part == "..") return "esce dalla cartella di Praxilo";
  for (const std::string& part : parts) {
    // Windows drops a name's trailing dots and blanks: the file opened would be another.
    const bool control =
        std::any_of(part.begin(), part.end(), [](char c) { return static_cast<unsigned char>(c) < 32; });
    if (part.empty() || part == "." || control || part.back() == '.' || part.back() == ' ')
      return "non è un nome di file valido";
  }
  // The system's own files there: the log folder, written while the run goes on, the page,
  // the page's replacement while it is written, and the runs' working files.
  if ((parts.size() > 2 && same_name(parts[0], "Temp") && same_name(parts[1], "Log")) ||
      (parts.size() == 1 && same_name(parts[0], report_page_name)) || own_temporary(parts))
    return "è un file di PIV ZONA12";
  return {};
}

}  // namespace

DumpFileName dump_file_name(const std::string& answer) {
  // Both separators count, whatever the platform: the name comes from another program.
  std::vector<std::string> parts(1);
  for (char c : answer) {
    if (is_separator(c))
      parts.emplace_back();
    else
      parts.back() += c;
  }
  DumpFileName name;
  if (answer.empty()) {
    name.problem = "il file dei risultati indicato da Praxilo non è un nome di file valido: " + answer;
    return name;
  }
  if (std::string problem = dump_name_problem(answer, parts); !problem.empty()) {
    name.problem = "il file dei risultati indicato da Praxilo " + problem + ": " + answer;
    return name;
  }
  std::string relative;
  for (const std::string& part : parts) relative += (relative.empty() ? "" : "/") + part;
  name.relative = relative;
  return name;
}

bool read_dump(Tpx_wrap_praxipat& session, const std::string& database, const std::string& sql,
               const platform::PieceSink& on_piece) {
  // A file written before the call was sent is not its answer (the database, a stylesheet).
  const auto sent = std::chrono::system_clock::now();
  const std::string answer = checked_sql_dump_file(session, database, sql);
  if (tools::is_empty(answer)) return false;  // no file written: no rows
  const DumpFileName name = dump_file_name(answer);
  if (!name.relative) throw platform::Failure(name.problem);
  // The dump goes as soon as it is read, however the reading ends.
  const platform::DumpFile dump = platform::read_and_remove_dump(px_tools::appl_directory(), *name.relative, on_piece,
                                                                 platform::file_piece_size, sent);
  switch (dump.state) {
    case platform::DumpFile::State::rows:
      return true;
    case platform::DumpFile::State::missing:
      return false;  // the records product's way of saying "no rows"
    case platform::DumpFile::State::refused:
      break;
  }
  throw platform::Failure(dump.reason);
}

void build_document(const ProgrammeInfo& programme, const std::string& select_sql, ExtractionContext& context) {
  Tpx_wrap_praxipat& session = context.session;
  const std::string range_start = sql_date_expression(context.date_from);
  const std::string range_end = sql_date_expression(context.date_to);

  // The list goes to the working file as it is read, and is read back from it a piece at
  // a time: twice, to count the patients for the progress, then to build. The working file
  // is the run's own, under a unique name in the installation's Temp folder beside the
  // dumps (never in the current directory, where a file of the doctor's could stand). It
  // is made with the list's first piece, or empty for an empty list, and goes however the
  // build ends.
  std::optional<platform::WorkingFile> working;
  const auto make_working = [&] {
    if (!working) working.emplace(px_tools::appl_directory() + "Temp", programme.working_file);
  };
  const bool listed = read_dump(session, "Praxilo", select_sql, [&](std::string_view piece) {
    make_working();
    working->append(piece);
  });
  if (!listed) return;  // no list: the document is untouched
  make_working();

  int total = 0;
  AnsiLines counted([&total](std::string_view line) {
    if (line_fields(line).size() >= patient_fields) ++total;
    return true;
  });
  working->read([&counted](std::string_view piece) { return counted.add(piece); });
  counted.finish();
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
  AnsiLines patients([&](std::string_view line) {
    // A run stopped by the user ends here, before its next patient, and replaces nothing.
    if (context.host.cancel_requested()) return false;
    const std::vector<std::string> fields = line_fields(line);
    if (fields.size() < patient_fields) return true;  // cannot fill a patient: not one
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
    return true;
  });
  // Stopped (by the user) before the end: the document keeps its earlier element.
  if (!working->read([&patients](std::string_view piece) { return patients.add(piece); }) || !patients.finish()) return;

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
