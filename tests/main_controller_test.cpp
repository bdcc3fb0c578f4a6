// The main window's start-up, once for both windows: the sign-in with its refusals and
// Annulla, and what the window shows after it, through the controller with a recording host
// and a fake window, against an in-process fake of the records product (which shows the
// thread that makes each call). The runs are in integration/main_controller_test.cpp.
#include "app/main_controller.hpp"

#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "fake_main_window.hpp"
#include "fake_praxilo.hpp"
#include "recording_host.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using test_support::FakeWindow;
using test_support::RecordingHost;
using Texts = std::vector<std::string>;

const std::string wrong_credentials = "ERRORE: Dati Utente o Password non riconosciuti.";
const std::string not_titolare = "ERRORE: Procedura riservata ai soli medici titolari.";
const std::string no_regional_code =
    "ERRORE: Il campo obbligatorio \"Codice Regionale\" medico non è stato valorizzato in Praxilo.";

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

}  // namespace

// The folder "Apri cartella" opens, for paths as the save dialogs give them on each system.
struct FolderCase {
  const char* name;
  const char* path;
  const char* folder;
};
class FolderOf : public ::testing::TestWithParam<FolderCase> {};

TEST_P(FolderOf, IsThePathUpToItsLastSeparator) { EXPECT_EQ(folder_of(GetParam().path), GetParam().folder); }

std::vector<FolderCase> folder_cases() {
  std::vector<FolderCase> cases = {
      FolderCase{"Posix", "/home/medico/referti/File Diabete ZONA12.xml", "/home/medico/referti"},
      FolderCase{"Windows", "C:\\Referti\\tao.xml", "C:\\Referti"},
      FolderCase{"BothSeparators", "C:\\Referti/2025\\tao.xml", "C:\\Referti/2025"},
      FolderCase{"AtTheRoot", "/tao.xml", "/"}, FolderCase{"BareName", "tao.xml", "."}};
#ifdef _WIN32
  // A drive's root is that root: "C:" alone is the drive's current folder, which is
  // where a path without a separator after the drive lies.
  cases.push_back(FolderCase{"AtADrivesRoot", "C:\\tao.xml", "C:\\"});
  cases.push_back(FolderCase{"AtADrivesRootWithSlash", "D:/tao.xml", "D:/"});
  cases.push_back(FolderCase{"OnADrivesCurrentFolder", "C:tao.xml", "C:"});
  cases.push_back(FolderCase{"AtTheCurrentDrivesRoot", "\\tao.xml", "\\"});
  cases.push_back(FolderCase{"OnAShare", "\\\\server\\referti\\tao.xml", "\\\\server\\referti"});
#endif
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Paths, FolderOf, ::testing::ValuesIn(folder_cases()),
                         [](const ::testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.name); });
