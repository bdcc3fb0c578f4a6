// The main window's runs, once for both windows: the three programmes, the save dialog
// cancelled, Annulla between patients and while a call waits, and the status line, through
// the controller with a recording host and a fake window, against the stand-in server on the
// window tests' practice.
#include "app/main_controller.hpp"

#include <algorithm>
#include <chrono>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "app/main_layout.hpp"
#include "fake_main_window.hpp"
#include "recording_host.hpp"
#include "test_support.hpp"
#include "window_practice.hpp"

namespace {

namespace fs = std::filesystem;
using test_support::FakeWindow;
using test_support::RecordingHost;
using Texts = std::vector<std::string>;

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
    window.statuses.clear();
    // What the status line says while the run works.
    std::string status_while_working;
    host.on_progress = [&](int, int) { status_while_working = window.status; };
    controller.run(c.programme);
    EXPECT_FALSE(controller.running());
    EXPECT_EQ(controller.last_run().outcome, RunOutcome::saved) << controller.last_run().message;
    EXPECT_EQ(controller.last_run().patient_count, c.patients);
    EXPECT_EQ(controller.patient_count(), c.patients);
    EXPECT_TRUE(fs::is_regular_file(work_path(c.file)));
    EXPECT_FALSE(controller.report_url().empty());
    EXPECT_EQ(window.events, (Texts{"status", "status"}));
    EXPECT_EQ(status_while_working, "Estrazione in corso\u2026");
    EXPECT_EQ(window.status, run_summary(controller.last_run()));
    EXPECT_EQ(window.status.rfind("Salvato: " + work_path(c.file), 0), 0u) << window.status;
  }
  EXPECT_TRUE(host.boxes.empty()) << host.texts().front();
  // The progress says what it counts: the patients selected, which a run may not all write.
  EXPECT_NE(std::find(host.progress_texts.begin(), host.progress_texts.end(),
                      "Estrazione diabete in corso|paziente 2 di 2 selezionati"),
            host.progress_texts.end());
}

TEST_F(Runs, ACancelledSaveDialogRunsNothingAndSaysSo) {
  ASSERT_TRUE(started);
  controller.run(Programme::tao);
  EXPECT_EQ(controller.last_run().outcome, RunOutcome::save_dialog_cancelled);
  EXPECT_EQ(window.status, "Nessun file scelto: estrazione non eseguita.");
  EXPECT_TRUE(controller.report_url().empty());
}

// "Apri cartella" opens the folder of the last report saved, through the host; it is
// usable only once a report was saved, a later run that saves nothing keeps it, and a
// folder the file manager does not take is named in a box.
TEST_F(Runs, ApriCartellaOpensTheFolderOfTheLastSavedReport) {
  ASSERT_TRUE(started);
  controller.open_saved_folder();  // nothing saved yet: nothing to open
  EXPECT_TRUE(host.opened_folders.empty());
  EXPECT_FALSE(window.open_folder_enabled);

  fs::create_directory(work_path("referti"));
  host.chosen_paths = {work_path("referti/diabete.xml")};
  controller.run(Programme::diabete);
  ASSERT_EQ(controller.last_run().outcome, RunOutcome::saved) << controller.last_run().message;
  EXPECT_TRUE(window.open_folder_enabled);
  EXPECT_EQ(controller.saved_report(), work_path("referti/diabete.xml"));

  controller.run(Programme::tao);  // the save dialog cancelled: the last saved report stays
  EXPECT_EQ(controller.last_run().outcome, RunOutcome::save_dialog_cancelled);
  controller.open_saved_folder();
  EXPECT_EQ(host.opened_folders, (Texts{work_path("referti")}));
  EXPECT_TRUE(host.boxes.empty());

  host.folder_opens = false;
  controller.open_saved_folder();
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, main_layout::open_folder_failure(work_path("referti")));
  EXPECT_NE(host.boxes[0].text.find(work_path("referti")), std::string::npos);
  EXPECT_EQ(host.boxes[0].flags, frontend::mb_ok | frontend::mb_iconwarning);
}

// A report whose page could not be made is saved all the same: "Apri cartella" opens its
// folder, whether it is the first report saved or one after another in another folder.
TEST_F(Runs, ApriCartellaOpensTheFolderOfAReportSavedWithoutItsPage) {
  ASSERT_TRUE(started);
  fs::remove(fs::path(installation.appdir()) / "Tao_to_HTML.xsl");
  fs::create_directory(work_path("referti"));
  fs::create_directory(work_path("tao"));
  for (const auto& [programme, folder, outcome] : {std::tuple{Programme::tao, "tao", RunOutcome::page_failed},
                                                   std::tuple{Programme::diabete, "referti", RunOutcome::saved},
                                                   std::tuple{Programme::tao, "tao", RunOutcome::page_failed}}) {
    SCOPED_TRACE(folder);
    host.chosen_paths = {work_path(std::string(folder) + "/report.xml")};
    host.opened_folders.clear();
    controller.run(programme);
    ASSERT_EQ(controller.last_run().outcome, outcome) << controller.last_run().message;
    EXPECT_TRUE(window.open_folder_enabled);
    EXPECT_EQ(controller.saved_report(), work_path(std::string(folder) + "/report.xml"));
    controller.open_saved_folder();
    EXPECT_EQ(host.opened_folders, Texts{work_path(folder)});
  }
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

// A run whose patient list does not come within the limit: the doctor is asked over the
// progress dialog, captioned as the run's boxes, and either waits until it comes (the report
// is whole) or gives it up (the run fails as at the limit, nothing saved; the next run signs
// in again).
struct SlowAnswerCase {
  const char* name;
  std::vector<bool> answers;  ///< the doctor's answers (true: Attendi ancora)
  bool answer_comes;          ///< the server answers once the second question is asked
  RunOutcome outcome;
};

class SlowAnswer : public Runs, public ::testing::WithParamInterface<SlowAnswerCase> {};

TEST_P(SlowAnswer, IsTheDoctorsChoiceOverTheProgressDialog) {
  ASSERT_TRUE(started);
  const SlowAnswerCase& c = GetParam();
  // The limit of the sessions signed in from now on: a new one, before the run.
  controller.session_thread().run([this] {
    controller.session()->set_call_time_limit(std::chrono::seconds(1));
    controller.session()->termina_sessione();
    ASSERT_TRUE(controller.session()->verifica_connessione());
  });
  const std::string path = work_path("diabete.xml");
  test_support::write_file(path, "an older report");
  host.chosen_paths = {path};
  host.wait_answers.assign(c.answers.begin(), c.answers.end());
  host.on_progress = [&](int done, int total) {
    if (done == 0 && total == 0) test_support::write_file(hold_file, "");  // the patient list is asked next
  };
  bool progress_up = true;
  host.on_question = [&](const std::string&) {
    progress_up = progress_up && std::count(host.events.begin(), host.events.end(), "progress shown") == 1 &&
                  std::count(host.events.begin(), host.events.end(), "progress closed") == 0;
    if (c.answer_comes && host.questions.size() == 2) fs::remove(hold_file);
  };
  controller.run(Programme::diabete);
  host.on_progress = nullptr;
  host.on_question = nullptr;
  fs::remove(hold_file);

  EXPECT_EQ(controller.last_run().outcome, c.outcome) << controller.last_run().message;
  EXPECT_TRUE(progress_up) << "the question comes over the progress dialog";
  ASSERT_EQ(host.questions.size(), 2u);
  EXPECT_EQ(host.questions[0].text, "Praxilo non risponde da 1 secondo.");
  EXPECT_EQ(host.questions[1].text, "Praxilo non risponde da 2 secondi.");
  for (const auto& q : host.questions) {
    EXPECT_EQ(q.caption, "Estrazione diabete");
    EXPECT_EQ(q.flags, frontend::mb_iconwarning);
  }
  if (c.outcome == RunOutcome::saved) {
    EXPECT_EQ(controller.last_run().patient_count, 2);
    EXPECT_TRUE(host.boxes.empty()) << host.texts().front();
    return;
  }
  // Given up: as a call past the limit always was.
  EXPECT_EQ(host.texts(), (Texts{"Estrazione interrotta: Praxilo non risponde."}));
  EXPECT_EQ(host.boxes[0].caption, "Estrazione diabete");
  EXPECT_EQ(test_support::read_file(path), "an older report");
  EXPECT_EQ(window.status, run_summary(controller.last_run()));
  host.boxes.clear();
  host.chosen_paths = {path};
  controller.run(Programme::diabete);
  EXPECT_EQ(controller.last_run().outcome, RunOutcome::saved) << controller.last_run().message;
  EXPECT_EQ(host.questions.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SlowAnswer,
    ::testing::Values(SlowAnswerCase{"attendi_twice", {true, true}, true, RunOutcome::saved},
                      SlowAnswerCase{"attendi_then_interrompi", {true, false}, false, RunOutcome::failed}),
    [](const ::testing::TestParamInfo<SlowAnswerCase>& info) { return std::string(info.param.name); });

}  // namespace
