// The main window's behaviour, once for both windows: the start-up with its sign-in, the
// three runs with Annulla and the status line, through the controller with a recording
// host and a fake window. The sign-in talks to an in-process fake of the records product
// (to see which thread makes each call); the runs to the stand-in server.
#include "app/main_controller.hpp"

#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "fake_praxilo.hpp"
#include "recording_host.hpp"
#include "test_support.hpp"
#include "window_practice.hpp"

namespace {

namespace fs = std::filesystem;
using test_support::RecordingHost;
using Texts = std::vector<std::string>;

const std::string wrong_credentials = "ERRORE: Dati Utente o Password non riconosciuti.";
const std::string not_titolare = "ERRORE: Procedura riservata ai soli medici titolari.";
const std::string no_regional_code =
    "ERRORE: Il campo obbligatorio \"Codice Regionale\" medico non è stato valorizzato in Praxilo.";

/// A window that records what the controller asks of it. Its sign-in window makes the
/// scripted attempts in order and closes on the first that admits the doctor or is given
/// up; after the last, Annulla closes it.
class FakeWindow : public MainView {
 public:
  struct Attempt {
    std::string user, password;
  };
  MainController* controller = nullptr;
  std::vector<Attempt> attempts;
  /// Called in the sign-in window before the attempts (e.g. what the user does meanwhile).
  std::function<void()> on_sign_in;
  std::vector<SignInAnswer> answers;
  Texts events;
  DateRange shown_range;
  DoctorFields doctor;
  std::string status;

  void run_sign_in() override {
    events.push_back("sign-in");
    if (on_sign_in) on_sign_in();
    for (const Attempt& a : attempts) {
      answers.push_back(controller->attempt_sign_in(a.user, a.password));
      if (answers.back() == SignInAnswer::admitted || answers.back() == SignInAnswer::given_up) return;
    }
    controller->give_up_sign_in();
  }
  void enable_runs() override { events.push_back("enable"); }
  void set_range(const DateRange& range) override {
    events.push_back("range");
    shown_range = range;
  }
  DateRange range() const override { return shown_range; }
  void show_doctor(const DoctorFields& fields) override {
    events.push_back("doctor");
    doctor = fields;
  }
  void focus_first_control() override { events.push_back("focus"); }
  void set_status(const std::string& text) override {
    events.push_back("status");
    status = text;
  }
};

/// The lines of the calls the fake received, the session's liveness probe left out.
Texts call_lines(const test_support::FakePraxilo& fake) {
  Texts lines;
  for (const auto& c : fake.calls) {
    if (c.method == "get_error") continue;
    std::string line = c.method;
    for (const auto& a : c.args) line += " " + a;
    lines.push_back(line);
  }
  return lines;
}

// ---------------------------------------------------------------------------------
// The start-up and the sign-in, against the in-process fake.

class StartUp : public ::testing::Test {
 protected:
  StartUp() {
    fake.attributes = {{"userid_utente", "MED1"},       {"tipo_praxi", "T"}, {"codice_regionale", "1234"},
                       {"codice_fiscale", "RSSMRA"},    {"nome", "Mario"},   {"cognome", "Rossi"},
                       {"asl_di_convenzione", "ASL 12"}};
    // Every call the records product receives, with the thread that made it.
    fake.fault = [this](const test_support::RecordedCall&) -> std::optional<platform::Variant> {
      std::lock_guard lock(threads_mutex);
      threads.insert(std::this_thread::get_id());
      return std::nullopt;
    };
    window.controller = &controller;
  }

  // The controller goes first: its session's end still reaches the fake and the set.
  std::mutex threads_mutex;
  std::set<std::thread::id> threads;
  test_support::FakePraxilo fake;
  RecordingHost host;
  FakeWindow window;
  std::optional<MainController> made{std::in_place, host, window, fake.factory()};
  MainController& controller = *made;
};

TEST_F(StartUp, AnAdmittedDoctorFillsTheWindowInOrderAndEveryCallIsOnTheSessionThread) {
  window.attempts = {{"demo", "pw"}};
  ASSERT_TRUE(controller.start());
  EXPECT_TRUE(controller.signed_in());
  EXPECT_EQ(window.answers, std::vector<SignInAnswer>{SignInAnswer::admitted});
  EXPECT_EQ(window.events, (Texts{"sign-in", "enable", "range", "doctor", "focus"}));
  EXPECT_EQ(window.doctor.nominativo, "Mario Rossi");
  EXPECT_EQ(window.doctor.codice_regionale, "1234");
  EXPECT_EQ(window.doctor.codice_fiscale, "RSSMRA");
  EXPECT_EQ(window.doctor.asl, "ASL 12");
  // The year up to today, as dates.
  const TDateTime today = std::floor(tools::now());
  EXPECT_EQ(window.shown_range.to, today);
  EXPECT_EQ(window.shown_range.from, today - 365);
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(host.events, (Texts{"busy", "idle"}));
  // The start-up conversation ends with the "regione" option.
  const Texts calls = call_lines(fake);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "new");
  EXPECT_EQ(calls.back(), "get_opzione macchina OPZIONI\\regione");

  // Made, used and ended on one thread, never the window's.
  const auto made_calls = fake.calls.size();
  made.reset();
  EXPECT_GT(fake.calls.size(), made_calls) << "the session's end reaches the records product";
  ASSERT_EQ(threads.size(), 1u);
  EXPECT_NE(*threads.begin(), std::this_thread::get_id());
}

struct RefusalCase {
  const char* name;
  std::map<std::string, std::string> attributes;  ///< changed from the admitted doctor's
  bool wrong_password;
  Texts boxes;  ///< in order
};

class SignInRefusals : public StartUp, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SignInRefusals, KeepTheSignInOpenUntilAnnullaWithTheirMessagesInOrder) {
  const RefusalCase& c = GetParam();
  for (const auto& [name, value] : c.attributes) fake.attributes[name] = value;
  if (c.wrong_password) fake.connetti_answer = "password errata";
  window.attempts = {{"demo", "pw"}, {"demo", "pw"}};
  EXPECT_FALSE(controller.start());
  EXPECT_FALSE(controller.signed_in());
  EXPECT_EQ(window.answers, (std::vector<SignInAnswer>{SignInAnswer::refused, SignInAnswer::refused}));
  EXPECT_EQ(window.events, Texts{"sign-in"}) << "nothing else is done after Annulla";
  Texts expected = c.boxes;
  expected.insert(expected.end(), c.boxes.begin(), c.boxes.end());
  EXPECT_EQ(host.texts(), expected);
  for (const auto& box : host.boxes) EXPECT_EQ(box.caption, "PIV ZONA12");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignInRefusals,
    ::testing::Values(
        RefusalCase{"wrong_password", {}, true, {wrong_credentials}},
        RefusalCase{"not_titolare", {{"tipo_praxi", "S"}}, false, {not_titolare}},
        RefusalCase{"no_code", {{"codice_regionale", "  "}}, false, {no_regional_code}},
        RefusalCase{"both", {{"tipo_praxi", "t"}, {"codice_regionale", ""}}, false, {not_titolare, no_regional_code}}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST_F(StartUp, ARefusedAttemptCanBeFollowedByOneThatAdmits) {
  // The hook outlives the test's body: the session's end reaches it from the fixture.
  auto first = std::make_shared<bool>(true);
  fake.fault = [first](const test_support::RecordedCall& call) -> std::optional<platform::Variant> {
    if (call.method != "connetti" || !*first) return std::nullopt;
    *first = false;
    return platform::Variant::make_text("password errata");
  };
  window.attempts = {{"demo", "sbagliata"}, {"demo", "pw"}};
  EXPECT_TRUE(controller.start());
  EXPECT_EQ(window.answers, (std::vector<SignInAnswer>{SignInAnswer::refused, SignInAnswer::admitted}));
  EXPECT_EQ(host.texts(), Texts{wrong_credentials});
}

TEST_F(StartUp, AnnullaBeforeAnyAttemptEndsTheStartUp) {
  EXPECT_FALSE(controller.start());
  EXPECT_EQ(window.events, Texts{"sign-in"});
  EXPECT_TRUE(call_lines(fake).empty()) << "nothing reached the records product";
}

TEST_F(StartUp, AnnullaDuringAnAttemptThatThenAdmitsSignsNobodyInAndEndsItsSession) {
  window.attempts = {{"demo", "pw"}};
  // Annulla is pressed while the attempt waits for the records product.
  window.on_sign_in = [&] {
    host.while_waiting = [&] {
      host.while_waiting = nullptr;
      controller.give_up_sign_in();
    };
  };
  EXPECT_FALSE(controller.start());
  EXPECT_EQ(window.answers, std::vector<SignInAnswer>{SignInAnswer::given_up});
  EXPECT_FALSE(controller.signed_in());
  EXPECT_EQ(window.events, Texts{"sign-in"});
  const Texts calls = call_lines(fake);
  EXPECT_NE(std::find(calls.begin(), calls.end(), "connetti demo pw"), calls.end()) << "the attempt went on";
  EXPECT_EQ(calls.back(), "Free <omitted>") << "and its session ended";
  // A run cannot start.
  controller.run(Programme::diabete);
  EXPECT_TRUE(host.offered.empty());
}

// ---------------------------------------------------------------------------------
// The runs, against the stand-in server on the window tests' practice.

class Runs : public ::testing::Test {
 protected:
  Runs() {
    test_support::copy_stylesheets(installation.appdir());
    window.controller = &controller;
    window.attempts = {{"doc", "pw"}};
    started = controller.start();
    window.shown_range = {tools::encode_date(2024, 1, 1), tools::encode_date(2024, 12, 31)};
    window.events.clear();
  }
  std::string work_path(const std::string& name) const { return work.dir() + name; }

  test_support::TempDir work;
  /// The server's answers wait while this file exists (it does not, unless a test writes it).
  const fs::path hold_file = work.path() / "hold";
  // The server reads these when it starts, at the sign-in. A call that Annulla did not end
  // would fail the run at its limit.
  test_support::ScopedEnv hold{"PRAXILO_SERVER_HOLD_FILE", hold_file.string()};
  test_support::ScopedEnv limit{"PIVZONA12_CALL_TIMEOUT_S", "60"};
  test_support::Installation installation{test_support::window_practice};
  test_support::ScopedCwd cwd{work.path()};
  RecordingHost host;
  FakeWindow window;
  MainController controller{host, window};
  bool started = false;
};

TEST_F(Runs, EachProgrammeSavesItsReportShowsItAndSaysSoOnTheStatusLine) {
  ASSERT_TRUE(started);
  struct Case {
    Programme programme;
    const char* file;
    int patients;
  };
  for (const Case& c : {Case{Programme::diabete, "diabete.xml", 2}, Case{Programme::tao, "tao.xml", 1},
                        Case{Programme::vaccinazioni, "vaccinazioni.xml", 1}}) {
    SCOPED_TRACE(c.file);
    host.chosen_paths = {work_path(c.file)};
    window.events.clear();
    controller.run(c.programme);
    EXPECT_FALSE(controller.running());
    EXPECT_EQ(controller.last_run().outcome, RunOutcome::saved) << controller.last_run().message;
    EXPECT_EQ(controller.last_run().patient_count, c.patients);
    EXPECT_EQ(controller.patient_count(), c.patients);
    EXPECT_TRUE(fs::is_regular_file(work_path(c.file)));
    EXPECT_FALSE(controller.report_url().empty());
    EXPECT_EQ(window.events, Texts{"status"});
    EXPECT_EQ(window.status, run_summary(controller.last_run()));
    EXPECT_EQ(window.status.rfind("Salvato: " + work_path(c.file), 0), 0u) << window.status;
  }
  EXPECT_TRUE(host.boxes.empty()) << host.texts().front();
}

TEST_F(Runs, ACancelledSaveDialogRunsNothingAndSaysSo) {
  ASSERT_TRUE(started);
  controller.run(Programme::tao);
  EXPECT_EQ(controller.last_run().outcome, RunOutcome::cancelled);
  EXPECT_EQ(window.status, "Nessun file scelto: estrazione non eseguita.");
  EXPECT_TRUE(controller.report_url().empty());
}

struct AnnullaCase {
  const char* name;
  bool while_a_call_waits;
};

class Annulla : public Runs, public ::testing::WithParamInterface<AnnullaCase> {};

TEST_P(Annulla, StopsTheRunSavesNothingAndTheNextRunSignsInAgain) {
  ASSERT_TRUE(started);
  const std::string path = work_path("diabete.xml");
  test_support::write_file(path, "an older report");
  host.chosen_paths = {path};
  std::thread user;
  host.on_progress = [&](int done, int total) {
    if (!GetParam().while_a_call_waits && done == 1 && total == 2) controller.cancel();
    if (GetParam().while_a_call_waits && total == 0 && !user.joinable()) {
      // The patient list is asked for next; its answer waits while the file exists, and
      // Annulla comes while it waits.
      test_support::write_file(hold_file, "");
      user = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        controller.cancel();
      });
    }
  };
  controller.run(Programme::diabete);
  if (user.joinable()) user.join();
  host.on_progress = nullptr;
  fs::remove(hold_file);

  EXPECT_EQ(controller.last_run().outcome, RunOutcome::stopped) << controller.last_run().message;
  EXPECT_EQ(test_support::read_file(path), "an older report");
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(window.status, "Estrazione annullata: nessun file salvato.");
  EXPECT_NE(std::find(host.progress_texts.begin(), host.progress_texts.end(),
                      "Estrazione diabete in corso|Annullamento in corso\u2026"),
            host.progress_texts.end());
  EXPECT_EQ(host.events.back(), "progress closed");

  host.chosen_paths = {path};
  controller.run(Programme::diabete);
  EXPECT_EQ(controller.last_run().outcome, RunOutcome::saved) << controller.last_run().message;
  EXPECT_EQ(controller.last_run().patient_count, 2);
}

INSTANTIATE_TEST_SUITE_P(Cases, Annulla,
                         ::testing::Values(AnnullaCase{"between_two_patients", false},
                                           AnnullaCase{"while_a_call_waits", true}),
                         [](const ::testing::TestParamInfo<AnnullaCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
