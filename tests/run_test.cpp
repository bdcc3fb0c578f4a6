// The extraction run's texts: the selection statements, the dialog helpers and the
// report's address.
#include "extract/run.hpp"

#include <filesystem>

#include <gtest/gtest.h>

#include "child_processes.hpp"
#include "fake_praxilo.hpp"
#include "platform/files.hpp"
#include "px_fixture.hpp"
#include "records/px_tools.hpp"
#include "tools/tools.hpp"

namespace {

struct SelectionCase {
  const char* name;
  Programme programme;
  std::string userid;
  const char* expected;
};

class SelectionStatement : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(SelectionStatement, MatchesTheLiteralText) {
  const SelectionCase& c = GetParam();
  // Times of day in the pickers never reach the statement.
  const TDateTime from = tools::encode_date(2024, 1, 31, 17, 45, 3);
  const TDateTime to = tools::encode_date(2024, 12, 31, 8, 0, 0);
  EXPECT_EQ(selection_statement(programme_info(c.programme), from, to, c.userid), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Programmes, SelectionStatement,
    ::testing::Values(
        SelectionCase{"Diabete", Programme::diabete, "MED001",
                      "SELECT P.CODICE, P.COGNOME, P.NOME, P.SESSO, P.CODICE_FISCALE, dateformat(P.nascita, "
                      "'yyyymmdd'), P.codice_comune_nasc from PAZIENTI P, NOS_002 N, CART_CONCESSIONI_PIP C where "
                      "P.CODICE = N.CODICE and C.CODICE = P.CODICE and C.incent_code = 'REG0027' and (N.PA_DREVOCA "
                      "is null or N.PA_DREVOCA > cast('2024-01-31' as date)) and (P.DECESSO is null or P.DECESSO > "
                      "cast('2024-01-31' as date)) and P.PA_CONVENZIONE = 'S' and n.pa_medi = 'MED001' order by "
                      "P.COGNOME, P.NOME"},
        SelectionCase{"Tao", Programme::tao, "MED001",
                      "SELECT P.CODICE, P.COGNOME, P.NOME, P.SESSO, P.CODICE_FISCALE, dateformat(P.nascita, "
                      "'yyyymmdd'), P.codice_comune_nasc from PAZIENTI P, NOS_002 N, CART_CONCESSIONI_PIP C where "
                      "P.CODICE = N.CODICE and C.CODICE = P.CODICE and C.incent_code = 'REG0002' and (N.PA_DREVOCA "
                      "is null or N.PA_DREVOCA > cast('2024-01-31' as date)) and (P.DECESSO is null or P.DECESSO > "
                      "cast('2024-01-31' as date)) and P.PA_CONVENZIONE = 'S' and n.pa_medi = 'MED001' order by "
                      "P.COGNOME, P.NOME"},
        SelectionCase{"Vaccinazioni", Programme::vaccinazioni, "MED001",
                      "SELECT P.CODICE, P.COGNOME, P.NOME, P.SESSO, P.CODICE_FISCALE, dateformat(P.nascita, "
                      "'yyyymmdd'), P.codice_comune_nasc from PAZIENTI P, NOS_002 N where P.CODICE = N.CODICE and "
                      "EXISTS (SELECT 1 FROM cart_vaccini C WHERE C.CODICE = P.CODICE and (va_data >= "
                      "cast('2024-01-31' as date) and va_data <= cast('2024-12-31' as date)) and C.va_code IN ( "
                      "'0005','IADV','IDRM','ISPL','ISUB','IVRS') )  and P.PA_CONVENZIONE = 'S' and n.pa_medi = "
                      "'MED001' order by P.COGNOME, P.NOME"},
        // A quote inside the user id is doubled so that it stays inside the literal.
        SelectionCase{"QuoteInUserId", Programme::vaccinazioni, "O'Neil",
                      "SELECT P.CODICE, P.COGNOME, P.NOME, P.SESSO, P.CODICE_FISCALE, dateformat(P.nascita, "
                      "'yyyymmdd'), P.codice_comune_nasc from PAZIENTI P, NOS_002 N where P.CODICE = N.CODICE and "
                      "EXISTS (SELECT 1 FROM cart_vaccini C WHERE C.CODICE = P.CODICE and (va_data >= "
                      "cast('2024-01-31' as date) and va_data <= cast('2024-12-31' as date)) and C.va_code IN ( "
                      "'0005','IADV','IDRM','ISPL','ISUB','IVRS') )  and P.PA_CONVENZIONE = 'S' and n.pa_medi = "
                      "'O''Neil' order by P.COGNOME, P.NOME"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SelectionStatement, DatesAlwaysHaveFourDigitYearsAndTwoDigitMonthsAndDays) {
  const std::string sql = selection_statement(programme_info(Programme::vaccinazioni), tools::encode_date(987, 3, 4),
                                              tools::encode_date(2008, 1, 1), "x");
  EXPECT_NE(sql.find("va_data >= cast('0987-03-04' as date) and va_data <= cast('2008-01-01' as date)"),
            std::string::npos)
      << sql;
}

TEST(RunTexts, PathToUrlEscapesBlanksAndTurnsBackslashesOnly) {
  EXPECT_EQ(path_to_url("C:\\Prog Files\\Praxilo\\ZONA12.html"), "C:/Prog%20Files/Praxilo/ZONA12.html");
  EXPECT_EQ(path_to_url("/opt/a b/è#x.html"), "/opt/a%20b/è#x.html");
  EXPECT_EQ(replace_char("File XML|*.xml", '|', '\0'), std::string("File XML\0*.xml", 14));
}

// The page's path as the doctor reads it, back from the view's address, on either platform.
TEST(RunTexts, UrlToPathGivesBackThePathOfAReportAddress) {
#ifdef _WIN32
  const std::string path = "C:\\Program Files (x86)\\Praxilo\\ZONA12.html";
#else
  const std::string path = "/opt/Program Files/Praxilo/ZONA12.html";
#endif
  EXPECT_EQ(url_to_path("file:///" + path_to_url(path).substr(path.front() == '/' ? 1 : 0)), path);
  EXPECT_EQ(url_to_path("http://example"), "http://example") << "not a file address: as it is";
}

struct SummaryCase {
  const char* name;
  RunOutcome outcome;
  std::int32_t patients;
  std::string message;
  std::string expected;
};

class RunSummary : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(RunSummary, SaysWhereAndHowManyOrWhyNot) {
  const SummaryCase& c = GetParam();
  RunResult result;
  result.outcome = c.outcome;
  result.patient_count = c.patients;
  result.message = c.message;
  if (c.outcome == RunOutcome::saved) result.xml_path = "/home/medico/File Diabete ZONA12.xml";
  EXPECT_EQ(run_summary(result), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RunSummary,
    ::testing::Values(
        SummaryCase{"saved", RunOutcome::saved, 255, "",
                    "Salvato: /home/medico/File Diabete ZONA12.xml \u2013 255 assistiti"},
        SummaryCase{"saved_one", RunOutcome::saved, 1, "",
                    "Salvato: /home/medico/File Diabete ZONA12.xml \u2013 1 assistito"},
        SummaryCase{"dialog_cancelled", RunOutcome::save_dialog_cancelled, 0, "",
                    "Nessun file scelto: estrazione non eseguita."},
        SummaryCase{"no_patient", RunOutcome::no_patient, 0, "", "Nessun paziente estratto: nessun file salvato."},
        SummaryCase{"stopped", RunOutcome::stopped, 0, "", "Estrazione annullata: nessun file salvato."},
        // Only the first line of a message of several lines.
        SummaryCase{"session_lost", RunOutcome::session_lost, 0, "La connessione si è interrotta.\r\nRipetere.",
                    "Nessun file salvato: La connessione si è interrotta."},
        SummaryCase{"failed_without_text", RunOutcome::failed, 0, "", "Nessun file salvato."}),
    [](const ::testing::TestParamInfo<SummaryCase>& info) { return std::string(info.param.name); });

TEST(DateRangeProblem, RefusesAStartAfterTheEndOrAfterToday) {
  const TDateTime today = tools::encode_date(2026, 12, 11, 9, 30, 0);
  const std::string after_end = "La data iniziale (Dal) è successiva alla data finale (Al).";
  const std::string after_today = "La data iniziale (Dal) è successiva alla data odierna.";
  const struct {
    const char* name;
    TDateTime from, to;
    std::string problem;
  } cases[] = {
      {"a past year", tools::encode_date(2025, 1, 1), tools::encode_date(2025, 12, 31), ""},
      {"one day", tools::encode_date(2025, 3, 5, 23, 0, 0), tools::encode_date(2025, 3, 5, 1, 0, 0), ""},
      {"starting today, later in the day", tools::encode_date(2026, 12, 11, 18, 0, 0), tools::encode_date(2027, 1, 31),
       ""},
      {"ending after today", tools::encode_date(2026, 1, 1), tools::encode_date(2027, 12, 31), ""},
      {"starting tomorrow", tools::encode_date(2026, 12, 12), tools::encode_date(2027, 12, 31), after_today},
      {"next year, reversed", tools::encode_date(2027, 12, 31), tools::encode_date(2027, 1, 1), after_end},
      {"reversed by a day", tools::encode_date(2025, 3, 6), tools::encode_date(2025, 3, 5, 23, 59, 59), after_end},
  };
  for (const auto& c : cases) EXPECT_EQ(date_range_problem(c.from, c.to, today), c.problem) << c.name;
}

TEST(AskFileName, PassesOnlyTheGivenTextsAndKeepsTheNameWhenCancelled) {
  test_support::RecordingHost host;
  host.chosen_paths = {"/tmp/chosen.xml"};
  const std::string dir = "./", title = "Report", empty;
  std::string name = "File TAO ZONA12.xml";
  EXPECT_TRUE(ask_file_name(host, 7, &empty, "File XML|*.xml", &dir, &title, name, false));
  EXPECT_EQ(name, "/tmp/chosen.xml");
  EXPECT_EQ(host.offered.back(), "File TAO ZONA12.xml");
  EXPECT_EQ(host.requests.back().owner, 7u);
  EXPECT_FALSE(host.requests.back().default_extension.has_value());
  EXPECT_EQ(host.requests.back().initial_directory.value_or(""), "./");
  EXPECT_EQ(host.requests.back().title.value_or(""), "Report");
  EXPECT_FALSE(host.requests.back().open);

  name = "File Diabete ZONA12.xml";
  EXPECT_FALSE(ask_file_name(host, 0, nullptr, "File XML|*.xml", nullptr, nullptr, name, true));
  EXPECT_EQ(name, "File Diabete ZONA12.xml");
  EXPECT_FALSE(host.requests.back().initial_directory.has_value());
  EXPECT_TRUE(host.requests.back().open);

  // A name longer than the dialog's buffer is cut to what the buffer holds.
  name = std::string(300, 'a');
  ask_file_name(host, 0, nullptr, "File XML|*.xml", nullptr, nullptr, name, false);
  EXPECT_EQ(host.offered.back().size(), 260u);
}

/// Signs in as "demo" through fake's session and runs programme for 2008, with host
/// answering the dialogs (its chosen_paths give the report's path). With forget_sign_in the calls
/// of the sign-in are cleared from fake.calls before the run.
RunResult signed_in_run_2008(test_support::FakePraxilo& fake, Programme programme, test_support::RecordingHost& host,
                             bool forget_sign_in = false) {
  Tpx_wrap_praxipat session(fake.factory());
  if (!session.init("ImportAnagrafiche", "") || !session.connetti("demo", "demo")) {
    ADD_FAILURE() << "the fake's sign-in failed";
    return {};
  }
  if (forget_sign_in) fake.calls.clear();
  TUser user;
  user.set_codice_regionale("1234");
  platform::XmlDocument doc;
  ExtractionContext context{session, user, doc, tools::encode_date(2008, 1, 1), tools::encode_date(2008, 12, 31),
                            0,       host};
  RunState state;
  return run_extraction(programme, context, state);
}

// ---------------------------------------------------------------------------------
// Faults in the server's answers: each run ends either with the whole report or with a
// failed run that saved nothing, left the earlier file as it was and no file behind.

struct AnswerFaultCase {
  const char* name;
  /// Answers a call in place of the script (nullopt: the script answers); may throw.
  std::optional<platform::Variant> (*fault)(const test_support::RecordedCall& call);
  const char* message;  ///< the run's message; "" when the report is saved
};

bool sql_has(const test_support::RecordedCall& call, const char* method, const char* text) {
  return call.method == method && call.args.size() == 2 && call.args[1].find(text) != std::string::npos;
}

class RunAnswerFaults : public ::testing::TestWithParam<AnswerFaultCase> {};

TEST_P(RunAnswerFaults, ReportIsWholeOrNotSaved) {
  const AnswerFaultCase& c = GetParam();
  test_support::FakePraxilo fake;
  test_support::copy_stylesheets(fake.appdir());
  test_support::TempDir work;
  test_support::ScopedCwd cwd(work.path());
  fake.dump = [](const std::string& database, const std::string& sql) -> std::optional<std::string> {
    if (database == "Praxilo")
      return "\"P1\"\t\"Rossi\"\t\"Anna\"\t\"F\"\t\"CF1\"\t\"19500101\"\t\"058091\"\r\n"
             "\"P2\"\t\"Verdi\"\t\"Bruno\"\t\"M\"\t\"CF2\"\t\"19600101\"\t\"058091\"\r\n";
    if (sql.find("' 703'") != std::string::npos) return "\"7,1\"\t\"20080301\"\r\n";
    return std::string();
  };
  fake.into = [](const std::string&, const std::string& sql) -> std::string {
    if (sql.rfind("SELECT dateformat", 0) == 0) return "2005-05-10";
    return sql.rfind("SELECT ac_val", 0) == 0 ? "A" : "";
  };
  fake.fault = c.fault;

  test_support::RecordingHost host;
  const std::string chosen = work.dir() + "report.xml";
  host.chosen_paths = {chosen};
  test_support::write_file(chosen, "an earlier report");
  const RunResult result = signed_in_run_2008(fake, Programme::diabete, host);

  const std::string saved = test_support::read_file(chosen);
  if (std::string(c.message).empty()) {
    ASSERT_EQ(result.outcome, RunOutcome::saved) << result.message;
    EXPECT_NE(saved.find("<cognome>Rossi</cognome>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<cognome>Verdi</cognome>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<valore>7.1</valore>"), std::string::npos) << saved;
  } else {
    EXPECT_EQ(result.outcome, RunOutcome::failed);
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(host.texts(), std::vector<std::string>{c.message});
    EXPECT_EQ(saved, "an earlier report");
    EXPECT_TRUE(host.navigated.empty());
  }
  EXPECT_EQ(test_support::working_files_left(fake.appdir()), std::vector<std::string>{});
  for (const std::string& dump : fake.dump_files) EXPECT_FALSE(std::filesystem::exists(fake.appdir() + dump)) << dump;
}

std::optional<platform::Variant> sql_error(const char* method, const char* text,
                                           const test_support::RecordedCall& call) {
  if (sql_has(call, method, text)) throw platform::AutomationError("Errore SQL: database is locked");
  return std::nullopt;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RunAnswerFaults,
    ::testing::Values(
        AnswerFaultCase{
            "no_fault",
            [](const test_support::RecordedCall&) -> std::optional<platform::Variant> { return std::nullopt; }, ""},
        AnswerFaultCase{
            "error_at_the_patient_list",
            [](const test_support::RecordedCall& call) { return sql_error("sql_dump_file", "PAZIENTI", call); },
            "Estrazione interrotta: Errore SQL: database is locked"},
        AnswerFaultCase{"error_at_an_enrolment_query",
                        [](const test_support::RecordedCall& call) { return sql_error("sql_into", "'P2'", call); },
                        "Estrazione interrotta: Errore SQL: database is locked"},
        AnswerFaultCase{"error_at_a_section_query",
                        [](const test_support::RecordedCall& call) {
                          return sql_error("sql_dump_file", "codice = 'P2' and ac_code = '1942'", call);
                        },
                        "Estrazione interrotta: Errore SQL: database is locked"},
        AnswerFaultCase{"null_answer",
                        [](const test_support::RecordedCall& call) -> std::optional<platform::Variant> {
                          if (sql_has(call, "sql_into", "SELECT ac_mem")) return platform::Variant::make_null();
                          return std::nullopt;
                        },
                        "Estrazione interrotta: Null non convertibile in testo"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------
// What the server answers as the name of a dump: only a plain file of the installation
// folder or a folder below it, reached through no link and written for the call, is read
// (and removed); any other answer fails the run, which saves nothing and leaves the file
// named as it was. A file that is not there is no rows.

struct DumpAnswerCase {
  const char* name;
  bool posix_only;  ///< links and FIFOs as POSIX makes them
  /// Prepares the installation at appdir (its Temp folder, praxilo.db and the stylesheets
  /// are there) and gives the answer; named is set to what the answer reaches, which must
  /// stay as it is.
  std::string (*prepare)(const std::filesystem::path& appdir, std::filesystem::path& named);
  const char* reason;  ///< the start of the run's reason after "Estrazione interrotta: "; "" no rows
};

void PrintTo(const DumpAnswerCase& c, std::ostream* os) { *os << c.name; }

class RunDumpAnswers : public ::testing::TestWithParam<DumpAnswerCase> {};

TEST_P(RunDumpAnswers, OnlyAPlainFileWrittenForTheCallIsReadAnythingElseFailsTheRun) {
  namespace fs = std::filesystem;
  const DumpAnswerCase& c = GetParam();
  if (c.posix_only && test_support::windows) GTEST_SKIP() << "symbolic links and FIFOs as POSIX makes them";
  // The answer is given for the patient list, then for one section of the first patient.
  for (const char* target : {"PAZIENTI", "codice = 'P1' and ac_code = '1942'"}) {
    SCOPED_TRACE(target);
    test_support::FakePraxilo fake;
    const fs::path appdir = fake.appdir();
    test_support::copy_stylesheets(appdir);
    fs::create_directories(appdir / "Temp");
    test_support::write_file(appdir / "praxilo.db", "il database clinico");
    // The installation's files were written long before the run.
    for (const auto& entry : fs::directory_iterator(appdir))
      if (entry.is_regular_file())
        test_support::set_write_time(entry.path(), std::chrono::system_clock::now() - std::chrono::hours(1));
    test_support::TempDir work;
    test_support::ScopedCwd cwd(work.path());
    fs::path named;
    const std::string answer = c.prepare(appdir, named);
    const fs::file_type named_type = fs::symlink_status(named).type();
    const auto bytes = [](const std::filesystem::path& path) {  // a FIFO is not opened: it would wait
      return fs::is_regular_file(path) ? test_support::read_file(path) : std::string();
    };
    const std::string named_bytes = bytes(named);
    fake.dump = [](const std::string& database, const std::string&) -> std::optional<std::string> {
      if (database == "Praxilo") return "\"P1\"\t\"Rossi\"\t\"Anna\"\t\"F\"\t\"CF1\"\t\"19500101\"\t\"058091\"\r\n";
      return "\"N\"\t\"20080301\"\r\n";
    };
    fake.into = [](const std::string&, const std::string& sql) -> std::string {
      if (sql.rfind("SELECT dateformat", 0) == 0) return "2005-05-10";
      return sql.rfind("SELECT ac_val", 0) == 0 ? "A" : "";
    };
    fake.fault = [target, answer](const test_support::RecordedCall& call) -> std::optional<platform::Variant> {
      if (sql_has(call, "sql_dump_file", target)) return platform::Variant::make_text(answer);
      return std::nullopt;
    };

    test_support::RecordingHost host;
    const std::string chosen = work.dir() + "report.xml";
    host.chosen_paths = {chosen};
    test_support::write_file(chosen, "an earlier report");
    const RunResult result = signed_in_run_2008(fake, Programme::diabete, host);

    const std::string saved = test_support::read_file(chosen);
    const bool list = std::string(target) == "PAZIENTI";
    if (std::string(c.reason).empty()) {
      // No file: no rows. No patient at all, or a patient without that section.
      if (list) {
        EXPECT_EQ(result.outcome, RunOutcome::no_patient) << result.message;
        EXPECT_EQ(saved, "an earlier report");
      } else {
        ASSERT_EQ(result.outcome, RunOutcome::saved) << result.message;
        EXPECT_NE(saved.find("<cognome>Rossi</cognome>"), std::string::npos) << saved;
        EXPECT_EQ(saved.find("<esamePiedi>"), std::string::npos) << saved;
      }
    } else {
      EXPECT_EQ(result.outcome, RunOutcome::failed);
      const std::string expected = std::string("Estrazione interrotta: ") + c.reason;
      EXPECT_EQ(result.message.rfind(expected, 0), 0u) << result.message;
      EXPECT_EQ(host.texts(), std::vector<std::string>{result.message});
      EXPECT_EQ(saved, "an earlier report");
      EXPECT_TRUE(host.navigated.empty());
      EXPECT_EQ(fs::symlink_status(named).type(), named_type) << "left as it was";
      EXPECT_EQ(bytes(named), named_bytes);
    }
    EXPECT_TRUE(fs::exists(appdir / "praxilo.db"));
    EXPECT_EQ(test_support::read_file(appdir / "praxilo.db"), "il database clinico");
    EXPECT_EQ(test_support::working_files_left(appdir), std::vector<std::string>{});
    for (const std::string& dump : fake.dump_files) EXPECT_FALSE(fs::exists(appdir / dump)) << dump;
  }
}

const char* not_written = platform::dump_refusal::not_written;
const char* not_a_file = platform::dump_refusal::not_a_file;

INSTANTIATE_TEST_SUITE_P(
    Answers, RunDumpAnswers,
    ::testing::Values(DumpAnswerCase{"Database", false,
                                     [](const std::filesystem::path& appdir, std::filesystem::path& named) {
                                       named = appdir / "praxilo.db";
                                       return std::string("praxilo.db");
                                     },
                                     not_written},
                      DumpAnswerCase{"Stylesheet", false,
                                     [](const std::filesystem::path& appdir, std::filesystem::path& named) {
                                       named = appdir / "Diabete_to_HTML.xsl";
                                       return std::string("Diabete_to_HTML.xsl");
                                     },
                                     not_written},
                      DumpAnswerCase{"Page", false,
                                     [](const std::filesystem::path& appdir, std::filesystem::path& named) {
                                       // Written a moment ago, by another run.
                                       named = appdir / "ZONA12.html";
                                       test_support::write_file(named, "<html></html>");
                                       return std::string("ZONA12.html");
                                     },
                                     "il file dei risultati indicato da Praxilo è un file di PIV ZONA12: "},
                      DumpAnswerCase{"OperationLog", false,
                                     [](const std::filesystem::path& appdir, std::filesystem::path& named) {
                                       named = appdir / "Temp" / "Log" / "praxipat.log";
                                       std::filesystem::create_directories(named.parent_path());
                                       test_support::write_file(named, "una riga di traccia\r\n");
                                       return std::string("Temp\\Log\\praxipat.log");
                                     },
                                     "il file dei risultati indicato da Praxilo è un file di PIV ZONA12: "},
                      DumpAnswerCase{"AbsolutePath", false,
                                     [](const std::filesystem::path& appdir, std::filesystem::path& named) {
                                       named = appdir / "praxilo.db";
                                       return named.string();  // with a drive on Windows
                                     },
                                     test_support::windows
                                         ? "il file dei risultati indicato da Praxilo indica un'unità: "
                                         : "il file dei risultati indicato da Praxilo ha un percorso assoluto: "},
                      DumpAnswerCase{"ClimbingOutOfTemp", false,
                                     [](const std::filesystem::path& appdir, std::filesystem::path& named) {
                                       named = appdir / "praxilo.db";
                                       return std::string("Temp/../praxilo.db");
                                     },
                                     "il file dei risultati indicato da Praxilo esce dalla cartella di Praxilo: "},
                      DumpAnswerCase{"Folder", false,
                                     [](const std::filesystem::path& appdir, std::filesystem::path& named) {
                                       named = appdir / "Temp" / "cartella";
                                       std::filesystem::create_directory(named);
                                       return std::string("Temp/cartella");
                                     },
                                     not_a_file},
                      DumpAnswerCase{"ThroughAFolderLink", true,
                                     [](const std::filesystem::path& appdir, std::filesystem::path& named) {
                                       // A folder link inside Temp leads out of the installation.
                                       static test_support::TempDir outside;
                                       named = outside.path() / "x";
                                       test_support::write_file(named, "fuori dall'installazione");
                                       std::filesystem::remove(appdir / "Temp" / "link");
                                       std::filesystem::create_directory_symlink(outside.path(),
                                                                                 appdir / "Temp" / "link");
                                       return std::string("Temp/link/x");
                                     },
                                     platform::dump_refusal::through_link},
                      DumpAnswerCase{"LinkToAFile", true,
                                     [](const std::filesystem::path& appdir, std::filesystem::path& named) {
                                       named = appdir / "praxilo.db";
                                       std::filesystem::create_symlink(named, appdir / "Temp" / "dump.txt");
                                       return std::string("Temp/dump.txt");
                                     },
                                     not_a_file},
                      DumpAnswerCase{"Fifo", true,
                                     [](const std::filesystem::path& appdir, std::filesystem::path& named) {
                                       named = appdir / "Temp" / "fifo";
                                       test_support::make_fifo(named);
                                       return std::string("Temp/fifo");
                                     },
                                     not_a_file},
                      DumpAnswerCase{"MissingFileIsNoRows", false,
                                     [](const std::filesystem::path& appdir, std::filesystem::path& named) {
                                       named = appdir / "Temp" / "mai_scritto.txt";
                                       return std::string("Temp/mai_scritto.txt");
                                     },
                                     ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------
// A dump with a line longer than 1 MiB (a file without line ends above all) is not held
// whole: the run fails saying so, saves nothing and leaves no file behind, whether the
// patient list or a section's dump holds the line.

struct LongLineCase {
  const char* name;
  const char* database;  ///< whose dump holds the line: "Praxilo" the list, "Praxilo2" a section
  std::string dump;
};

void PrintTo(const LongLineCase& c, std::ostream* os) { *os << c.name; }

class RunLongLines : public ::testing::TestWithParam<LongLineCase> {};

const std::string patient_line = "\"P1\"\t\"Rossi\"\t\"Anna\"\t\"F\"\t\"CF1\"\t\"19500101\"\t\"058091\"\r\n";
const std::size_t mebibyte = std::size_t{1} << 20;

TEST_P(RunLongLines, FailTheRunAndLeaveNothing) {
  const LongLineCase& c = GetParam();
  test_support::FakePraxilo fake;
  test_support::copy_stylesheets(fake.appdir());
  test_support::TempDir work;
  test_support::ScopedCwd cwd(work.path());
  fake.dump = [&c](const std::string& database, const std::string&) -> std::optional<std::string> {
    if (database == c.database) return c.dump;
    return database == "Praxilo" ? patient_line : std::string();
  };
  fake.into = [](const std::string&, const std::string& sql) -> std::string {
    if (sql.rfind("SELECT dateformat", 0) == 0) return "2005-05-10";
    return sql.rfind("SELECT ac_val", 0) == 0 ? "A" : "";
  };
  test_support::RecordingHost host;
  const std::string chosen = work.dir() + "report.xml";
  host.chosen_paths = {chosen};
  test_support::write_file(chosen, "an earlier report");
  const RunResult result = signed_in_run_2008(fake, Programme::diabete, host);

  const std::string message = "Estrazione interrotta: il file dei risultati di Praxilo ha una riga più lunga di 1 MiB.";
  EXPECT_EQ(result.outcome, RunOutcome::failed);
  EXPECT_EQ(result.message, message);
  EXPECT_EQ(host.texts(), std::vector<std::string>{message});
  EXPECT_EQ(test_support::read_file(chosen), "an earlier report");
  EXPECT_EQ(test_support::working_files_left(fake.appdir()), std::vector<std::string>{});
  for (const std::string& dump : fake.dump_files) EXPECT_FALSE(std::filesystem::exists(fake.appdir() + dump)) << dump;
}

INSTANTIATE_TEST_SUITE_P(
    Values, RunLongLines,
    ::testing::Values(LongLineCase{"ListWithoutLineEnds", "Praxilo", std::string(mebibyte + 1, 'x')},
                      LongLineCase{"ListWithALongLineAfterAPatient", "Praxilo",
                                   patient_line + std::string(mebibyte + 1, 'x') + "\r\n" + patient_line},
                      LongLineCase{"SectionWithoutLineEnds", "Praxilo2", std::string(mebibyte + 1, '7')}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------
// A "Path" value that names no existing folder: the run says the installation is not
// found before it asks for a file or a query, and nothing is made anywhere (no Temp or
// Log folder where the value points, nor under the current directory).

struct BadPathCase {
  const char* name;
  /// The "Path" value for an installation dir and a work dir (the current directory).
  std::string (*path)(const std::filesystem::path& dir);
  bool expand_string = false;  ///< written as hex(2), a string with environment references
};

void PrintTo(const BadPathCase& c, std::ostream* os) { *os << c.name; }

class RunBadInstallationPath : public ::testing::TestWithParam<BadPathCase> {};

TEST_P(RunBadInstallationPath, SaysSoBeforeMakingOrAskingAnything) {
  namespace fs = std::filesystem;
  test_support::FakePraxilo fake;
  test_support::TempDir dir;
  test_support::write_file(dir.path() / "praxilo.exe", "un file, non una cartella");
  test_support::TempDir work;
  test_support::ScopedCwd cwd(work.path());
  // The session is made, signs in and runs with the wrong value, the logs switched on.
  test_support::RegistryFile registry(
      test_support::app_paths_section(GetParam().expand_string
                                          ? test_support::reg_expand_string(GetParam().path(dir.path()))
                                          : test_support::reg_string(GetParam().path(dir.path()))) +
      test_support::switches_section("", "\"yes\"", "\"yes\""));
  EXPECT_FALSE(px_tools::installation_found());
  EXPECT_EQ(installation_problem(), "Installazione di Praxilo non trovata.");

  test_support::RecordingHost host;
  const std::string chosen = work.dir() + "report.xml";
  host.chosen_paths = {chosen};
  const RunResult result = signed_in_run_2008(fake, Programme::tao, host, true);

  EXPECT_EQ(result.outcome, RunOutcome::failed);
  EXPECT_EQ(host.texts(), std::vector<std::string>{"Installazione di Praxilo non trovata."});
  EXPECT_TRUE(host.offered.empty()) << "no file was asked for";
  for (const auto& call : fake.calls) EXPECT_NE(call.method.rfind("sql_", 0), 0u) << call.method;
  EXPECT_TRUE(fs::is_empty(work.path())) << "nothing made under the current directory";
  const auto made = [](const fs::path& where) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(where)) names.push_back(entry.path().filename().string());
    return names;
  };
  EXPECT_EQ(made(dir.path()), std::vector<std::string>{"praxilo.exe"});
  EXPECT_TRUE(test_support::read_file(dir.path() / "praxilo.exe") == "un file, non una cartella");
  EXPECT_EQ(made(fake.appdir()), std::vector<std::string>{}) << "nothing made in the fake's own installation";
}

INSTANTIATE_TEST_SUITE_P(
    Values, RunBadInstallationPath,
    ::testing::Values(
        BadPathCase{"MissingFolder", [](const std::filesystem::path& dir) { return (dir / "manca").string() + ";"; }},
        BadPathCase{"AFile", [](const std::filesystem::path& dir) { return (dir / "praxilo.exe").string(); }},
        BadPathCase{"Relative", [](const std::filesystem::path&) { return std::string("Praxilo;"); }},
        BadPathCase{"Empty", [](const std::filesystem::path&) { return std::string(""); }},
        // An existing folder before a NUL: a reader that stopped there would find it, while
        // every later use saw the whole text.
        BadPathCase{
            "NulAfterAFolder",
            [](const std::filesystem::path& dir) { return dir.string() + '\0' + (dir / "altro").string() + ";"; }},
        BadPathCase{
            "NulAfterAFolderInExpandString",
            [](const std::filesystem::path& dir) { return dir.string() + '\0' + (dir / "altro").string() + ";"; },
            true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
