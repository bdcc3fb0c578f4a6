// The SQL texts that the report builders and the indicator sections send to the records
// product, compared byte for byte with the texts they must be.
#include <functional>

#include <gtest/gtest.h>

#include "extract/builders.hpp"
#include "extract/sections.hpp"
#include "fake_praxilo.hpp"

namespace {

using test_support::FakePraxilo;
using test_support::RecordingHost;
using Texts = std::vector<std::string>;

/// A signed-in session on the fake server, and a document to hang the sections on.
class ExtractSql : public ::testing::Test {
 protected:
  ExtractSql() {
    session.init("ImportAnagrafiche", "");
    session.connetti("demo", "demo");
    fake.calls.clear();
    doc.activate();
    patient = doc.create_root("urn:test", "assistito");
  }

  FakePraxilo fake;
  Tpx_wrap_praxipat session{fake.factory()};
  platform::XmlDocument doc;
  platform::XmlElement patient;
  const std::string start = sql_date_expression(tools::encode_date(2008, 1, 1, 13, 5, 0));
  const std::string end = sql_date_expression(tools::encode_date(2008, 12, 31, 23, 59, 59));
};

TEST(SqlDateExpression, UsesTheDatePartOnlyWithFourDigitYears) {
  EXPECT_EQ(sql_date_expression(tools::encode_date(2024, 1, 31, 23, 59, 59)), "cast('2024-01-31' as date)");
  EXPECT_EQ(sql_date_expression(tools::encode_date(987, 3, 4)), "cast('0987-03-04' as date)");
}

struct SectionCase {
  const char* name;
  std::function<void(Tpx_wrap_praxipat&, platform::XmlElement&, const std::string&, const std::string&)> run;
  Texts expected;
};

void PrintTo(const SectionCase& c, std::ostream* os) { *os << c.name; }

class SectionSql : public ExtractSql, public ::testing::WithParamInterface<SectionCase> {};

TEST_P(SectionSql, SendsTheLiteralTexts) {
  GetParam().run(session, patient, start, end);
  EXPECT_EQ(fake.sql_sent("sql_dump_file"), GetParam().expected);
  EXPECT_TRUE(fake.sql_sent("sql_into").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sections, SectionSql,
    ::testing::Values(
        SectionCase{"Diabetes",
                    [](auto& s, auto& p, auto& a, auto& b) { add_diabetes_monitoring(s, p, "1234", a, b); },
                    {
                        "Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = "
                        "'1234' and ac_code = '1940' and data_open >= cast('2008-01-01' as date) and data_open <= "
                        "cast('2008-12-31' as date) ORDER BY data_open desc",
                        "Praxilo2|SELECT p_min,p_max, dateformat(data_open, 'yyyymmdd') FROM cart_press WHERE codice = "
                        "'1234' and data_open >= cast('2008-01-01' as date) and data_open <= cast('2008-12-31' as "
                        "date) and ( p_min > ' ' or p_max > ' ') ORDER BY data_open desc",
                        "Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = "
                        "'1234' and ac_code = '1942' and data_open >= cast('2008-01-01' as date) and data_open <= "
                        "cast('2008-12-31' as date) and ac_val > ' ' ORDER BY data_open desc",
                        "Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = "
                        "'1234' and ac_code = '1534' and data_open >= cast('2008-01-01' as date) and data_open <= "
                        "cast('2008-12-31' as date) and ac_val > ' ' ORDER BY data_open desc",
                        "Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = "
                        "'1234' and ac_code in ( ' 731', '3682' ) and data_open >= cast('2008-01-01' as date) and "
                        "data_open <= cast('2008-12-31' as date) and ac_val > ' ' ORDER BY data_open desc",
                        "Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = "
                        "'1234' and ac_code in ( ' 618' ) and data_open >= cast('2008-01-01' as date) and data_open "
                        "<= cast('2008-12-31' as date) and ac_val > ' ' ORDER BY data_open desc",
                        "Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = "
                        "'1234' and ac_code in ( ' 616' ) and data_open >= cast('2008-01-01' as date) and data_open "
                        "<= cast('2008-12-31' as date) and ac_val > ' ' ORDER BY data_open desc",
                        "Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = "
                        "'1234' and ac_code in ( ' 617' ) and data_open >= cast('2008-01-01' as date) and data_open "
                        "<= cast('2008-12-31' as date) and ac_val > ' ' ORDER BY data_open desc",
                        "Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = "
                        "'1234' and ac_code in ( ' 785' ) and data_open >= cast('2008-01-01' as date) and data_open "
                        "<= cast('2008-12-31' as date) and ac_val > ' ' ORDER BY data_open desc",
                        "Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = "
                        "'1234' and ac_code in ( ' 703' ) and data_open >= cast('2008-01-01' as date) and data_open "
                        "<= cast('2008-12-31' as date) and ac_val > ' ' ORDER BY data_open desc",
                        "Praxilo2|SELECT va_tipo, dateformat(va_data, 'yyyymmdd') FROM cart_vaccini WHERE codice = "
                        "'1234' and va_data >= cast('2008-01-01' as date) and va_data <= cast('2008-12-31' as date) "
                        "and va_code IN ( '0005','IADV','IDRM','ISPL','ISUB','IVRS') ORDER BY va_data desc",
                        "Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = "
                        "'1234' and ac_code in ( '3560' ) and data_open >= cast('2008-01-01' as date) and data_open "
                        "<= cast('2008-12-31' as date) and ac_val > ' ' ORDER BY data_open desc",
                        "Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = "
                        "'1234' and ac_code in ( '2609' ) and data_open >= cast('2008-01-01' as date) and data_open "
                        "<= cast('2008-12-31' as date) and ac_val > ' ' ORDER BY data_open desc",
                        "Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = "
                        "'1234' and ac_code = '2832' and data_open >= cast('2008-01-01' as date) and data_open <= "
                        "cast('2008-12-31' as date) and ac_val > ' ' ORDER BY data_open desc",
                    }},
        SectionCase{"Tao",
                    [](auto& s, auto& p, auto& a, auto& b) { add_tao_monitoring(s, p, "1234", a, b); },
                    {"Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = "
                     "'1234' and ac_code in ( ' 961', '2631' ) and data_open >= cast('2008-01-01' as date) and "
                     "data_open <= cast('2008-12-31' as date) and ac_val > ' ' ORDER BY data_open desc"}},
        SectionCase{"Vaccinations",
                    [](auto& s, auto& p, auto& a, auto& b) { add_vaccination_monitoring(s, p, "1234", a, b); },
                    {"Praxilo2|SELECT va_tipo, dateformat(va_data, 'yyyymmdd') FROM cart_vaccini WHERE codice = "
                     "'1234' and va_data >= cast('2008-01-01' as date) and va_data <= cast('2008-12-31' as date) and "
                     "va_code IN ( '0005','IADV','IDRM','ISPL','ISUB','IVRS') ORDER BY va_data desc"}},
        // A quote inside the patient code is doubled; a blank code is sent as ''.
        SectionCase{"QuoteInPatientCode",
                    [](auto& s, auto& p, auto& a, auto& b) { add_clinical_check(s, p, "O'Ne'il", a, b); },
                    {"Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = "
                     "'O''Ne''il' and ac_code = '1940' and data_open >= cast('2008-01-01' as date) and data_open <= "
                     "cast('2008-12-31' as date) ORDER BY data_open desc"}},
        SectionCase{"BlankPatientCode",
                    [](auto& s, auto& p, auto& a, auto& b) { add_blood_pressure(s, p, "   ", a, b); },
                    {"Praxilo2|SELECT p_min,p_max, dateformat(data_open, 'yyyymmdd') FROM cart_press WHERE codice = "
                     "'' and data_open >= cast('2008-01-01' as date) and data_open <= cast('2008-12-31' as date) and "
                     "( p_min > ' ' or p_max > ' ') ORDER BY data_open desc"}}),
    [](const auto& info) { return std::string(info.param.name); });

/// The builder's own queries: the patient list, then per patient the three enrolment
/// queries of the diabetes report, each keyed by the patient code as dumped.
class BuilderSql : public ExtractSql {
 protected:
  void build(Programme programme) {
    fake.dump = [](const std::string& database, const std::string&) -> std::optional<std::string> {
      if (database != "Praxilo") return std::string();
      return std::string("\"O'Neil\"\t\"Rossi\"\t\"Mario\"\t\"M\"\t\"RSSMRA\"\t\"19500101\"\t\"058091\"\n");
    };
    fake.into = [this](const std::string&, const std::string& sql) -> std::string {
      if (sql.rfind("SELECT dateformat", 0) == 0) return enrolment_date;
      if (sql.rfind("SELECT ac_mem", 0) == 0) return "ARRUOLATO";
      return state;
    };
    test_support::TempDir cwd;
    test_support::ScopedCwd in(cwd.path());
    TUser user;
    platform::XmlDocument report;
    RecordingHost host;
    ExtractionContext context{session, user, report, start_date, end_date, 0, host};
    build_document(programme_info(programme), "SELECT elenco", context);
    patients = context.patient_count;
  }

  std::string enrolment_date = "2008-03-01";
  std::string state = "A";
  int patients = 0;
  const TDateTime start_date = tools::encode_date(2008, 1, 1);
  const TDateTime end_date = tools::encode_date(2008, 12, 31);
};

const std::string tail = " from cart_accert WHERE codice = 'O''Neil' and ac_code = '4250' ORDER by time_last desc";
const std::string date_query = "Praxilo|SELECT dateformat(data_open, 'yyyy-mm-dd' )" + tail;
const std::string memo_query = "Praxilo|SELECT ac_mem" + tail;
const std::string state_query = "Praxilo|SELECT ac_val" + tail;

TEST_F(BuilderSql, DiabetesChecksTheEnrolmentBeforeTheSections) {
  build(Programme::diabete);
  EXPECT_EQ(patients, 1);
  EXPECT_EQ(fake.sql_sent("sql_into"), (Texts{date_query, memo_query, state_query}));
  const Texts dumps = fake.sql_sent("sql_dump_file");
  ASSERT_EQ(dumps.size(), 15u);
  EXPECT_EQ(dumps[0], "Praxilo|SELECT elenco");
  EXPECT_EQ(dumps[1],
            "Praxilo2|SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = 'O''Neil' and "
            "ac_code = '1940' and data_open >= cast('2008-01-01' as date) and data_open <= cast('2008-12-31' as "
            "date) ORDER BY data_open desc");
}

TEST_F(BuilderSql, NoEnrolmentStopsAfterTheFirstQuery) {
  enrolment_date = "";
  build(Programme::diabete);
  EXPECT_EQ(patients, 0);
  EXPECT_EQ(fake.sql_sent("sql_into"), (Texts{date_query}));
  EXPECT_EQ(fake.sql_sent("sql_dump_file"), (Texts{"Praxilo|SELECT elenco"}));
}

TEST_F(BuilderSql, StateOtherThanCapitalAIsNotEnrolled) {
  for (const char* other : {"a", "A ", "S", ""}) {
    SCOPED_TRACE(other);
    fake.calls.clear();
    state = other;
    build(Programme::diabete);
    EXPECT_EQ(patients, 0);
    EXPECT_EQ(fake.sql_sent("sql_into"), (Texts{date_query, memo_query, state_query}));
    EXPECT_EQ(fake.sql_sent("sql_dump_file").size(), 1u);
  }
}

TEST_F(BuilderSql, TaoAndVaccinationsHaveNoEnrolmentCheck) {
  for (Programme programme : {Programme::tao, Programme::vaccinazioni}) {
    fake.calls.clear();
    build(programme);
    EXPECT_EQ(patients, 1);
    EXPECT_TRUE(fake.sql_sent("sql_into").empty());
    EXPECT_EQ(fake.sql_sent("sql_dump_file").size(), 2u);
  }
}

}  // namespace
