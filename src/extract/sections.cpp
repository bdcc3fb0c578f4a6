#include "extract/sections.hpp"

#include <optional>

#include "extract/builders.hpp"
#include "extract/text_file.hpp"
#include "tools/tools.hpp"

namespace {

// The fragments the sections' queries are built from.
const std::string select_accert = "SELECT ac_val, dateformat(data_open, 'yyyymmdd')";
const std::string from_accert = " FROM cart_accert WHERE codice = ";
const std::string value_not_blank = " and ac_val > ' '";
const std::string newest_first = " ORDER BY data_open desc";

/// The range condition on data_open.
std::string in_range(const std::string& range_start, const std::string& range_end) {
  return " and data_open >= " + range_start + " and data_open <= " + range_end;
}

/// Field number (from 1) of a row, unquoted.
std::string field(const std::vector<std::string>& row, std::size_t number) { return unquote_field(row[number - 1]); }

/// A cart_accert section on one examination code whose value must not be blank; each row
/// becomes an element with data and, named child, its value mapped by map.
template <typename Map>
void add_coded_exam(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                    const std::string& range_start, const std::string& range_end, const char* ac_code,
                    const char* element_name, const char* child_name, Map map) {
  const std::string sql = select_accert + from_accert + sql_quote(patient_code) + " and ac_code = '" + ac_code + "'" +
                          in_range(range_start, range_end) + value_not_blank + newest_first;
  for (const auto& row : read_section_rows(session, sql)) {
    platform::XmlElement element = monitoring.append_child(element_name);
    element.append_text_child("data", field(row, 2));
    element.append_text_child(child_name, map(field(row, 1)));
  }
}

}  // namespace

std::string comma_to_point(const std::string& text) {
  std::string result = text;
  for (char& c : result)
    if (c == ',') c = '.';
  return result;
}

std::vector<std::vector<std::string>> read_section_rows(Tpx_wrap_praxipat& session, const std::string& sql) {
  // Each line is split as it comes, and only the rows kept are held.
  std::vector<std::vector<std::string>> rows;
  AnsiLines lines([&rows](std::string_view line) {
    std::vector<std::string> fields = tools::string2array(line, "\t");
    if (fields.size() >= 2) rows.push_back(std::move(fields));
    return true;
  });
  if (read_dump(session, "Praxilo2", sql, [&lines](std::string_view piece) { lines.add(piece); })) lines.finish();
  return rows;
}

void add_clinical_check(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                        const std::string& range_start, const std::string& range_end) {
  // A check-up counts even when its value is blank: no condition on ac_val.
  const std::string sql = select_accert + from_accert + sql_quote(patient_code) + " and ac_code = '1940'" +
                          in_range(range_start, range_end) + newest_first;
  for (const auto& row : read_section_rows(session, sql))
    monitoring.append_child("controlloClinico").append_text_child("data", field(row, 2));
}

void add_blood_pressure(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                        const std::string& range_start, const std::string& range_end) {
  const std::string sql = "SELECT p_min,p_max, dateformat(data_open, 'yyyymmdd')" +
                          std::string(" FROM cart_press WHERE codice = ") + sql_quote(patient_code) +
                          in_range(range_start, range_end) + " and ( p_min > ' ' or p_max > ' ')" + newest_first;
  for (const auto& row : read_section_rows(session, sql)) {
    if (row.size() < 3) continue;  // a reading without its date cannot be reported
    platform::XmlElement element = monitoring.append_child("pressioneArteriosa");
    element.append_text_child("data", field(row, 3));
    element.append_text_child("min", field(row, 1));
    element.append_text_child("max", field(row, 2));
  }
}

void add_foot_exam(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                   const std::string& range_start, const std::string& range_end) {
  add_coded_exam(session, monitoring, patient_code, range_start, range_end, "1942", "esamePiedi", "esito",
                 [](const std::string& value) { return value == "N" ? "Normale" : "Patologico"; });
}

void add_fundus_exam(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                     const std::string& range_start, const std::string& range_end) {
  add_coded_exam(session, monitoring, patient_code, range_start, range_end, "1534", "fondoOculare", "esito",
                 [](const std::string& value) { return value == "NRNL" ? "Normale" : "Patologico"; });
}

void add_smoking_habit(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                       const std::string& range_start, const std::string& range_end) {
  add_coded_exam(session, monitoring, patient_code, range_start, range_end, "2832", "abitudineFumo", "booleano",
                 [](const std::string& value) { return value == "N" || value == "X" ? "No" : "Sì"; });
}

void add_lab_indicator(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                       const std::string& range_start, const std::string& range_end, const std::string& element_name,
                       const std::string& code_list) {
  const std::string sql = select_accert + from_accert + sql_quote(patient_code) + " and ac_code in (" + code_list +
                          ")" + in_range(range_start, range_end) + value_not_blank + newest_first;
  for (const auto& row : read_section_rows(session, sql)) {
    platform::XmlElement element = monitoring.append_child(element_name);
    element.append_text_child("data", field(row, 2));
    element.append_text_child("valore", comma_to_point(field(row, 1)));
  }
}

void add_flu_vaccination(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                         const std::string& range_start, const std::string& range_end,
                         const std::string& element_name) {
  const std::string sql = "SELECT va_tipo, dateformat(va_data, 'yyyymmdd')" +
                          std::string(" FROM cart_vaccini WHERE codice = ") + sql_quote(patient_code) +
                          " and va_data >= " + range_start + " and va_data <= " + range_end +
                          " and va_code IN ( '0005','IADV','IDRM','ISPL','ISUB','IVRS')" + " ORDER BY va_data desc";
  for (const auto& row : read_section_rows(session, sql))
    monitoring.append_child(element_name).append_text_child("data", field(row, 2));
}

void add_diabetes_monitoring(Tpx_wrap_praxipat& session, platform::XmlElement& patient, const std::string& patient_code,
                             const std::string& range_start, const std::string& range_end) {
  platform::XmlElement monitoring = patient.append_child("monitoraggio");
  add_clinical_check(session, monitoring, patient_code, range_start, range_end);
  add_blood_pressure(session, monitoring, patient_code, range_start, range_end);
  add_foot_exam(session, monitoring, patient_code, range_start, range_end);
  add_fundus_exam(session, monitoring, patient_code, range_start, range_end);
  const struct {
    const char* element;
    const char* codes;
  } labs_before_vaccination[] = {
      {"microalbuminuria", " ' 731', '3682' "}, {"colesteroloTotale", " ' 618' "}, {"colesteroloHDL", " ' 616' "},
      {"colesteroloLDL", " ' 617' "},           {"trigliceridi", " ' 785' "},      {"emoglobinaGlicata", " ' 703' "},
  };
  for (const auto& lab : labs_before_vaccination)
    add_lab_indicator(session, monitoring, patient_code, range_start, range_end, lab.element, lab.codes);
  add_flu_vaccination(session, monitoring, patient_code, range_start, range_end, "vaccinazioneAntiInfluenzale");
  add_lab_indicator(session, monitoring, patient_code, range_start, range_end, "circonferenzaAddominale", " '3560' ");
  add_lab_indicator(session, monitoring, patient_code, range_start, range_end, "bmi", " '2609' ");
  add_smoking_habit(session, monitoring, patient_code, range_start, range_end);
}

void add_tao_monitoring(Tpx_wrap_praxipat& session, platform::XmlElement& patient, const std::string& patient_code,
                        const std::string& range_start, const std::string& range_end) {
  platform::XmlElement monitoring = patient.append_child("monitoraggio");
  add_lab_indicator(session, monitoring, patient_code, range_start, range_end, "consulenza", " ' 961', '2631' ");
}

void add_vaccination_monitoring(Tpx_wrap_praxipat& session, platform::XmlElement& patient,
                                const std::string& patient_code, const std::string& range_start,
                                const std::string& range_end) {
  platform::XmlElement monitoring = patient.append_child("monitoraggio");
  add_flu_vaccination(session, monitoring, patient_code, range_start, range_end, "antiInfluenzale");
}
