// The report schemas (schema/*.xsd) and their validation: the sample reports are valid,
// each broken one is rejected with its line, an unreadable schema is a failure.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "xml/xmlschema.hpp"

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::TempDir;
using test_support::write_file;

namespace {

std::string schema(const std::string& name) { return std::string(PZ_SOURCE_DIR) + "/schema/" + name + ".xsd"; }
std::string sample(const std::string& name) { return std::string(PZ_FIXTURES_DIR) + "/sample_" + name + ".xml"; }

TEST(ReportSchemas, SamplesAreValid) {
  for (const char* name : {"diabete", "tao", "vaccinazioni"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(platform::validate_xml_file(sample(name), schema(name)), std::nullopt);
  }
}

struct BrokenCase {
  std::string name;
  friend void PrintTo(const BrokenCase& c, std::ostream* os) { *os << c.name; }
  std::string report;  ///< sample and schema
  std::string from;    ///< first occurrence replaced
  std::string to;
};

class BrokenReports : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenReports, AreRejectedWithTheLine) {
  const BrokenCase& c = GetParam();
  std::string xml = read_file(sample(c.report));
  const std::size_t at = xml.find(c.from);
  ASSERT_NE(at, std::string::npos) << c.from;
  xml.replace(at, c.from.size(), c.to);
  TempDir dir;
  write_file(dir.path() / "broken.xml", xml);
  const std::string errors = platform::validate_xml_file(dir.dir() + "broken.xml", schema(c.report)).value_or("");
  EXPECT_NE(errors.find("line "), std::string::npos) << errors;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenReports,
    ::testing::Values(
        BrokenCase{"production_time_of_13_digits", "tao", "20240316091500", "2024031609150"},
        BrokenCase{"production_time_with_month_13", "vaccinazioni", "20240317180245", "20241317180245"},
        BrokenCase{"regional_code_not_six", "diabete", "<codiceRegionale>001234", "<codiceRegionale>1234"},
        BrokenCase{"other_namespace", "tao", "asl/tao\"", "asl/diabete\""},
        BrokenCase{"production_time_missing", "tao", "<dataOraProduzione>20240316091500</dataOraProduzione>", ""},
        BrokenCase{"name_before_surname", "vaccinazioni", "<cognome>Bianchi</cognome>\n      <nome>Anna</nome>",
                   "<nome>Anna</nome>\n      <cognome>Bianchi</cognome>"},
        BrokenCase{"enrolment_outside_diabetes", "tao", "<monitoraggio/>",
                   "<presaInCarico><data>20240101</data><codice>X</codice></presaInCarico><monitoraggio/>"},
        BrokenCase{"diabetes_without_enrolment", "diabete",
                   "<presaInCarico>\n        <data>20240201</data>\n        <codice></codice>\n      </presaInCarico>",
                   ""},
        BrokenCase{"enrolment_code_over_ten", "diabete", "DM2-000417", "DM2-0004170"},
        BrokenCase{"sections_out_of_order", "diabete", "<controlloClinico>",
                   "<bmi><data>20240101</data><valore>24</valore></bmi><controlloClinico>"},
        BrokenCase{"section_date_not_yyyymmdd", "tao", "<data>20240305</data>", "<data>2024-03-05</data>"},
        BrokenCase{"foot_exam_outcome_lower_case", "diabete", "<esito>Normale</esito>", "<esito>normale</esito>"},
        BrokenCase{"smoking_without_accent", "diabete", "<booleano>Sì</booleano>", "<booleano>Si</booleano>"},
        BrokenCase{"monitoring_missing", "vaccinazioni",
                   "<monitoraggio>\n        <antiInfluenzale>\n          <data>20231105</data>\n"
                   "        </antiInfluenzale>\n      </monitoraggio>",
                   ""},
        BrokenCase{"vaccination_without_date", "vaccinazioni", "<data>20231020</data>", ""}),
    [](const auto& info) { return info.param.name; });

TEST(ReportSchemas, UnreadableSchemaFailsAndUnreadableFileIsAProblem) {
  EXPECT_THROW(platform::validate_xml_file(sample("tao"), schema("nessuno")), platform::Failure);
  EXPECT_NE(platform::validate_xml_file(sample("nessuno"), schema("tao")), std::nullopt);
}

}  // namespace
