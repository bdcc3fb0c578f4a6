// The report builders and the indicator sections on dumps written by hand: field
// helpers, the patient list as a file, the frame of the document, the mappings of the
// sections, and what becomes of the dump and working files.
#include "extract/builders.hpp"

#include <chrono>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "extract/sections.hpp"
#include "fake_praxilo.hpp"
#include "file_size_limit.hpp"
#include "platform/files.hpp"

namespace fs = std::filesystem;

namespace {

using test_support::FakePraxilo;
using test_support::RecordingHost;

TEST(UnquoteField, Cases) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},   {"   ", ""},  {"\t \r", ""},  {"\"Rossi\"", "Rossi"}, {"\"Rossi", "\"Rossi"}, {"Rossi\"", "Rossi\""},
      {"\"", ""}, {"\"\"", ""}, {"\" \"", " "}, {" \"a\"", " \"a\""},   {"Rossi", "Rossi"},     {"\"D'Alò\"", "D'Alò"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(unquote_field(c.in), c.out);
  }
}

TEST(SqlQuote, Cases) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", "''"},    {"  ", "''"},         {"1234", "'1234'"}, {" 12 ", "' 12 '"}, {"O'Neil", "'O''Neil'"},
      {"'", "''''"}, {"a''b", "'a''''b'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(sql_quote(c.in), c.out);
  }
}

TEST(CommaToPoint, ReplacesEveryComma) {
  EXPECT_EQ(comma_to_point("7,2"), "7.2");
  EXPECT_EQ(comma_to_point("1,234,5"), "1.234.5");
  EXPECT_EQ(comma_to_point("1.5"), "1.5");
}

TEST(CopyFile, ReplacesTheTargetAndRaisesOnAMissingSource) {
  test_support::TempDir dir;
  test_support::write_file(dir.path() / "a", "nuovo");
  test_support::write_file(dir.path() / "b", "vecchio contenuto più lungo");
  copy_file((dir.path() / "a").string(), (dir.path() / "b").string());
  EXPECT_EQ(test_support::read_file(dir.path() / "b"), "nuovo");
  EXPECT_THROW(copy_file((dir.path() / "missing").string(), (dir.path() / "c").string()), std::runtime_error);
}

TEST(DumpFileName, ARelativeNameAnywhereInTheInstallationElseWhyNot) {
  const std::string refused = "il file dei risultati indicato da Praxilo ";
  const struct {
    std::string answer;
    std::optional<std::string> relative;
    std::string problem;  ///< after the refusal's start, before ": " and the answer
  } cases[] = {
      {"Temp/dump_000123_4.txt", "Temp/dump_000123_4.txt", ""},
      {"Temp\\dump1.txt", "Temp/dump1.txt", ""},
      {"dump1.txt", "dump1.txt", ""},
      {"Dati\\Estrazioni/x.txt", "Dati/Estrazioni/x.txt", ""},
      {"temp\\a..b.txt", "temp/a..b.txt", ""},
      {"Temp/.x", "Temp/.x", ""},
      {" Temp/x", " Temp/x", ""},
      {"praxilo.db", "praxilo.db", ""},  // refused by its time (read_and_remove_dump)
      {"Temp/Log", "Temp/Log", ""},      // a file named so is no log
      {"/etc/passwd", std::nullopt, "ha un percorso assoluto"},
      {"\\x.txt", std::nullopt, "ha un percorso assoluto"},
      {"\\\\server\\share\\x.txt", std::nullopt, "è in rete"},
      {"//server/share/x.txt", std::nullopt, "è in rete"},
      {"C:\\Praxilo\\Temp\\x.txt", std::nullopt, "indica un'unità"},
      {"C:x.txt", std::nullopt, "indica un'unità"},
      {"Temp/C:x", std::nullopt, "indica un flusso di un altro file"},
      {"Temp/x.txt:flusso", std::nullopt, "indica un flusso di un altro file"},
      {"Temp/../praxilo.db", std::nullopt, "esce dalla cartella di Praxilo"},
      {"..\\fuori.txt", std::nullopt, "esce dalla cartella di Praxilo"},
      {"Temp\\..", std::nullopt, "esce dalla cartella di Praxilo"},
      {"Temp", "Temp", ""},
      {"Temp/", std::nullopt, "non è un nome di file valido"},
      {"Temp//x", std::nullopt, "non è un nome di file valido"},
      {"./Temp/x", std::nullopt, "non è un nome di file valido"},
      {"Temp/.", std::nullopt, "non è un nome di file valido"},
      {"Temp/x.txt.", std::nullopt, "non è un nome di file valido"},
      {"Temp/x.txt ", std::nullopt, "non è un nome di file valido"},
      {std::string("Temp/x\0y", 8), std::nullopt, "non è un nome di file valido"},
      {"Temp/x\ty", std::nullopt, "non è un nome di file valido"},
      {"Temp\\Log\\praxipat.log", std::nullopt, "è un file di PIV ZONA12"},
      {"temp/log/debug.log", std::nullopt, "è un file di PIV ZONA12"},
      {"ZONA12.html", std::nullopt, "è un file di PIV ZONA12"},
      {".ZONA12.html.4242.a1B2c3.tmp", std::nullopt, "è un file di PIV ZONA12"},
      {"Temp\\.Diabetici.txt.4242.a1B2c3.tmp", std::nullopt, "è un file di PIV ZONA12"},
      {"Temp/.Vac.txt.7.x.tmp", std::nullopt, "è un file di PIV ZONA12"},
      {"Temp/.Tao.txt.tmp", "Temp/.Tao.txt.tmp", ""},  // no process id, no token: not ours
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    const DumpFileName name = dump_file_name(c.answer);
    EXPECT_EQ(name.relative, c.relative);
    EXPECT_EQ(name.problem, c.problem.empty() ? "" : refused + c.problem + ": " + c.answer);
  }
}

/// A signed-in session on the fake server, a doctor and a report document, with the
/// current directory in a temporary directory for the working file.
class BuilderTest : public ::testing::Test {
 protected:
  BuilderTest() : in_cwd(cwd.path()) {
    session.init("ImportAnagrafiche", "");
    session.connetti("demo", "demo");
    user.set_codice_regionale("1234");
    user.set_codice_fiscale("RSSMRA60A01H501U");
  }

  /// Builds a programme's report from a patient list; the sections' dumps come from
  /// section_dump (empty files when not set); every enrolment query finds state "A".
  void build(Programme programme, std::optional<std::string> patient_list) {
    fake.dump = [this, patient_list](const std::string& database,
                                     const std::string& sql) -> std::optional<std::string> {
      if (database == "Praxilo") return patient_list;
      return section_dump ? section_dump(sql) : std::string();
    };
    fake.into = [](const std::string&, const std::string& sql) -> std::string {
      if (sql.rfind("SELECT dateformat", 0) == 0) return "2023-05-10";
      if (sql.rfind("SELECT ac_mem", 0) == 0) return "ARRUOLAMENTO PROGETTO";
      return "A";
    };
    context.patient_count = 0;
    build_document(programme_info(programme), "SELECT elenco", context);
  }

  /// The document as text without the production time, which changes with every run.
  std::string document() const {
    std::string text = doc.to_string();
    const auto open = text.find("<dataOraProduzione>");
    if (open != std::string::npos) text.replace(open + 19, 14, "--------------");
    return text;
  }

  FakePraxilo fake;
  test_support::TempDir cwd;
  test_support::ScopedCwd in_cwd;
  Tpx_wrap_praxipat session{fake.factory()};
  TUser user;
  platform::XmlDocument doc;
  RecordingHost host;
  ExtractionContext context{session, user, doc, tools::encode_date(2008, 1, 1), tools::encode_date(2008, 12, 31),
                            0,       host};
  std::function<std::optional<std::string>(const std::string& sql)> section_dump;
};

const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

TEST_F(BuilderTest, TaoFrameWithShortLinesSkippedAndFilesDeleted) {
  build(Programme::tao,
        "\"P1\"\t\"D'Alò\"\t\"Niccolò\"\t\"M\"\t\"DLANCC\"\t\"19500101\"\t\"058091\"\r\n"
        "\r\n"
        "   \n"
        "\"P2\"\t\"Bianchi\"\t\"Anna\"\t\"F\"\t\"BNC\"\t\"19450201\"\n"  // six fields: not a patient
        "P3\t\"Verdi\t   \t\"F\"\tVRD\t19400101\t058091\textra\n");
  EXPECT_EQ(context.patient_count, 2);
  EXPECT_EQ(document(), head +
                            "<tao xmlns=\"http://www.zona12.asl.it/asl/tao\">\n"
                            "  <dataOraProduzione>--------------</dataOraProduzione>\n"
                            "  <medico>\n"
                            "    <codiceRegionale>001234</codiceRegionale>\n"
                            "    <codiceFiscale>RSSMRA60A01H501U</codiceFiscale>\n"
                            "    <assistito>\n"
                            "      <codiceFiscale>DLANCC</codiceFiscale>\n"
                            "      <cognome>D'Alò</cognome>\n"
                            "      <nome>Niccolò</nome>\n"
                            "      <sesso>M</sesso>\n"
                            "      <dataNascita>19500101</dataNascita>\n"
                            "      <comuneNascita>\n"
                            "        <codiceIstat>058091</codiceIstat>\n"
                            "      </comuneNascita>\n"
                            "      <monitoraggio/>\n"
                            "    </assistito>\n"
                            "    <assistito>\n"
                            "      <codiceFiscale>VRD</codiceFiscale>\n"
                            "      <cognome>\"Verdi</cognome>\n"
                            "      <nome/>\n"
                            "      <sesso>F</sesso>\n"
                            "      <dataNascita>19400101</dataNascita>\n"
                            "      <comuneNascita>\n"
                            "        <codiceIstat>058091</codiceIstat>\n"
                            "      </comuneNascita>\n"
                            "      <monitoraggio/>\n"
                            "    </assistito>\n"
                            "  </medico>\n"
                            "</tao>\n");
  // Five lines, of which two are patients: progress counts the patients only.
  EXPECT_EQ(host.progress_calls, (std::vector<std::pair<int, int>>{{0, 2}, {1, 2}, {2, 2}}));
  EXPECT_EQ(test_support::working_files_left(fake.appdir()), std::vector<std::string>{});
  EXPECT_TRUE(fs::is_empty(cwd.path())) << "nothing made in the current directory";
  for (const auto& name : fake.dump_files) EXPECT_FALSE(fs::exists(fake.appdir() + name)) << name;
}

TEST_F(BuilderTest, ProductionTimeHasFourteenDigits) {
  build(Programme::vaccinazioni, "");
  const std::string text = doc.to_string();
  const auto open = text.find("<dataOraProduzione>");
  ASSERT_NE(open, std::string::npos);
  const std::string stamp = text.substr(open + 19, 14);
  EXPECT_EQ(stamp.find_first_not_of("0123456789"), std::string::npos) << stamp;
  EXPECT_EQ(text.substr(open + 33, 2), "</");
}

TEST_F(BuilderTest, RegionalCodeIsPaddedOrCutToSix) {
  const struct {
    const char* code;
    const char* six;
  } cases[] = {{"1234", "001234"}, {"1234567", "234567"}, {"", "000000"}, {"123456", "123456"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    user.set_codice_regionale(c.code);
    build(Programme::vaccinazioni, "");
    EXPECT_NE(doc.to_string().find(std::string("<codiceRegionale>") + c.six + "</codiceRegionale>"), std::string::npos);
  }
}

TEST_F(BuilderTest, AnEmptyListGivesTheFrameOnly) {
  build(Programme::diabete, "");
  EXPECT_EQ(context.patient_count, 0);
  EXPECT_EQ(document(), head +
                            "<diabete xmlns=\"http://www.zona12.asl.it/asl/diabete\">\n"
                            "  <dataOraProduzione>--------------</dataOraProduzione>\n"
                            "  <medico>\n"
                            "    <codiceRegionale>001234</codiceRegionale>\n"
                            "    <codiceFiscale>RSSMRA60A01H501U</codiceFiscale>\n"
                            "  </medico>\n"
                            "</diabete>\n");
}

TEST_F(BuilderTest, NoListLeavesTheDocumentUntouched) {
  build(Programme::tao, "\"P1\"\t\"A\"\t\"B\"\t\"M\"\t\"CF\"\t\"19500101\"\t\"058091\"\n");
  const std::string before = doc.to_string();
  ASSERT_NE(before.find("<tao"), std::string::npos);
  build(Programme::diabete, std::nullopt);  // the server answers no file name
  EXPECT_EQ(doc.to_string(), before);
  EXPECT_EQ(context.patient_count, 0);
}

TEST_F(BuilderTest, AnUnsafeDumpNameFailsTheBuildAndTheFileIsNeitherCopiedNorDeleted) {
  test_support::TempDir outside;
  const std::string list = "\"P1\"\t\"A\"\t\"B\"\t\"M\"\t\"CF\"\t\"19500101\"\t\"058091\"\n";
  const fs::path victim = outside.path() / "victim.txt";
  test_support::write_file(victim, list);
  const fs::path inside = fs::path(fake.appdir()) / "dati.db";  // a file of the installation, not a dump
  test_support::write_file(inside, list);
  test_support::set_write_time(inside, std::chrono::system_clock::now() - std::chrono::minutes(10));
  const std::string climbing = "Temp/../" + fs::relative(victim, fake.appdir()).string();
  const std::string refused = "il file dei risultati indicato da Praxilo ";
  const struct {
    std::string name;
    std::string message;
  } cases[] = {
      {victim.string(),
       refused + (test_support::windows ? "indica un'unità: " : "ha un percorso assoluto: ") + victim.string()},
      {climbing, refused + "esce dalla cartella di Praxilo: " + climbing},
      {"Temp/../dati.db", refused + "esce dalla cartella di Praxilo: Temp/../dati.db"},
      {"dati.db", platform::dump_refusal::not_written + (fs::path(fake.appdir()) / "dati.db").string()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake.dump_name_override = c.name;
    context.patient_count = 0;
    try {
      build_document(programme_info(Programme::tao), "SELECT elenco", context);
      ADD_FAILURE() << "the build went on";
    } catch (const platform::Failure& error) {
      EXPECT_EQ(fs::path(error.what()).make_preferred(), fs::path(c.message).make_preferred());
    }
    EXPECT_EQ(context.patient_count, 0);
    EXPECT_EQ(test_support::read_file(victim), list);
    EXPECT_EQ(test_support::read_file(inside), list);
    EXPECT_EQ(test_support::working_files_left(fake.appdir()), std::vector<std::string>{});
    EXPECT_FALSE(doc.document_element().valid());
  }
}

TEST_F(BuilderTest, ADumpAnywhereInTheInstallationIsReadAndRemoved) {
  const std::string list = "\"P1\"\t\"A\"\t\"B\"\t\"M\"\t\"CF\"\t\"19500101\"\t\"058091\"\n";
  for (const std::string folder : {"", "Temp\\", "Dati/Estrazioni/", "Dati\\Estrazioni\\Oggi\\"}) {
    SCOPED_TRACE(folder);
    fake.dump_folder = folder;
    fake.dump_files.clear();
    context.patient_count = 0;
    build(Programme::tao, list);
    EXPECT_EQ(context.patient_count, 1);
    ASSERT_FALSE(fake.dump_files.empty());
    for (const std::string& dump : fake.dump_files) {
      EXPECT_EQ(dump.rfind(folder, 0), 0u) << dump;
      EXPECT_FALSE(fs::exists(fake.dump_path(dump))) << dump;
    }
  }
}

TEST_F(BuilderTest, DiabetesWritesTheEnrolmentWithTheMemoCutToTenCharacters) {
  build(Programme::diabete, "\"P1\"\t\"A\"\t\"B\"\t\"M\"\t\"CF\"\t\"19500101\"\t\"058091\"\n");
  EXPECT_EQ(context.patient_count, 1);
  const std::string text = doc.to_string();
  EXPECT_NE(text.find("      <presaInCarico>\n"
                      "        <data>20230510</data>\n"
                      "        <codice>ARRUOLAMEN</codice>\n"
                      "      </presaInCarico>\n"
                      "      <monitoraggio/>\n"),
            std::string::npos)
      << text;
}

TEST_F(BuilderTest, AccentedTextsAreReadInTheAnsiCodePage) {
  test_support::ScopedEnv codepage("PIVZONA12_CODEPAGE", "CP1252");
  // "D'Alò" and "Niccolò" in CP1252: ò is the single byte F2.
  build(Programme::tao, "\"P1\"\t\"D'Al\xF2\"\t\"Nicol\xF2\"\t\"M\"\t\"CF\"\t\"19500101\"\t\"058091\"\r\n");
  const std::string text = doc.to_string();
  EXPECT_NE(text.find("<cognome>D'Alò</cognome>"), std::string::npos) << text;
  EXPECT_NE(text.find("<nome>Nicolò</nome>"), std::string::npos) << text;
}

/// A dump longer than the pieces it is read in, its lines cut by the pieces' ends: a CR
/// ends the first piece and its LF begins the second, the second piece ends inside an "ò",
/// and the last line has no line end. Its four lines are "P1", "P2", ... , a second field
/// (kept in seconds), then rest, TAB between them.
struct DumpAcrossPieces {
  std::string dump;
  std::vector<std::string> seconds;

  explicit DumpAcrossPieces(const std::vector<std::string>& rest) {
    const std::size_t piece = platform::file_piece_size;
    const auto length_to = [this](std::size_t end, const std::string& after) {
      return end - dump.size() - std::string("Pn\t").size() - after.size();
    };
    add(std::string(length_to(piece - 1, "\t" + rest[0]), 'a'), rest[0], "\r\n");
    add("Rossi", rest[1], "\r\n");
    add(std::string(length_to(2 * piece - 1, ""), 'b') + "ò", rest[2], "\r\n");
    add("Ultimo", rest[3], "");
    EXPECT_EQ(dump.substr(piece - 1, 2), "\r\n");
    EXPECT_EQ(dump.substr(2 * piece - 1, 2), "ò");
  }

 private:
  void add(const std::string& second, const std::string& rest, const char* end) {
    seconds.push_back(second);
    dump += "P" + std::to_string(seconds.size()) + "\t" + second + "\t" + rest + end;
  }
};

TEST_F(BuilderTest, AListLongerThanAPieceGivesEveryPatientWhole) {
  const std::string rest = "Nome\tM\tCF\t19500101\t058091";
  const DumpAcrossPieces list({rest, rest, rest, rest});
  build(Programme::tao, list.dump);
  EXPECT_EQ(context.patient_count, 4);
  EXPECT_EQ(host.progress_calls, (std::vector<std::pair<int, int>>{{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}}));
  const std::string text = doc.to_string();
  for (const std::string& surname : list.seconds)
    EXPECT_NE(text.find("<cognome>" + surname + "</cognome>"), std::string::npos) << surname.substr(0, 20);
  EXPECT_EQ(text.find("&#13;"), std::string::npos) << "no CR left in a field";
  EXPECT_EQ(test_support::working_files_left(fake.appdir()), std::vector<std::string>{});
}

TEST_F(BuilderTest, SectionRowsLongerThanAPieceAreEachKeptWhole) {
  const std::vector<std::string> dates = {"20080101", "20080202", "20080303", "20080404"};
  const DumpAcrossPieces dump(dates);
  fake.dump = [&dump](const std::string&, const std::string&) -> std::optional<std::string> {
    return dump.dump + "\r\nun solo campo\r\n";
  };
  const std::vector<std::vector<std::string>> rows = read_section_rows(session, "SELECT 1");
  ASSERT_EQ(rows.size(), 4u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rows[i], (std::vector<std::string>{"P" + std::to_string(i + 1), dump.seconds[i], dates[i]}));
  }
}

TEST_F(BuilderTest, ANewBuildReplacesTheDocumentElement) {
  build(Programme::tao, "\"P1\"\t\"A\"\t\"B\"\t\"M\"\t\"CF\"\t\"19500101\"\t\"058091\"\n");
  build(Programme::vaccinazioni, "");
  EXPECT_EQ(doc.document_element().name(), "vaccinazioni");
  EXPECT_EQ(doc.to_string().find("<tao"), std::string::npos);
}

TEST_F(BuilderTest, AWorkingFileThatCannotBeWrittenEndsTheBuildWithAnError) {
#ifdef _WIN32
  GTEST_SKIP() << "a file size limit is POSIX's";
#else
  // The list is there whole; the working file it is copied into refuses bytes part-way.
  const std::string line = "\"P1\"\t\"A\"\t\"B\"\t\"M\"\t\"CF\"\t\"19500101\"\t\"058091\"\n";
  std::string list;
  while (list.size() < 64 * 1024) list += line;
  fs::create_directories(fs::path(fake.appdir()) / "Temp");
  test_support::write_file(fs::path(fake.appdir()) / "Temp" / "elenco.txt", list);
  fake.dump_name_override = "Temp/elenco.txt";
  {
    const test_support::FileSizeLimit limit(16 * 1024);
    EXPECT_THROW(build_document(programme_info(Programme::vaccinazioni), "SELECT elenco", context), platform::Failure);
  }
  EXPECT_EQ(test_support::working_files_left(fake.appdir()), std::vector<std::string>{});
  EXPECT_FALSE(doc.document_element().valid());
#endif
}

TEST_F(BuilderTest, ASessionLostForGoodStopsThePatientLoop) {
  const std::string line = "\"P1\"\t\"A\"\t\"B\"\t\"M\"\t\"CF\"\t\"19500101\"\t\"058091\"\n";
  fake.dump = [this, line](const std::string& database, const std::string&) -> std::optional<std::string> {
    if (database != "Praxilo") return std::string();
    // From now on the server is gone and no new one can be started.
    fake.raising = {"get_error", "new", "sql_dump_file"};
    return line + line + line;
  };
  EXPECT_THROW(build_document(programme_info(Programme::tao), "SELECT elenco", context), platform::Failure);
  EXPECT_TRUE(session.failed_with(SessionFailure::Kind::session_lost));
  EXPECT_EQ(context.patient_count, 1);
  EXPECT_EQ(host.progress_calls.back(), std::make_pair(0, 3));
  EXPECT_FALSE(doc.document_element().valid()) << "a short report never becomes the document";
  EXPECT_EQ(test_support::working_files_left(fake.appdir()), std::vector<std::string>{});
}

/// One section's elements from a dump written by hand.
struct SectionRowsCase {
  const char* name;
  void (*run)(Tpx_wrap_praxipat&, platform::XmlElement&);
  std::string dump;
  std::string elements;  ///< the monitoraggio element as written, indented as in the document
};

void PrintTo(const SectionRowsCase& c, std::ostream* os) { *os << c.name; }

class SectionRows : public BuilderTest, public ::testing::WithParamInterface<SectionRowsCase> {};

TEST_P(SectionRows, WritesOneElementPerUsableLine) {
  const SectionRowsCase& c = GetParam();
  doc.activate();
  platform::XmlElement root = doc.create_root("urn:t", "m");
  fake.dump = [&c](const std::string&, const std::string&) -> std::optional<std::string> { return c.dump; };
  c.run(session, root);
  doc.set_document_element(root);
  const std::string root_element =
      c.elements.empty() ? "<m xmlns=\"urn:t\"/>\n" : "<m xmlns=\"urn:t\">" + c.elements + "</m>\n";
  EXPECT_EQ(doc.to_string(), head + root_element);
  for (const auto& name : fake.dump_files) EXPECT_FALSE(fs::exists(fake.appdir() + name)) << name;
}

const std::string range_start = "cast('2008-01-01' as date)";
const std::string range_end = "cast('2008-12-31' as date)";

INSTANTIATE_TEST_SUITE_P(
    Cases, SectionRows,
    ::testing::Values(
        SectionRowsCase{"FootExam", [](auto& s, auto& m) { add_foot_exam(s, m, "P1", range_start, range_end); },
                        "\"N\"\t\"20081231\"\r\nn\t20080601\n\"\"N\"\"\t20080301\nsolo un campo\n\n"
                        "N\t20080101\textra\n",
                        "\n  <esamePiedi>\n    <data>20081231</data>\n    <esito>Normale</esito>\n  </esamePiedi>\n"
                        "  <esamePiedi>\n    <data>20080601</data>\n    <esito>Patologico</esito>\n  </esamePiedi>\n"
                        "  <esamePiedi>\n    <data>20080301</data>\n    <esito>Patologico</esito>\n  </esamePiedi>\n"
                        "  <esamePiedi>\n    <data>20080101</data>\n    <esito>Normale</esito>\n  </esamePiedi>\n"},
        SectionRowsCase{"FundusExam", [](auto& s, auto& m) { add_fundus_exam(s, m, "P1", range_start, range_end); },
                        "\"NRNL\"\t\"20081231\"\nnrnl\t20080601\n",
                        "\n  <fondoOculare>\n    <data>20081231</data>\n    <esito>Normale</esito>\n  </fondoOculare>\n"
                        "  <fondoOculare>\n    <data>20080601</data>\n    <esito>Patologico</esito>\n"
                        "  </fondoOculare>\n"},
        SectionRowsCase{"SmokingHabit", [](auto& s, auto& m) { add_smoking_habit(s, m, "P1", range_start, range_end); },
                        "\"N\"\t1\n\"X\"\t2\n\"S\"\t3\nx\t4\n",
                        "\n  <abitudineFumo>\n    <data>1</data>\n    <booleano>No</booleano>\n  </abitudineFumo>\n"
                        "  <abitudineFumo>\n    <data>2</data>\n    <booleano>No</booleano>\n  </abitudineFumo>\n"
                        "  <abitudineFumo>\n    <data>3</data>\n    <booleano>Sì</booleano>\n  </abitudineFumo>\n"
                        "  <abitudineFumo>\n    <data>4</data>\n    <booleano>Sì</booleano>\n  </abitudineFumo>\n"},
        SectionRowsCase{"BloodPressureNeedsItsDate",
                        [](auto& s, auto& m) { add_blood_pressure(s, m, "P1", range_start, range_end); },
                        "\"\"\t\"140\"\t\"20080505\"\n\"80\"\t\"20080404\"\n",
                        "\n  <pressioneArteriosa>\n    <data>20080505</data>\n    <min/>\n    <max>140</max>\n"
                        "  </pressioneArteriosa>\n"},
        SectionRowsCase{"LabValueCommas",
                        [](auto& s, auto& m) {
                          add_lab_indicator(s, m, "P1", range_start, range_end, "emoglobinaGlicata", " ' 703' ");
                        },
                        "\"7,2\"\t\"20080505\"\n6.9\t20080404\n",
                        "\n  <emoglobinaGlicata>\n    <data>20080505</data>\n    <valore>7.2</valore>\n"
                        "  </emoglobinaGlicata>\n"
                        "  <emoglobinaGlicata>\n    <data>20080404</data>\n    <valore>6.9</valore>\n"
                        "  </emoglobinaGlicata>\n"},
        SectionRowsCase{"ClinicalCheckIgnoresTheValue",
                        [](auto& s, auto& m) { add_clinical_check(s, m, "P1", range_start, range_end); },
                        "\"\"\t\"20080505\"\n",
                        "\n  <controlloClinico>\n    <data>20080505</data>\n  </controlloClinico>\n"},
        SectionRowsCase{
            "FluVaccination",
            [](auto& s, auto& m) { add_flu_vaccination(s, m, "P1", range_start, range_end, "antiInfluenzale"); },
            "\"ANTINFL\"\t\"20081020\"\n", "\n  <antiInfluenzale>\n    <data>20081020</data>\n  </antiInfluenzale>\n"},
        SectionRowsCase{"EmptyDump", [](auto& s, auto& m) { add_foot_exam(s, m, "P1", range_start, range_end); }, "",
                        ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BuilderTest, ASectionWithoutADumpReadsNoRow) {
  fake.dump = [](const std::string&, const std::string&) -> std::optional<std::string> { return std::nullopt; };
  EXPECT_TRUE(read_section_rows(session, "SELECT 1").empty());
  fake.dump_name_override = "Temp/mai_scritto.txt";
  EXPECT_TRUE(read_section_rows(session, "SELECT 1").empty());
}

}  // namespace
