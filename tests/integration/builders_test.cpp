// The three report builders against praxilo-server on a small practice written for the
// purpose (fixtures/golden.sql): the whole document, all but its production time, must
// equal the expected file, and both must satisfy the report's schema.
#include "extract/builders.hpp"

#include <filesystem>

#include <gtest/gtest.h>

#include "app/login.hpp"
#include "extract/run.hpp"
#include "fake_praxilo.hpp"
#include "xml/xmlschema.hpp"

namespace fs = std::filesystem;

namespace {

struct GoldenCase {
  const char* name;
  Programme programme;
  void (*builder)(const std::string&, ExtractionContext&);
  const char* user_name;  ///< decides the doctor's regional code
  int patients;
};

void PrintTo(const GoldenCase& c, std::ostream* os) { *os << c.name; }

class GoldenReport : public ::testing::TestWithParam<GoldenCase> {};

/// text with the 14 digits of dataOraProduzione replaced by those of reference.
std::string with_stamp_of(std::string text, const std::string& reference) {
  const std::string tag = "<dataOraProduzione>";
  const auto at = text.find(tag), ref_at = reference.find(tag);
  if (at != std::string::npos && ref_at != std::string::npos)
    text.replace(at + tag.size(), 14, reference.substr(ref_at + tag.size(), 14));
  return text;
}

TEST_P(GoldenReport, MatchesTheExpectedDocument) {
  const GoldenCase& c = GetParam();
  const ProgrammeInfo& programme = programme_info(c.programme);
  test_support::Installation installation(test_support::read_file(fs::path(PZ_FIXTURES_DIR) / "golden.sql"));
  test_support::TempDir cwd;
  test_support::ScopedCwd in_cwd(cwd.path());

  Tpx_wrap_praxipat session;
  test_support::RecordingHost host;
  TUser user;
  ASSERT_TRUE(proceed(c.user_name, "pw", user, session, host)) << session.last_message();

  platform::XmlDocument doc;
  const TDateTime from = tools::encode_date(2023, 1, 1), to = tools::encode_date(2023, 12, 31);
  ExtractionContext context{session, user, doc, from, to, 0, host};
  c.builder(selection_statement(programme, from, to, user.get_userid_utente()), context);
  EXPECT_EQ(context.patient_count, c.patients);
  EXPECT_FALSE(session.failed_with(SessionFailure::Kind::session_lost));

  const fs::path expected_file = fs::path(PZ_FIXTURES_DIR) / (std::string("golden_") + programme.key + ".xml");
  const std::string expected = test_support::read_file(expected_file);
  ASSERT_FALSE(expected.empty()) << expected_file;
  doc.set_declaration("1.0", "UTF-8", true);
  EXPECT_EQ(with_stamp_of(doc.to_string(), expected), expected);

  // Neither the working file nor any dump is left behind.
  EXPECT_TRUE(fs::is_empty(cwd.path())) << "nothing made in the current directory";
  for (const auto& entry : fs::directory_iterator(fs::path(installation.appdir()) / "Temp"))
    EXPECT_TRUE(entry.is_directory()) << entry.path();

  const fs::path schema = fs::path(PZ_SOURCE_DIR) / "schema" / (std::string(programme.key) + ".xsd");
  if (fs::exists(schema)) {
    EXPECT_EQ(platform::validate_xml_file(expected_file.string(), schema.string()), std::nullopt);
    const fs::path saved = cwd.path() / "report.xml";
    doc.save(saved.string());
    EXPECT_EQ(platform::validate_xml_file(saved.string(), schema.string()), std::nullopt);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Programmes, GoldenReport,
    ::testing::Values(GoldenCase{"Diabete", Programme::diabete, &build_diabete_document, "quattro", 3},
                      GoldenCase{"Tao", Programme::tao, &build_tao_document, "sette", 3},
                      GoldenCase{"Vaccinazioni", Programme::vaccinazioni, &build_vaccinazioni_document, "quattro", 3}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
