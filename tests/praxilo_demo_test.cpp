// praxilo-demo run from outside: the installation it makes, the practice's data features,
// its determinism, and a sign-in through the session wrapper on it.
#include <gtest/gtest.h>

#include "child_processes.hpp"
#include "platform/automation.hpp"
#include "platform/paths.hpp"
#include "praxilo_db.hpp"
#include "praxilo_install.hpp"
#include "protocol/automation_protocol.hpp"
#include "records/px_wrap_praxipat.hpp"
#include "test_support.hpp"

using test_support::ScopedCwd;
using test_support::ScopedEnv;
using test_support::TempDir;

namespace {

struct DemoRun {
  int status = -1;
  std::string output;
};

// The command line the demo registers for the class "Praxilo.Server" on an installation.
std::string demo_server_command(const std::filesystem::path& dir) {
  return platform::protocol::join_command_line(
      {platform::path_to_utf8(praxilo_db::program_directory() / praxilo_db::server_file),
       platform::path_to_utf8(dir / "praxilo.db")});
}

// Runs praxilo-demo on dir. On Windows it registers the server class in the system
// registry, which test processes share: the run takes its turn, and the registration
// before it is back afterwards.
DemoRun run_demo(const std::filesystem::path& dir, const std::string& arguments) {
  test_support::ServerClass turn(demo_server_command(dir));
  const std::string command =
      "\"" + test_support::bin_program("praxilo-demo").string() + "\" --dir \"" + dir.string() + "\" " + arguments;
  const test_support::CommandOutput result = test_support::run_command(command);
  return DemoRun{result.status, result.output};
}

// Every row of every table, as text: equal for equal practices.
std::string database_text(const std::filesystem::path& file) {
  std::string error;
  sqlite3* db = praxilo_db::open(file.string(), false, error);
  if (!db) return "cannot open: " + error;
  std::string text;
  for (const char* table : {"PAZIENTI", "NOS_002", "CART_CONCESSIONI_PIP", "cart_accert", "cart_press", "cart_vaccini",
                            "utenti", "opzioni"}) {
    sqlite3_stmt* stmt = nullptr;
    praxilo_db::prepare(db, std::string("SELECT * FROM ") + table + " ORDER BY rowid", &stmt);
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const auto* v = sqlite3_column_text(stmt, i);
        text += v ? reinterpret_cast<const char*>(v) : "<null>";
        text += '\t';
      }
      text += '\n';
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return text;
}

// One demo installation of 2,000 patients shared by the tests of this file.
class DemoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new TempDir;
    run = new DemoRun(run_demo(dir->path() / "inst", "--patients 2000 --seed 5 --today 2024-06-30"));
  }
  static void TearDownTestSuite() {
    delete run;
    delete dir;
  }
  static std::filesystem::path inst() { return dir->path() / "inst"; }

  std::string count(const std::string& sql) {
    std::string error;
    sqlite3* db = praxilo_db::open((inst() / "praxilo.db").string(), false, error);
    EXPECT_TRUE(db) << error;
    if (!db) return {};
    sqlite3_stmt* stmt = nullptr;
    error = praxilo_db::prepare(db, sql, &stmt);
    EXPECT_EQ(error, "") << sql;
    std::string answer;
    if (stmt && sqlite3_step(stmt) == SQLITE_ROW) answer = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return answer;
  }

  static TempDir* dir;
  static DemoRun* run;
};

TempDir* DemoTest::dir = nullptr;
DemoRun* DemoTest::run = nullptr;

TEST_F(DemoTest, MakesAnInstallationDirectory) {
  ASSERT_EQ(run->status, 0) << run->output;
  // The line a shell of the platform takes: sh's export, cmd's set.
  EXPECT_EQ(run->output, test_support::windows
                             ? "set PIVZONA12_REGISTRY=" + (inst() / "registry.reg").string() + "\r\n"
                             : "export PIVZONA12_REGISTRY=" + (inst() / "registry.reg").string() + "\n");
  for (const std::string& file :
       {std::string("praxilo.db"), test_support::logging_library_file, std::string("registry.reg"),
        std::string("Diabete_to_HTML.xsl"), std::string("Tao_to_HTML.xsl"), std::string("Vac_to_HTML.xsl"),
        std::string("intervalli_plausibili.xml")}) {
    SCOPED_TRACE(file);
    EXPECT_TRUE(std::filesystem::exists(inst() / file));
  }
  const std::string registry = test_support::read_file(inst() / "registry.reg");
  EXPECT_EQ(registry.rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u);
  EXPECT_NE(registry.find("\"Path\"=" + praxilo_db::reg_string(inst().string() + ";" +
                                                               test_support::native(inst().string() + "/bin") + ";")),
            std::string::npos);
  EXPECT_NE(registry.find("\"ultimo_utente\"=\"demo\""), std::string::npos);
  EXPECT_EQ(registry.find("debug"), std::string::npos);
  EXPECT_EQ(count("SELECT count(*) FROM PAZIENTI"), "2000");
}

TEST_F(DemoTest, PracticeHasEveryDataFeature) {
  struct Case {
    const char* feature;
    std::string sql;  ///< counts the rows showing the feature
  };
  std::vector<Case> cases = {
      {"accented names", "SELECT count(*) FROM PAZIENTI WHERE COGNOME like '%ò%' or NOME like '%è%'"},
      {"apostrophes", "SELECT count(*) FROM PAZIENTI WHERE COGNOME like '%''%'"},
      {"fiscal codes", "SELECT count(*) FROM PAZIENTI WHERE length(CODICE_FISCALE) = 16"},
      {"ISTAT codes", "SELECT count(*) FROM PAZIENTI WHERE length(codice_comune_nasc) = 6"},
      {"dead patients", "SELECT count(*) FROM PAZIENTI WHERE DECESSO is not null"},
      {"not under convention", "SELECT count(*) FROM PAZIENTI WHERE PA_CONVENZIONE = 'N'"},
      {"revoked", "SELECT count(*) FROM NOS_002 WHERE PA_DREVOCA is not null"},
      {"diabetes incentive", "SELECT count(*) FROM CART_CONCESSIONI_PIP WHERE incent_code = 'REG0027'"},
      {"TAO incentive", "SELECT count(*) FROM CART_CONCESSIONI_PIP WHERE incent_code = 'REG0002'"},
      {"other incentives", "SELECT count(*) FROM CART_CONCESSIONI_PIP WHERE incent_code not in ('REG0027','REG0002')"},
      {"enrolled", "SELECT count(*) FROM cart_accert WHERE ac_code = '4250' and ac_val = 'A' COLLATE BINARY"},
      {"other states", "SELECT count(*) FROM cart_accert WHERE ac_code = '4250' and ac_val <> 'A' COLLATE BINARY"},
      {"several enrolment records",
       "SELECT count(*) FROM (SELECT codice FROM cart_accert WHERE ac_code = '4250' GROUP BY codice "
       "HAVING count(DISTINCT time_last) > 1)"},
      {"long memos", "SELECT count(*) FROM cart_accert WHERE ac_code = '4250' and length(ac_mem) > 10"},
      {"short memos", "SELECT count(*) FROM cart_accert WHERE ac_code = '4250' and length(ac_mem) < 10"},
      {"blank values", "SELECT count(*) FROM cart_accert WHERE ac_val = ' '"},
      {"empty values", "SELECT count(*) FROM cart_accert WHERE ac_val = ''"},
      {"null values", "SELECT count(*) FROM cart_accert WHERE ac_val is null"},
      {"decimal commas", "SELECT count(*) FROM cart_accert WHERE ac_val like '%,%'"},
      {"quoted-looking values", "SELECT count(*) FROM cart_accert WHERE ac_val like '\"%\"'"},
      {"foot N", "SELECT count(*) FROM cart_accert WHERE ac_code = '1942' and ac_val = 'N' COLLATE BINARY"},
      {"foot n", "SELECT count(*) FROM cart_accert WHERE ac_code = '1942' and ac_val = 'n' COLLATE BINARY"},
      {"only the maximum pressure", "SELECT count(*) FROM cart_press WHERE p_max > ' ' and not p_min > ' '"},
      {"only the minimum pressure", "SELECT count(*) FROM cart_press WHERE p_min > ' ' and not p_max > ' '"},
      {"other vaccines",
       "SELECT count(*) FROM cart_vaccini WHERE va_code not in "
       "('0005','IADV','IDRM','ISPL','ISUB','IVRS')"},
      {"records ten years back", "SELECT count(*) FROM cart_accert WHERE data_open < '2015-01-01'"},
      {"records in the last year", "SELECT count(*) FROM cart_accert WHERE data_open >= '2023-07-01'"},
  };
  for (const char* code : {"1940", "1942", "1534", " 731", "3682", " 618", " 616", " 617", " 785", " 703", "3560",
                           "2609", "2832", " 961", "2631"})
    cases.push_back(
        {"examination code", std::string("SELECT count(*) FROM cart_accert WHERE ac_code = '") + code + "'"});
  for (const char* code : {"0005", "IADV", "IDRM", "ISPL", "ISUB", "IVRS"})
    cases.push_back(
        {"influenza code", std::string("SELECT count(*) FROM cart_vaccini WHERE va_code = '") + code + "'"});
  for (const char* doctor : {"1", "2", "3"})
    cases.push_back({"doctor", std::string("SELECT count(*) FROM NOS_002 WHERE pa_medi = ") + doctor});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.feature + (" : " + c.sql));
    EXPECT_GT(std::stoi("0" + count(c.sql)), 0);
  }
  EXPECT_EQ(count("SELECT count(*) FROM cart_accert WHERE data_open > '2024-06-30'"), "0");
}

TEST_F(DemoTest, UsersAndOption) {
  EXPECT_EQ(count("SELECT tipo_praxi || '|' || codice_regionale FROM utenti WHERE nome_utente = 'demo'"), "T|90412");
  EXPECT_EQ(count("SELECT tipo_praxi FROM utenti WHERE nome_utente = 'sostituto'"), "S");
  EXPECT_EQ(count("SELECT tipo_praxi || '|' || codice_regionale || '|' FROM utenti WHERE nome_utente = 'senzacodice'"),
            "T|   |");
  EXPECT_EQ(count("SELECT count(*) FROM utenti WHERE password = 'demo' and (nome like '%ò%' or nome like '%è%')"), "3");
  EXPECT_EQ(count("SELECT valore FROM opzioni WHERE ambito = 'macchina' and percorso = 'OPZIONI\\regione'"), "LAZIO");
}

TEST_F(DemoTest, SameSeedSamePracticeOtherSeedAnother) {
  const DemoRun same = run_demo(dir->path() / "same", "--patients 2000 --seed 5 --today 2024-06-30");
  const DemoRun other = run_demo(dir->path() / "other", "--patients 2000 --seed 6 --today 2024-06-30");
  ASSERT_EQ(same.status, 0);
  ASSERT_EQ(other.status, 0);
  const std::string reference = database_text(inst() / "praxilo.db");
  EXPECT_EQ(database_text(dir->path() / "same" / "praxilo.db"), reference);
  EXPECT_NE(database_text(dir->path() / "other" / "praxilo.db"), reference);
}

TEST_F(DemoTest, RejectsAnImpossibleDay) { EXPECT_EQ(run_demo(dir->path() / "bad", "--today 2024-02-30").status, 2); }

TEST_F(DemoTest, TheDemoDoctorSignsInThroughTheRegistry) {
  ScopedEnv registry("PIVZONA12_REGISTRY", (inst() / "registry.reg").string());
  test_support::ServerClass demo_class(demo_server_command(inst()));  // as the demo registered it
  TempDir work;
  ScopedCwd cwd(work.path());
  auto object = platform::create_ole_object("Praxilo.Server");  // started from the registry's command line
  EXPECT_EQ(object->call("new", {}).kind, platform::Variant::Kind::empty);
  object.reset();

  Tpx_wrap_praxipat session;
  ASSERT_TRUE(session.init("ImportAnagrafiche", ""));
  ASSERT_TRUE(session.connetti("demo", "demo")) << session.last_message();
  EXPECT_EQ(session.utente_leggi_attributo("tipo_praxi"), "T");
  EXPECT_EQ(session.utente_leggi_attributo("cognome"), "D'Alò");
  EXPECT_EQ(session.leggi_attributo("userid_utente"), "1");
  EXPECT_EQ(session.get_opzione("macchina", "OPZIONI\\regione"), "LAZIO");
  EXPECT_FALSE(session.connetti("demo", "sbagliata"));
}

TEST_F(DemoTest, RegistersTheServerClassAndRemovesIt) {
  if (!test_support::windows) GTEST_SKIP() << "on POSIX the class lives only in the installation's registry.reg";
  test_support::ServerClass turn(demo_server_command(dir->path() / "registered"));
  ASSERT_EQ(test_support::run_command("\"" + test_support::bin_program("praxilo-demo").string() +
                                      "\" --patients 10 --dir \"" + (dir->path() / "registered").string() + "\"")
                .status,
            0);
  EXPECT_EQ(platform::create_ole_object("Praxilo.Server")->call("new", {}).kind, platform::Variant::Kind::empty);

  const test_support::CommandOutput removed =
      test_support::run_command("\"" + test_support::bin_program("praxilo-demo").string() + "\" --unregister");
  EXPECT_EQ(removed.status, 0) << removed.output;
  EXPECT_THROW(platform::create_ole_object("Praxilo.Server"), platform::AutomationError);
}

}  // namespace
