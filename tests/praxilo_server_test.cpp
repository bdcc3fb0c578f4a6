// praxilo-server as the records product's SQL and its callers see it: the dialect of the
// queries, the dump files, sign-in, attributes and options, and errors of the call.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/automation.hpp"
#include "praxilo_db.hpp"
#include "test_support.hpp"

using platform::Argument;
using platform::AutomationError;
using platform::Variant;
using test_support::Installation;
using test_support::ScopedEnv;

namespace {

const std::string fixture_sql = R"sql(
INSERT INTO utenti VALUES ('demo', 'Segreta', 7, 'T', '90412', 'DLANCL68C14H501C', 'Niccolò', 'D''Alò', 'ASL Roma 1');
INSERT INTO opzioni VALUES ('macchina', 'OPZIONI\regione', 'LAZIO');
INSERT INTO PAZIENTI (CODICE, COGNOME, NOME) VALUES
  (1, 'Rossi', 'Mario'), (2, 'de Santis', 'Zoè'), (3, 'Dell''Orto', 'Noè'), (4, 'D''Alò', 'Niccolò');
INSERT INTO CART_CONCESSIONI_PIP VALUES (1, 'REG0027');
INSERT INTO cart_accert (codice, ac_code, ac_val, ac_mem, data_open, time_last) VALUES
  (1, ' 731', '10', NULL, '2007-12-31', '2007-12-31 10:00:00'),
  (1, ' 731', '11', NULL, '2008-01-01', '2008-01-01 10:00:00'),
  (1, '3682', '12,5', NULL, '2008-06-15', '2008-06-15 10:00:00'),
  (1, ' 731', '13', NULL, '2008-12-31', '2008-12-31 10:00:00'),
  (1, ' 731', '14', NULL, '2009-01-01', '2009-01-01 10:00:00'),
  (2, '1942', ' ', NULL, '2008-02-01', '2008-02-01 10:00:00'),
  (2, '1942', '', NULL, '2008-02-02', '2008-02-02 10:00:00'),
  (2, '1942', NULL, NULL, '2008-02-03', '2008-02-03 10:00:00'),
  (2, '1942', '  ', NULL, '2008-02-04', '2008-02-04 10:00:00'),
  (2, '1942', 'N', NULL, '2008-02-05', '2008-02-05 10:00:00'),
  (2, '1942', 'n', NULL, '2008-02-06', '2008-02-06 10:00:00'),
  (3, '4250', 'A', 'Arruolamento progetto', '2008-03-01', '2008-03-09 12:00:00'),
  (3, '4250', 'C', 'Chiuso', '2008-05-01', '2008-05-02 12:00:00');
)sql";

// An installation with the fixture, and a server object signed in as demo.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = platform::create_ole_object("Praxilo.Server");
    server->call("new", {});
    ASSERT_EQ(call("connetti", {"demo", "Segreta"}), "");
  }

  std::string call(const std::string& method, const std::vector<std::string>& texts) {
    std::vector<Argument> args;
    for (const std::string& t : texts) args.push_back(Argument::of(t));
    const Variant v = server->call(method, args);
    EXPECT_EQ(v.kind, Variant::Kind::text) << method;
    return v.text;
  }
  std::string sql_into(const std::string& sql) { return call("sql_into", {"Praxilo", sql}); }
  // The dump file's contents; the file is removed, as its readers do.
  std::string dump(const std::string& sql) {
    const std::string name = call("sql_dump_file", {"Praxilo2", sql});
    EXPECT_EQ(name.rfind("Temp/", 0), 0u) << name;
    const std::filesystem::path file = inst.appdir() + name;
    EXPECT_TRUE(std::filesystem::exists(file)) << file;
    const std::string text = test_support::read_file(file);
    std::filesystem::remove(file);
    return text;
  }
  std::string error_of(const std::string& method, const std::vector<std::string>& texts) {
    try {
      call(method, texts);
    } catch (const AutomationError& e) {
      return e.what();
    }
    return "(no error)";
  }

  Installation inst{fixture_sql};
  std::unique_ptr<platform::AutomationObject> server;
};

TEST_F(ServerTest, ALockHeldForAMomentIsWaitedForAndEndedSessionLeavesNoDump) {
  // Another program holds a write lock on the database for a moment, as a database
  // server's clients do: the query waits for it instead of failing.
  std::string error;
  sqlite3* other = praxilo_db::open(inst.db_file().string(), false, error);
  ASSERT_NE(other, nullptr) << error;
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::thread release([other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  });
  EXPECT_EQ(sql_into("SELECT COGNOME FROM PAZIENTI WHERE CODICE = 1"), "Rossi");
  release.join();
  sqlite3_close(other);

  // A dump its reader never removed goes when the session ends.
  const std::string name = call("sql_dump_file", {"Praxilo2", "SELECT 1"});
  ASSERT_TRUE(std::filesystem::exists(inst.appdir() + name));
  server.reset();
  // A COM server ends a moment after its last release; a pipe server is reaped at once.
  for (int i = 0; i < 100 && std::filesystem::exists(inst.appdir() + name); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(std::filesystem::exists(inst.appdir() + name));
}

TEST_F(ServerTest, DateBoundsAreBothInclusive) {
  // The laboratory section's query as the reports send it.
  EXPECT_EQ(dump("SELECT ac_val, dateformat(data_open, 'yyyymmdd') FROM cart_accert WHERE codice = '1' and "
                 "ac_code in ( ' 731', '3682' ) and data_open >= cast('2008-01-01' as date) and data_open <= "
                 "cast('2008-12-31' as date) and ac_val > ' ' ORDER BY data_open desc"),
            "\"13\"\t\"20081231\"\r\n\"12,5\"\t\"20080615\"\r\n\"11\"\t\"20080101\"\r\n");
}

TEST_F(ServerTest, NotBlankExcludesBlanksEmptyAndNull) {
  EXPECT_EQ(dump("SELECT ac_val FROM cart_accert WHERE codice = '2' and ac_val > ' ' ORDER BY data_open"),
            "\"  \"\r\n\"N\"\r\n\"n\"\r\n");
}

TEST_F(ServerTest, TextComparesWithoutCaseAndWithTrailingBlanks) {
  struct Case {
    const char* name;
    std::string sql;
    std::string answer;
  };
  const std::vector<Case> cases = {
      {"names and aliases in any case", "select p.nome from pazienti P where P.CODICE = '1'", "Mario"},
      {"text without regard to case", "SELECT NOME FROM PAZIENTI WHERE COGNOME = 'ROSSI'", "Mario"},
      {"trailing blank is significant", "SELECT NOME FROM PAZIENTI WHERE COGNOME = 'Rossi '", ""},
      {"leading blank of a code is significant", "SELECT count(*) FROM cart_accert WHERE ac_code = '731'", "0"},
      {"incentive code in lower case", "SELECT CODICE FROM CART_CONCESSIONI_PIP WHERE incent_code = 'reg0027'", "1"},
      {"two blanks are more than one", "SELECT count(*) FROM cart_accert WHERE ac_val > ' ' and codice = 2", "3"},
      {"order ignores case",
       "SELECT group_concat(COGNOME, '|') FROM (SELECT COGNOME FROM PAZIENTI WHERE CODICE > 1 ORDER BY COGNOME)",
       "D'Alò|de Santis|Dell'Orto"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(sql_into(c.sql), c.answer);
  }
}

TEST_F(ServerTest, DateformatPatterns) {
  struct Case {
    const char* value;
    const char* pattern;
    const char* answer;
  };
  const std::vector<Case> cases = {
      {"'2008-03-07'", "yyyymmdd", "20080307"},
      {"'2008-03-07'", "yyyy-mm-dd", "2008-03-07"},
      {"'2008-03-07'", "YYYYMMDD", "20080307"},
      {"'2008-03-07'", "dd/mm/yy", "07/03/08"},
      {"'2008-03-07 14:05:09'", "yyyymmdd", "20080307"},
      {"'2008-03-07 14:05:09'", "yyyy-mm-dd hh:mm:ss", "2008-03-07 14:05:09"},
      {"'2008-03-07 14:05:09'", "hh.nn", "14.05"},
      {"'2008-03-07'", "hh:mm", "00:00"},
      {"NULL", "yyyymmdd", ""},
      {"'2008-02-30'", "yyyymmdd", ""},
      {"'non una data'", "yyyymmdd", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.value) + " " + c.pattern);
    EXPECT_EQ(sql_into(std::string("SELECT dateformat(") + c.value + ", '" + c.pattern + "')"), c.answer);
  }
  // The enrolment check's query: the latest record by time_last, its date as the report needs it.
  EXPECT_EQ(sql_into("SELECT dateformat(data_open, 'yyyy-mm-dd' ) from cart_accert WHERE codice = '3' and "
                     "ac_code = '4250' ORDER by time_last desc"),
            "2008-05-01");
}

TEST_F(ServerTest, DateCastsAreRewrittenOnlyOutsideLiterals) {
  EXPECT_EQ(sql_into("select cast('2008-01-31' as date)"), "2008-01-31");
  EXPECT_EQ(sql_into("select CAST ( '2008-01-31'  AS  DATE )"), "2008-01-31");
  EXPECT_EQ(sql_into("select 'cast(''2008-01-31'' as date)'"), "cast('2008-01-31' as date)");
  EXPECT_EQ(error_of("sql_into", {"Praxilo", "select cast('2008-02-30' as date)"}),
            "Errore SQL: Data non valida: cast('2008-02-30' as date)");
}

TEST_F(ServerTest, SqlIntoAnswersTheFirstColumnOfTheFirstRow) {
  EXPECT_EQ(sql_into("SELECT ac_mem, ac_val FROM cart_accert WHERE codice = '3' ORDER by time_last desc"), "Chiuso");
  EXPECT_EQ(sql_into("SELECT ac_mem FROM cart_accert WHERE codice = '99'"), "");
  EXPECT_EQ(sql_into("SELECT NULL"), "");
  EXPECT_EQ(sql_into("SELECT 12"), "12");
}

TEST_F(ServerTest, LongTextsGoBothWaysWhole) {
  // Requests and answers far longer than a usual call's, each arriving in many pieces;
  // the calls around them stay in step.
  for (const std::size_t length : {std::size_t{70'000}, std::size_t{3'000'000}}) {
    SCOPED_TRACE(length);
    std::string text(length, 'x');
    for (std::size_t i = 0; i < length; i += 997) text[i] = static_cast<char>('a' + i % 26);
    EXPECT_EQ(sql_into("SELECT '" + text + "'"), text);
    EXPECT_EQ(sql_into("SELECT 12"), "12");
  }
}

TEST_F(ServerTest, DumpFileFormat) {
  EXPECT_EQ(dump("SELECT 'Rossi', 12, NULL, 7.5, '', 'a' || char(9) || 'b' || char(13) || char(10) || 'c', "
                 "'say \"hi\"' UNION ALL SELECT 'x', -1, 2, 0.25, ' ', '', ''"),
            "\"Rossi\"\t12\t\t7.5\t\"\"\t\"a b  c\"\t\"say \"hi\"\"\r\n\"x\"\t-1\t2\t0.25\t\" \"\t\"\"\t\"\"\r\n");
}

TEST_F(ServerTest, EmptyResultStillGivesAFile) { EXPECT_EQ(dump("SELECT NOME FROM PAZIENTI WHERE CODICE = 99"), ""); }

TEST_F(ServerTest, EveryDumpIsANewFileUnderTemp) {
  std::filesystem::remove_all(inst.appdir() + "Temp");  // made again when missing
  const std::string first = call("sql_dump_file", {"Praxilo2", "SELECT 1"});
  const std::string second = call("sql_dump_file", {"Praxilo2", "SELECT 2"});
  EXPECT_NE(first, second);
  EXPECT_EQ(test_support::read_file(inst.appdir() + first), "1\r\n");
  EXPECT_EQ(test_support::read_file(inst.appdir() + second), "2\r\n");
}

TEST_F(ServerTest, DumpIsWrittenInTheAnsiCodePage) {
  // The code page forced by name (POSIX) or number (Windows); the server inherits it.
  const struct {
    const char* codepage;
    std::string line;
  } cases[] = {
      {test_support::windows ? "65001" : "UTF-8", "\"Niccol\xC3\xB2\"\r\n"},
      {test_support::windows ? "1252" : "CP1252", "\"Niccol\xF2\"\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codepage);
    ScopedEnv codepage("PIVZONA12_CODEPAGE", c.codepage);
    server = platform::create_ole_object("Praxilo.Server");  // a server started with it
    server->call("new", {});
    EXPECT_EQ(dump("SELECT NOME FROM PAZIENTI WHERE CODICE = 4"), c.line);
  }
}

TEST_F(ServerTest, SqlErrorsAreErrorsOfTheCall) {
  struct Case {
    const char* name;
    std::string method;
    std::string database;
    std::string sql;
    std::string error_start;
  };
  const std::vector<Case> cases = {
      {"unknown table", "sql_into", "Praxilo", "SELECT * FROM nessuna", "Errore SQL: no such table: nessuna"},
      {"syntax", "sql_dump_file", "Praxilo2", "SELEC 1", "Errore SQL: "},
      {"two statements", "sql_into", "Praxilo", "SELECT 1; SELECT 2", "Errore SQL: Una sola istruzione SQL"},
      {"empty text", "sql_dump_file", "Praxilo2", "  ", "Errore SQL: Istruzione SQL vuota"},
      {"unknown database", "sql_into", "Altro", "SELECT 1", "Database sconosciuto: Altro"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string error = error_of(c.method, {c.database, c.sql});
    EXPECT_EQ(error.rfind(c.error_start, 0), 0u) << error;
    EXPECT_EQ(call("get_error", {}), error);
  }
  EXPECT_FALSE(std::filesystem::exists(inst.appdir() + "Temp") &&
               !std::filesystem::is_empty(inst.appdir() + "Temp"));  // no file left by a failed dump
  EXPECT_EQ(sql_into("SELECT 1"), "1");                              // and the server goes on
}

TEST_F(ServerTest, SignInAttributesAndOptions) {
  EXPECT_EQ(call("utente_leggi_attributo", {"cognome"}), "D'Alò");
  EXPECT_EQ(call("leggi_attributo", {"userid_utente"}), "7");
  EXPECT_EQ(call("utente_leggi_attributo", {"TIPO_PRAXI"}), "T");
  EXPECT_EQ(error_of("utente_leggi_attributo", {"password"}), "Attributo sconosciuto: password");
  EXPECT_EQ(call("get_opzione", {"macchina", "OPZIONI\\regione"}), "LAZIO");
  EXPECT_EQ(call("get_opzione", {"macchina", "OPZIONI\\mancante"}), "");
  EXPECT_EQ(call("new_object", {"i_professionista", ""}), "");

  EXPECT_NE(call("connetti", {"demo", "segreta"}), "");  // the password compares exactly
  EXPECT_EQ(error_of("utente_leggi_attributo", {"nome"}), "Nessun utente connesso");
  EXPECT_EQ(call("connetti", {"DEMO", "Segreta"}), "");  // the user name does not
  EXPECT_EQ(call("utente_leggi_attributo", {"nome"}), "Niccolò");
  server->call("disconnetti", {Argument::missing()});
  EXPECT_EQ(error_of("leggi_attributo", {"userid_utente"}), "Nessun utente connesso");
}

TEST(PraxiloDb, RewriteKeepsCommentsAndQuotedNames) {
  EXPECT_EQ(praxilo_db::rewrite_dialect("select \"cast('2008-01-01' as date)\" -- cast('2008-01-01' as date)\n").sql,
            "select \"cast('2008-01-01' as date)\" -- cast('2008-01-01' as date)\n");
  EXPECT_EQ(praxilo_db::rewrite_dialect("x>=cast('2008-01-01' as date)/*cast('x' as date)*/").sql,
            "x>='2008-01-01'/*cast('x' as date)*/");
  EXPECT_EQ(praxilo_db::rewrite_dialect("select forecast('2008-01-01' as date)").sql,
            "select forecast('2008-01-01' as date)");
}

}  // namespace
