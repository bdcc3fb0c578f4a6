#pragma once
// The indicator sections: one query per section, dumped by the records product, each
// row of the dump becoming one element under the patient's monitoraggio element.
#include <string>
#include <vector>

#include "records/px_wrap_praxipat.hpp"
#include "xml/xmldoc.hpp"

// Per-programme section builders (see ProgrammeInfo::section_builder).
void add_diabetes_monitoring(Tpx_wrap_praxipat& session, platform::XmlElement& patient, const std::string& patient_code,
                             const std::string& range_start, const std::string& range_end);
void add_tao_monitoring(Tpx_wrap_praxipat& session, platform::XmlElement& patient, const std::string& patient_code,
                        const std::string& range_start, const std::string& range_end);
void add_vaccination_monitoring(Tpx_wrap_praxipat& session, platform::XmlElement& patient,
                                const std::string& patient_code, const std::string& range_start,
                                const std::string& range_end);

void add_lab_indicator(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                       const std::string& range_start, const std::string& range_end, const std::string& element_name,
                       const std::string& code_list);
void add_flu_vaccination(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                         const std::string& range_start, const std::string& range_end, const std::string& element_name);
void add_clinical_check(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                        const std::string& range_start, const std::string& range_end);
void add_blood_pressure(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                        const std::string& range_start, const std::string& range_end);
void add_foot_exam(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                   const std::string& range_start, const std::string& range_end);
void add_fundus_exam(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                     const std::string& range_start, const std::string& range_end);
void add_smoking_habit(Tpx_wrap_praxipat& session, platform::XmlElement& monitoring, const std::string& patient_code,
                       const std::string& range_start, const std::string& range_end);

/// Every "," replaced by ".".
std::string comma_to_point(const std::string& text);
/// Dumps sql through the session ("Praxilo2") and gives the fields of every line with at
/// least two fields; the dump file is deleted. No file: no rows. A failed call throws
/// platform::Failure.
std::vector<std::vector<std::string>> read_section_rows(Tpx_wrap_praxipat& session, const std::string& sql);
