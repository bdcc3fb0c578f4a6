// The session wrapper against the real stand-in server process on a small fixture
// database: sign-in, attributes, option, both kinds of SQL call, and a server that dies
// between calls or in the middle of a long sequence of them.
#include "records/px_wrap_praxipat.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "child_processes.hpp"
#include "px_fixture.hpp"
#include "recording_host.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using test_support::live_children;
using test_support::wait_until_no_live_children;

// Thirty patients with a few examinations each; codice 3 has a NULL value and codice 5
// has none at all.
constexpr const char* fixture_sql = R"sql(
INSERT INTO utenti VALUES ('demo', 'segreta', 7, 'T', '90412', 'DLANCC70A01F205X', 'Niccolò', 'D''Alò', 'ASL Città di Milano');
INSERT INTO opzioni VALUES ('macchina', 'OPZIONI\regione', 'Lombardia');
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 30)
  INSERT INTO PAZIENTI (CODICE, COGNOME, NOME, SESSO, CODICE_FISCALE, nascita, codice_comune_nasc, DECESSO, PA_CONVENZIONE)
  SELECT i, 'Cognome' || i, 'Nome' || i, CASE WHEN i % 2 = 0 THEN 'F' ELSE 'M' END, 'CF' || i, '1950-01-' || printf('%02d', i % 28 + 1), '015146', NULL, 'S' FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 90)
  INSERT INTO cart_accert (codice, ac_code, ac_val, ac_mem, data_open, time_last)
  SELECT i % 30 + 1, 'GLI', CAST(90 + i AS TEXT), 'memo ' || i, '2024-02-' || printf('%02d', i % 28 + 1), '2024-03-01 10:00:00' FROM n WHERE i % 30 + 1 <> 5;
UPDATE cart_accert SET ac_val = NULL WHERE codice = 3;
)sql";

/// The trace lines in the installation's operation log from the from-th on, without
/// time stamp and tag.
Lines trace(const test_support::Installation& inst, std::size_t from = 0) {
  return test_support::praxipat_trace(inst.appdir(), from);
}

const std::string server_program = "praxilo-server";

/// Why a test of a server process of its own does not apply, or "" when it does.
std::string without_server_process() {
  return test_support::server_form() == test_support::ServerForm::in_process
             ? "the in-process server lives and dies with this process"
             : "";
}

/// Kills the server process and waits until it is gone (a zombie waiting to be reaped).
void kill_server() {
  const auto children = live_children(server_program);
  ASSERT_EQ(children.size(), 1u);
  ASSERT_TRUE(test_support::end_process(children[0]));
  ASSERT_TRUE(wait_until_no_live_children(server_program));
}

class SessionServerTest : public ::testing::Test {
 protected:
  SessionServerTest() : inst_(fixture_sql) {}

  std::unique_ptr<Tpx_wrap_praxipat> signed_in() {
    auto w = std::make_unique<Tpx_wrap_praxipat>();
    EXPECT_TRUE(w->init("ImportAnagrafiche", ""));
    EXPECT_TRUE(w->connetti("demo", "segreta")) << w->last_message();
    return w;
  }

  /// Reads and deletes a dump file named relative to the installation directory.
  std::string take_dump(const std::string& name) {
    const fs::path file = fs::path(inst_.appdir()) / name;
    EXPECT_TRUE(fs::is_regular_file(file)) << name;
    std::string text = test_support::read_file(file);
    fs::remove(file);
    return text;
  }

  test_support::ScopedEnv no_fault_{"PRAXILO_SERVER_EXIT_AFTER", std::nullopt};
  test_support::Installation inst_;
};

TEST_F(SessionServerTest, SignInAttributesAndOption) {
  auto w = signed_in();
  EXPECT_TRUE(w->connected());
  EXPECT_EQ(w->leggi_attributo("userid_utente"), "7");
  struct Case {
    const char* attribute;
    const char* value;
  };
  for (const Case& c :
       {Case{"tipo_praxi", "T"}, Case{"codice_regionale", "90412"}, Case{"codice_fiscale", "DLANCC70A01F205X"},
        Case{"nome", "Niccolò"}, Case{"cognome", "D'Alò"}, Case{"asl_di_convenzione", "ASL Città di Milano"}}) {
    SCOPED_TRACE(c.attribute);
    EXPECT_EQ(w->utente_leggi_attributo(c.attribute), c.value);
  }
  EXPECT_EQ(w->get_opzione("macchina", "OPZIONI\\regione"), "Lombardia");
  EXPECT_EQ(w->get_opzione("macchina", "OPZIONI\\assente"), "");
  EXPECT_EQ(w->last_message(), "");

  // An attribute the server does not know is a failed call of a live server.
  EXPECT_EQ(w->utente_leggi_attributo("colore_preferito"), "");
  EXPECT_EQ(w->last_message(), "Error  -  Tpx_wrap_praxipat.utente_leggi_attributo(): eccezione");
  EXPECT_FALSE(w->failed_with(SessionFailure::Kind::session_lost));

  const Lines lines = trace(inst_);
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 5),
            (Lines{"ole_praxipat := CreateOleObject('Praxilo.Server');", "ole_praxipat.new();",
                   "ole_praxipat.connetti(demo, ****) = ;", "ole_praxipat.get_error();",
                   "ole_praxipat.new_object(i_professionista, ) = ;"}));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "ole_praxipat.utente_leggi_attributo(nome) = Niccolò;"), lines.end());
  EXPECT_EQ(test_support::read_file(fs::path(inst_.appdir()) / "Temp" / "Log" / "praxipat.log").find("segreta"),
            std::string::npos);
}

TEST_F(SessionServerTest, RefusedSignIn) {
  Tpx_wrap_praxipat w;
  ASSERT_TRUE(w.init("ImportAnagrafiche", ""));
  EXPECT_FALSE(w.connetti("demo", "sbagliata"));
  EXPECT_FALSE(w.connected());
  EXPECT_EQ(w.last_message(), "Error  -  Tpx_wrap_praxipat.connetti(): errore in connessione");
  // The refusal is seen only in the trace line.
  const Lines lines = trace(inst_);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[2].starts_with("ole_praxipat.connetti(demo, ****) = ")) << lines[2];
  EXPECT_GT(lines[2].size(), std::string("ole_praxipat.connetti(demo, ****) = ;").size());
}

TEST_F(SessionServerTest, SqlInto) {
  auto w = signed_in();
  struct Case {
    const char* name;
    const char* sql;
    const char* answer;
  };
  const Case cases[] = {
      {"Count", "select count(*) from PAZIENTI", "30"},
      {"Text", "select COGNOME from pazienti where codice = 12", "Cognome12"},
      {"DateBounds",
       "select count(*) from cart_accert where data_open >= cast('2024-02-03' as date) and "
       "data_open <= cast('2024-02-04' as date)",
       "8"},
      {"NoRows", "select COGNOME from PAZIENTI where CODICE = 999", ""},
      {"NullValue", "select ac_val from cart_accert where codice = 3", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(w->sql_into("Praxilo", c.sql), c.answer);
    EXPECT_EQ(w->last_message(), "");
  }
  EXPECT_EQ(w->sql_into("Praxilo", "select nessuna_colonna from PAZIENTI"), "");
  EXPECT_EQ(w->last_message(), "Error  -  Tpx_wrap_praxipat.sql_into(): eccezione");
  EXPECT_FALSE(w->failed_with(SessionFailure::Kind::session_lost));
  // The SQL error did not cost the session.
  EXPECT_EQ(w->sql_into("Praxilo", "select count(*) from PAZIENTI"), "30");
  EXPECT_EQ(trace(inst_).back(), "ole_praxipat.sql_into(Praxilo, select count(*) from PAZIENTI) = 30;");
}

TEST_F(SessionServerTest, SqlDumpFile) {
  auto w = signed_in();
  const std::string name = w->sql_dump_file("Praxilo2",
                                            "select codice, ac_code, ac_val from cart_accert where codice in (2, 3) "
                                            "order by codice, ac_val");
  ASSERT_FALSE(name.empty()) << w->last_message();
  EXPECT_FALSE(fs::path(name).is_absolute());
  std::string text = take_dump(name);
  std::erase(text, '\r');
  EXPECT_EQ(text,
            "2\t\"GLI\"\t\"121\"\n2\t\"GLI\"\t\"151\"\n2\t\"GLI\"\t\"91\"\n"
            "3\t\"GLI\"\t\n3\t\"GLI\"\t\n3\t\"GLI\"\t\n");

  const std::string empty = w->sql_dump_file("Praxilo2", "select codice from cart_accert where codice = 5");
  ASSERT_FALSE(empty.empty());
  EXPECT_EQ(take_dump(empty), "");
  EXPECT_EQ(w->last_message(), "");
}

TEST_F(SessionServerTest, ServerKilledBetweenTwoCalls) {
  if (const std::string why = without_server_process(); !why.empty()) GTEST_SKIP() << why;
  {
    auto w = signed_in();
    ASSERT_EQ(w->sql_into("Praxilo", "select count(*) from PAZIENTI"), "30");
    kill_server();
    const std::size_t mark = trace(inst_).size();

    EXPECT_EQ(w->sql_into("Praxilo", "select count(*) from PAZIENTI"), "30");
    EXPECT_EQ(trace(inst_, mark), (Lines{"ole_praxipat := CreateOleObject('Praxilo.Server');", "ole_praxipat.new();",
                                         "ole_praxipat.connetti(demo, ****) = ;", "ole_praxipat.get_error();",
                                         "ole_praxipat.new_object(i_professionista, ) = ;",
                                         "ole_praxipat.sql_into(Praxilo, select count(*) from PAZIENTI) = 30;"}));
    EXPECT_TRUE(w->connected());
    EXPECT_FALSE(w->failed_with(SessionFailure::Kind::session_lost));
    // The new server holds the signed-in user.
    EXPECT_EQ(w->utente_leggi_attributo("nome"), "Niccolò");
    EXPECT_EQ(live_children(server_program).size(), 1u);
  }
  // Freeing the wrapper ends its server.
  EXPECT_TRUE(wait_until_no_live_children(server_program));
}

TEST_F(SessionServerTest, EndedSessionEndsTheServerAndTheNextCallSignsInAgain) {
  if (const std::string why = without_server_process(); !why.empty()) GTEST_SKIP() << why;
  auto w = signed_in();
  ASSERT_EQ(live_children(server_program).size(), 1u);
  const std::size_t mark = trace(inst_).size();
  w->termina_sessione();
  EXPECT_TRUE(wait_until_no_live_children(server_program));
  EXPECT_FALSE(w->connected());
  EXPECT_EQ(trace(inst_, mark), (Lines{"ole_praxipat.disconnetti();", "ole_praxipat.Destroy();", "ole_praxipat.Free();",
                                       "ole_praxipat := Unassigned;"}));
  w->termina_sessione();  // a second end has nothing left to end

  EXPECT_EQ(w->sql_into("Praxilo", "select count(*) from PAZIENTI"), "30");
  EXPECT_TRUE(w->connected());
  EXPECT_FALSE(w->failed_with(SessionFailure::Kind::session_lost));
  EXPECT_EQ(live_children(server_program).size(), 1u);
}

/// How many patients a long sequence of calls goes through: fewer on Windows, where each
/// restart of the server costs about a second.
constexpr int sequence_patients = test_support::windows ? 12 : 30;

/// A long sequence of calls, one per patient, as an extraction makes them: the answers
/// of sql_into and the contents of the dump files, in order.
Lines run_sequence(Tpx_wrap_praxipat& w, const test_support::Installation& inst) {
  Lines answers;
  for (int codice = 1; codice <= sequence_patients; ++codice) {
    const std::string c = std::to_string(codice);
    answers.push_back(w.sql_into("Praxilo", "select count(*) from cart_accert where codice = " + c));
    const std::string name = w.sql_dump_file(
        "Praxilo2", "select codice, ac_val, ac_mem from cart_accert where codice = " + c + " order by ac_val");
    const fs::path file = fs::path(inst.appdir()) / name;
    answers.push_back(name.empty() ? "<no file>" : test_support::read_file(file));
    if (!name.empty()) fs::remove(file);
    answers.push_back(w.sql_into("Praxilo", "select NOME from PAZIENTI where CODICE = " + c));
  }
  return answers;
}

TEST_F(SessionServerTest, ServerThatKeepsDyingAnswersAsAHealthyOne) {
  if (const std::string why = without_server_process(); !why.empty()) GTEST_SKIP() << why;
  Lines expected;
  {
    auto w = signed_in();
    expected = run_sequence(*w, inst_);
    EXPECT_FALSE(w->failed_with(SessionFailure::Kind::session_lost));
  }
  for (int exit_after : {10, 11, 12, 15, 24}) {
    SCOPED_TRACE("PRAXILO_SERVER_EXIT_AFTER=" + std::to_string(exit_after));
    test_support::ScopedEnv fault("PRAXILO_SERVER_EXIT_AFTER", std::to_string(exit_after));
    const std::size_t mark = trace(inst_).size();
    auto w = signed_in();
    EXPECT_EQ(run_sequence(*w, inst_), expected);
    EXPECT_FALSE(w->failed_with(SessionFailure::Kind::session_lost)) << w->last_message();
    const Lines lines = trace(inst_, mark);
    const auto servers = std::count(lines.begin(), lines.end(), "ole_praxipat := CreateOleObject('Praxilo.Server');");
    EXPECT_GT(servers, 2) << "the fault should have struck several times";
  }
}

TEST_F(SessionServerTest, ALoggingLibraryOfTheOtherArchitectureOnlyLeavesNoTrace) {
#ifndef PZ_I686_BIN_DIR
  GTEST_SKIP() << "needs the 32-bit Windows build's library (PIVZONA12_I686_BUILD)";
#else
  // A 32-bit records product's library beside this 64-bit program cannot be loaded: the
  // session works as without a library.
  const fs::path library = fs::path(inst_.appdir()) / test_support::logging_library_file;
  fs::copy_file(fs::path(PZ_I686_BIN_DIR) / test_support::logging_library_file, library,
                fs::copy_options::overwrite_existing);
  auto w = signed_in();
  EXPECT_EQ(w->sql_into("Praxilo", "select count(*) from PAZIENTI"), "30");
  EXPECT_EQ(w->utente_leggi_attributo("nome"), "Niccolò");
  EXPECT_EQ(w->last_message(), "");
  EXPECT_TRUE(trace(inst_).empty());
#endif
}

// ---------------------------------------------------------------------------------
// A server that does not answer a call: busy (its answer waits while a file exists) or
// stopped where it stands. The call gives up at its time limit, or at once when the user
// stops the run; the session then ends, its server with it (on POSIX), and the next call
// signs in again on a new server. An in-process server's call is given up the same way.

enum class Silence { busy, stopped };

struct SilentServerCase {
  const char* name;
  Silence silence;
  bool user_stops;      ///< the host asks to stop while the call waits
  const char* failure;  ///< the call's failure
};

void PrintTo(const SilentServerCase& c, std::ostream* os) { *os << c.name; }

class SilentServer : public ::testing::TestWithParam<SilentServerCase> {};

TEST_P(SilentServer, TheCallGivesUpAndTheSessionEnds) {
  const SilentServerCase& c = GetParam();
  if (c.silence == Silence::stopped && test_support::windows) GTEST_SKIP() << "no stopped process on Windows";
  test_support::TempDir hold_dir;
  const fs::path hold_file = hold_dir.path() / "hold";
  test_support::ScopedEnv hold{"PRAXILO_SERVER_HOLD_FILE", hold_file.string()};
  // Without an answer within the limit a case of the user's stop fails with the wrong reason.
  test_support::ScopedEnv limit{"PIVZONA12_CALL_TIMEOUT_S", c.user_stops ? "30" : "1"};
  test_support::ScopedEnv no_fault{"PRAXILO_SERVER_EXIT_AFTER", std::nullopt};
  test_support::Installation inst(fixture_sql);
  test_support::RecordingHost host;  // the user stops from another thread through stop
  {
    Tpx_wrap_praxipat w({}, host);
    ASSERT_TRUE(w.init("ImportAnagrafiche", ""));
    ASSERT_TRUE(w.connetti("demo", "segreta")) << w.last_message();
    const auto servers = live_children(server_program);
    if (c.silence == Silence::busy) test_support::write_file(hold_file, "");
    if (c.silence == Silence::stopped) {
      ASSERT_EQ(servers.size(), 1u);
      ASSERT_TRUE(test_support::stop_process(servers[0]));
    }
    std::thread user;
    if (c.user_stops) {
      user = std::thread([&host] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        host.stop = true;
      });
    }
    const std::string answer = w.sql_into("Praxilo", "select count(*) from PAZIENTI");
    if (user.joinable()) user.join();
    EXPECT_EQ(answer, "");
    EXPECT_EQ(w.failure(), (SessionFailure{SessionFailure::Kind::call_failed, c.failure}));
    EXPECT_FALSE(w.failed_with(SessionFailure::Kind::session_lost));
    EXPECT_FALSE(w.connected());
    if (!test_support::windows) {
      // Ended, not left to answer later. On Windows the call is left to a thread of its
      // own, which releases the server once it answers.
      EXPECT_TRUE(wait_until_no_live_children(server_program));
    }

    fs::remove(hold_file);
    host.stop = false;
    w.clear_failure();
    EXPECT_EQ(w.sql_into("Praxilo", "select count(*) from PAZIENTI"), "30");
    EXPECT_TRUE(w.connected());
  }
  EXPECT_TRUE(wait_until_no_live_children(server_program));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SilentServer,
    ::testing::Values(SilentServerCase{"busy_past_the_limit", Silence::busy, false, "Praxilo non risponde."},
                      SilentServerCase{"stopped_past_the_limit", Silence::stopped, false, "Praxilo non risponde."},
                      SilentServerCase{"busy_when_the_user_stops", Silence::busy, true, "estrazione annullata"},
                      SilentServerCase{"stopped_when_the_user_stops", Silence::stopped, true, "estrazione annullata"}),
    [](const ::testing::TestParamInfo<SilentServerCase>& info) { return std::string(info.param.name); });

// A busy server past the limit: the host asks, with the whole wait so far, whether to
// wait once more. The doctor may give the call up at once or after waiting, get the answer
// in the longer wait, or stop the run meanwhile. The limit set on the session wins over
// the environment's.
struct SlowServerCase {
  const char* name;
  std::vector<bool> answers;                                   ///< the doctor's answers in turn (true: Attendi ancora)
  enum class Then { nothing, answer_comes, user_stops } then;  ///< after the first question
  const char* failure;                                         ///< "" when the call answers
  std::vector<std::string> questions;
};

void PrintTo(const SlowServerCase& c, std::ostream* os) { *os << c.name; }

class SlowServer : public ::testing::TestWithParam<SlowServerCase> {};

TEST_P(SlowServer, TheDoctorChoosesEachTimeTheLimitPasses) {
  const SlowServerCase& c = GetParam();
  test_support::TempDir hold_dir;
  const fs::path hold_file = hold_dir.path() / "hold";
  test_support::ScopedEnv hold{"PRAXILO_SERVER_HOLD_FILE", hold_file.string()};
  test_support::ScopedEnv limit{"PIVZONA12_CALL_TIMEOUT_S", "60"};
  test_support::ScopedEnv no_fault{"PRAXILO_SERVER_EXIT_AFTER", std::nullopt};
  test_support::Installation inst(fixture_sql);
  test_support::RecordingHost host;
  host.wait_answers.assign(c.answers.begin(), c.answers.end());
  std::thread user;
  host.on_question = [&](const std::string&) {
    if (host.questions.size() != 1) return;
    if (c.then == SlowServerCase::Then::answer_comes) fs::remove(hold_file);
    if (c.then == SlowServerCase::Then::user_stops) {
      user = std::thread([&host] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        host.stop = true;
      });
    }
  };
  {
    Tpx_wrap_praxipat w({}, host);
    w.set_call_time_limit(std::chrono::seconds(1));
    ASSERT_TRUE(w.init("ImportAnagrafiche", ""));
    ASSERT_TRUE(w.connetti("demo", "segreta")) << w.last_message();
    test_support::write_file(hold_file, "");
    const std::string answer = w.sql_into("Praxilo", "select count(*) from PAZIENTI");
    if (user.joinable()) user.join();
    Lines asked;
    for (const auto& q : host.questions) {
      asked.push_back(q.text);
      EXPECT_EQ(q.caption, "PIV ZONA12");
      EXPECT_EQ(q.flags, frontend::mb_iconwarning);
    }
    EXPECT_EQ(asked, c.questions);
    EXPECT_TRUE(host.boxes.empty());
    if (*c.failure == '\0') {
      EXPECT_EQ(answer, "30");
      EXPECT_EQ(w.failure(), std::nullopt);
      EXPECT_TRUE(w.connected());
    } else {
      EXPECT_EQ(answer, "");
      EXPECT_EQ(w.failure(), (SessionFailure{SessionFailure::Kind::call_failed, c.failure}));
      EXPECT_FALSE(w.connected());
    }

    // Whatever came of it, the next call is answered: on a new session when it was given up,
    // whose server may take more than a second to start (under Wine, on a busy machine).
    fs::remove(hold_file);
    host.stop = false;
    w.set_call_time_limit(std::chrono::seconds(60));
    w.clear_failure();
    EXPECT_EQ(w.sql_into("Praxilo", "select count(*) from PAZIENTI"), "30");
  }
  EXPECT_TRUE(wait_until_no_live_children(server_program));
}

const std::string one_second = "Praxilo non risponde da 1 secondo.";
const std::string two_seconds = "Praxilo non risponde da 2 secondi.";

INSTANTIATE_TEST_SUITE_P(
    Cases, SlowServer,
    ::testing::Values(
        SlowServerCase{"interrompi", {false}, SlowServerCase::Then::nothing, "Praxilo non risponde.", {one_second}},
        SlowServerCase{"attendi_then_interrompi",
                       {true, false},
                       SlowServerCase::Then::nothing,
                       "Praxilo non risponde.",
                       {one_second, two_seconds}},
        SlowServerCase{"attendi_and_the_answer_comes", {true}, SlowServerCase::Then::answer_comes, "", {one_second}},
        SlowServerCase{
            "attendi_then_annulla", {true}, SlowServerCase::Then::user_stops, "estrazione annullata", {one_second}}),
    [](const ::testing::TestParamInfo<SlowServerCase>& info) { return std::string(info.param.name); });

}  // namespace
