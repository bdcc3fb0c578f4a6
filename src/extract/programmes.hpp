#pragma once
// The three care programmes and everything that differs between their runs, in one
// table: the runs, the builders and the front ends all read it.
#include <array>
#include <string>

namespace platform {
class XmlElement;
}
class Tpx_wrap_praxipat;

enum class Programme { diabete, tao, vaccinazioni };

/// Appends a patient's monitoraggio element and its sections.
using SectionBuilder = void (*)(Tpx_wrap_praxipat& session, platform::XmlElement& patient,
                                const std::string& patient_code, const std::string& range_start,
                                const std::string& range_end);

struct ProgrammeInfo {
  Programme id;
  const char* key;                       ///< "diabete", "tao", "vaccinazioni" (command line)
  const char* button_caption;            ///< "Diabete", "TAO", "Vaccinazioni"
  const char* default_file_name;         ///< offered by the save dialog
  bool dialog_starts_in_appl_directory;  ///< else in the current directory ".\"
  const char* incent_code;               ///< 'REG0027' / 'REG0002'; nullptr: vaccination selection
  const char* stylesheet;                ///< file name under appl_directory
  const char* message_caption;           ///< the caption of every message box of a run
  const char* no_patient_text;           ///< lines broken with CR LF
  const char* root_element;              ///< "diabete", "tao", "vaccinazioni"
  const char* namespace_path;            ///< "/asl/diabete", ...
  const char* working_file;              ///< "Diabetici.txt", "Tao.txt", "Vac.txt": the stem of the
                                         ///< working file's own name in the Temp folder
  bool enrolment_check;                  ///< diabetes only: enrolment check and presaInCarico
  SectionBuilder section_builder;
};

/// The host part of every report's namespace URL; a programme's namespace is this
/// followed by its namespace_path.
inline constexpr const char* report_namespace_host = "http://www.zona12.asl.it";

const ProgrammeInfo& programme_info(Programme programme);
const std::array<Programme, 3>& all_programmes();
/// The programme whose key is key; false when there is none.
bool programme_from_key(const std::string& key, Programme& programme);
