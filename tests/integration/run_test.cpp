// The extraction run end to end against praxilo-server on a fixture installation, with
// a host that records what the front end is asked to do.
#include "extract/run.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include <gtest/gtest.h>

#include "app/login.hpp"
#include "child_processes.hpp"
#include "recording_host.hpp"
#include "test_support.hpp"
#include "tools/tools.hpp"

namespace fs = std::filesystem;
using test_support::read_file;

namespace {

const char* practice = R"sql(
INSERT INTO utenti VALUES ('doc', 'pw', 'MED1', 'T', '1234', 'RSSMRA60A01H501U', 'Mario', 'Rossi', 'ASL 12');
INSERT INTO PAZIENTI (CODICE, COGNOME, NOME, SESSO, CODICE_FISCALE, nascita, codice_comune_nasc, DECESSO, PA_CONVENZIONE)
  VALUES ('P1', 'D''Alò', 'Niccolò', 'M', 'DLANCC50A01H501X', '1950-01-01', '058091', NULL, 'S'),
         ('P2', 'Bianchi', 'Anna', 'F', 'BNCNNA45B41H501Y', '1945-02-01', '058091', NULL, 'S');
INSERT INTO NOS_002 (CODICE, pa_medi, PA_DREVOCA) VALUES ('P1', 'MED1', NULL), ('P2', 'MED1', NULL);
INSERT INTO CART_CONCESSIONI_PIP (CODICE, incent_code) VALUES ('P1', 'REG0027'), ('P2', 'REG0002');
INSERT INTO cart_accert (codice, ac_code, ac_val, ac_mem, data_open, time_last)
  VALUES ('P1', '4250', 'A', 'ARRUOLATO 2020', '2020-03-01', '2020-03-01 10:00:00'),
         ('P1', ' 703', '7,2', NULL, '2024-05-10', '2024-05-10 09:00:00'),
         ('P2', '2631', '2,5', NULL, '2024-06-11', '2024-06-11 09:00:00');
INSERT INTO cart_vaccini (codice, va_tipo, va_code, va_data) VALUES ('P2', 'ANTINFL', 'IDRM', '2024-10-20');
)sql";

// Records the host calls (the boxes as every recording host does); the save dialog
// answers with a path chosen by the test.
class RecordingHost : public test_support::RecordingHost {
 public:
  std::string save_path;
  bool confirm = true;
  std::vector<std::string> navigations;
  int refreshes = 0;
  bool visible = false;
  std::vector<frontend::FileDialogRequest> dialogs;

  bool ask_file_name(const frontend::FileDialogRequest& request, std::string& file_name) override {
    dialogs.push_back(request);
    if (confirm) file_name = save_path;
    return confirm;
  }
  void navigate_report(const std::string& url) override { navigations.push_back(url); }
  void refresh_report() override { ++refreshes; }
  void set_report_visible(bool v) override { visible = v; }
  // Asks to stop once progress has reported stop_after patients done (-1: never).
  bool cancel_requested() override {
    return stop_after >= 0 && !progress_calls.empty() && progress_calls.back().first >= stop_after &&
           progress_calls.back().second > 0;
  }
  int stop_after = -1;
};

// Ends every praxilo-server started by this process, as if the records product crashed,
// and waits until they are gone.
void kill_servers() {
  for (const auto server : test_support::live_children("praxilo-server")) test_support::end_process(server);
  ASSERT_TRUE(test_support::wait_until_no_live_children("praxilo-server"));
}

class RunFlow : public ::testing::Test {
 protected:
  RunFlow() : installation(practice), cwd(work.path()) {
    test_support::copy_stylesheets(installation.appdir());
    user = sign_in_attempt("doc", "pw", session, host);
  }

  RunResult run(Programme programme, const std::string& path, TDateTime from, TDateTime to) {
    host.save_path = path;
    ExtractionContext context{session, *user, xml_doc, from, to, 0, host};
    return run_extraction(programme, context, state);
  }

  test_support::Installation installation;
  test_support::TempDir work;
  test_support::ScopedCwd cwd;
  RecordingHost host;
  Tpx_wrap_praxipat session;
  std::unique_ptr<TUser> user;
  platform::XmlDocument xml_doc;
  RunState state;
  const TDateTime from = tools::encode_date(2024, 1, 1), to = tools::encode_date(2024, 12, 31);
};

TEST_F(RunFlow, FirstRunNavigatesLaterRunsRefreshTheSamePage) {
  ASSERT_TRUE(user);
  const std::string xml = work.dir() + "diabete report.xml";
  test_support::write_file(xml, "an older report");
  RunResult first = run(Programme::diabete, xml, from, to);
  ASSERT_EQ(first.outcome, RunOutcome::saved) << first.message;
  EXPECT_EQ(host.dialogs.at(0).filter, "File XML|*.xml");
  EXPECT_EQ(host.dialogs.at(0).title.value_or(""), "Report");
  EXPECT_EQ(host.dialogs.at(0).initial_directory.value_or(""), test_support::native("./"));
  const std::string saved = read_file(xml);
  EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", 0), 0u) << saved;
  EXPECT_NE(saved.find("<cognome>D'Alò</cognome>"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<valore>7.2</valore>"), std::string::npos) << saved;
  EXPECT_FALSE(xml_doc.active()) << "the page is made from the saved file, not from a tree kept beside it";
  const std::string html = test_support::native(installation.appdir() + "ZONA12.html");
  EXPECT_EQ(first.html_path, html);
  const std::string page = read_file(html);
  EXPECT_NE(page.find("Niccolò"), std::string::npos);
  for (const char* stated : {"Periodo: dal 01/01/2024 al 31/12/2024", "<dd>Mario Rossi</dd>", "<dd>ASL 12</dd>"})
    EXPECT_NE(page.find(stated), std::string::npos) << stated;
  EXPECT_EQ(saved.find("Periodo"), std::string::npos) << "the report itself does not change";
  ASSERT_EQ(host.navigations.size(), 1u);
  // A file URL: forward slashes, and a drive letter after a third one.
  std::string url_path = html;
  std::replace(url_path.begin(), url_path.end(), '\\', '/');
  EXPECT_EQ(host.navigations[0], (test_support::windows ? "file:///" : "file://") + url_path);
  EXPECT_TRUE(host.visible);
  EXPECT_TRUE(host.boxes.empty());

  RunResult second = run(Programme::tao, work.dir() + "tao.xml", from, to);
  ASSERT_EQ(second.outcome, RunOutcome::saved) << second.message;
  EXPECT_EQ(host.dialogs.at(1).initial_directory.value_or(""), test_support::native(installation.appdir()));
  EXPECT_EQ(host.navigations.size(), 1u);
  EXPECT_EQ(host.refreshes, 1);
  EXPECT_NE(read_file(html).find("Bianchi"), std::string::npos);
}

TEST_F(RunFlow, NoPatientShowsTheProgrammeMessageAndKeepsTheEarlierPage) {
  ASSERT_EQ(run(Programme::vaccinazioni, work.dir() + "v.xml", from, to).outcome, RunOutcome::saved);
  const std::string page = read_file(installation.appdir() + "ZONA12.html");

  // Nobody was vaccinated in 2020.
  const std::string path = work.dir() + "empty.xml";
  RunResult result =
      run(Programme::vaccinazioni, path, tools::encode_date(2020, 1, 1), tools::encode_date(2020, 12, 31));
  EXPECT_EQ(result.outcome, RunOutcome::no_patient);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Nessun paziente estratto!");
  EXPECT_EQ(host.boxes[0].caption, "Estrazione Vaccinazioni AntiInfluenzali");
  EXPECT_EQ(host.boxes[0].flags, frontend::mb_ok | frontend::mb_iconinformation | frontend::mb_systemmodal);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(read_file(installation.appdir() + "ZONA12.html"), page);
  EXPECT_EQ(host.refreshes, 0);
}

TEST_F(RunFlow, CancelledDialogEndsTheRunSilently) {
  host.confirm = false;
  RunResult result = run(Programme::diabete, work.dir() + "x.xml", from, to);
  EXPECT_EQ(result.outcome, RunOutcome::save_dialog_cancelled);
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_TRUE(host.navigations.empty());
  EXPECT_FALSE(fs::exists(work.dir() + "x.xml"));
}

TEST_F(RunFlow, LostSessionSavesNothingAndSaysSo) {
  ASSERT_TRUE(user);
  // The records product stops and cannot be started again.
  installation.write_registry(
      "[HKEY_CLASSES_ROOT\\Praxilo.Server\\LocalServer32]\n@=\"/nonexistent/praxilo-server\"\n");
  test_support::ServerClass lost_class("/nonexistent/praxilo-server");
  kill_servers();
  const std::string path = work.dir() + "lost.xml";
  RunResult result = run(Programme::diabete, path, from, to);
  EXPECT_EQ(result.outcome, RunOutcome::session_lost);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_NE(host.boxes[0].text.find("connessione con Praxilo"), std::string::npos);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(host.navigations.empty());
}

// A server that stops answering in the middle of a run (stopped where it stands, or on
// Windows busy for good) fails the run at the call's time limit: nothing saved, the
// earlier file kept, the server ended.
TEST_F(RunFlow, AServerThatStopsAnsweringFailsTheRunAtTheLimit) {
  ASSERT_TRUE(user);
  test_support::TempDir hold_dir;
  const fs::path hold_file = hold_dir.path() / "hold";
  const test_support::ScopedEnv hold{"PRAXILO_SERVER_HOLD_FILE", hold_file.string()};
  const test_support::ScopedEnv limit{"PIVZONA12_CALL_TIMEOUT_S", "1"};
  // The session's next call signs in again, on a server that reads both.
  session.termina_sessione();
  ASSERT_TRUE(session.verifica_connessione());
  const auto servers = test_support::live_children("praxilo-server");
  ASSERT_EQ(servers.size(), 1u);
  if (!test_support::stop_process(servers[0])) test_support::write_file(hold_file, "");

  const std::string xml = work.dir() + "diabete.xml";
  test_support::write_file(xml, "an older report");
  const RunResult result = run(Programme::diabete, xml, from, to);
  fs::remove(hold_file);
  EXPECT_EQ(result.outcome, RunOutcome::failed);
  EXPECT_EQ(result.message, "Estrazione interrotta: Praxilo non risponde.");
  EXPECT_EQ(read_file(xml), "an older report");
  EXPECT_TRUE(host.navigations.empty());
  if (!test_support::windows) {
    EXPECT_TRUE(test_support::wait_until_no_live_children("praxilo-server"));
  }
}

TEST_F(RunFlow, ARangeThatCannotBeReportedIsRefusedBeforeTheDialog) {
  const TDateTime tomorrow = std::floor(tools::now()) + 1;
  const struct {
    TDateTime from, to;
    const char* message;
  } cases[] = {
      {to, from, "La data iniziale (Dal) è successiva alla data finale (Al)."},
      {tomorrow, tomorrow + 365, "La data iniziale (Dal) è successiva alla data odierna."},
  };
  for (const auto& c : cases) {
    host.boxes.clear();
    RunResult result = run(Programme::diabete, work.dir() + "x.xml", c.from, c.to);
    EXPECT_EQ(result.outcome, RunOutcome::refused);
    EXPECT_EQ(host.texts(), std::vector<std::string>{c.message});
    EXPECT_TRUE(host.dialogs.empty());
    EXPECT_FALSE(std::filesystem::exists(work.dir() + "x.xml"));
  }
}

TEST_F(RunFlow, OutputThatCannotTakeAReportKeepsWhatIsThere) {
  const struct {
    const char* name;
    std::string path;
    RunOutcome outcome;
    const char* message;
  } cases[] = {
      // A directory is refused before any query and left as it is.
      {"directory", work.dir() + "taken.xml", RunOutcome::refused, "è una cartella"},
      // A directory that does not exist: the save fails and says so.
      {"missing directory", work.dir() + "missing/r.xml", RunOutcome::save_failed, "Impossibile salvare il report"},
  };
  fs::create_directory(work.dir() + "taken.xml");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    host.boxes.clear();
    RunResult result = run(Programme::diabete, c.path, from, to);
    EXPECT_EQ(result.outcome, c.outcome);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_NE(host.boxes[0].text.find(c.message), std::string::npos) << host.boxes[0].text;
    EXPECT_TRUE(host.navigations.empty());
  }
  EXPECT_TRUE(fs::is_directory(work.dir() + "taken.xml"));
  EXPECT_FALSE(fs::exists(work.dir() + "missing"));
}

TEST_F(RunFlow, APageThatIsNotProducedIsNotShownAsTheNewReport) {
  ASSERT_EQ(run(Programme::tao, work.dir() + "t.xml", from, to).outcome, RunOutcome::saved);
  fs::remove(installation.appdir() + "Diabete_to_HTML.xsl");
  const std::string path = work.dir() + "d.xml";
  RunResult result = run(Programme::diabete, path, from, to);
  EXPECT_EQ(result.outcome, RunOutcome::page_failed);
  EXPECT_EQ(result.xml_path, path);
  EXPECT_EQ(result.html_path, "");
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text,
            "Il report è stato salvato in " + path + ", ma la pagina non è stata prodotta: file xslt non trovato");
  EXPECT_FALSE(host.visible) << "the earlier programme's page stays hidden";
  EXPECT_EQ(host.refreshes, 0);
  EXPECT_NE(read_file(path).find("<diabete"), std::string::npos);
}

TEST_F(RunFlow, WithoutAnInstallationNothingIsAskedNorMade) {
  // A registry without the installation's App Paths.
  test_support::write_file(installation.registry_file(),
                           "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_CLASSES_ROOT\\Praxilo.Server\\LocalServer32]\r\n@=\"/nonexistent\"\r\n");
  RunResult result = run(Programme::tao, work.dir() + "x.xml", from, to);
  EXPECT_EQ(result.outcome, RunOutcome::failed);
  EXPECT_EQ(host.texts(), std::vector<std::string>{"Installazione di Praxilo non trovata."});
  EXPECT_TRUE(host.dialogs.empty());
}

}  // namespace

// The user stops the run before its first patient: nothing is saved, an earlier file of
// that name is intact, no message is shown, the page is not touched, and the next run of
// the same window is whole.
TEST_F(RunFlow, StoppedRunSavesNothingAndLeavesTheEarlierFile) {
  ASSERT_TRUE(user);
  const std::string xml = work.dir() + "vaccinazioni.xml";
  test_support::write_file(xml, "an older report");
  host.stop_after = 0;
  RunResult result = run(Programme::vaccinazioni, xml, from, to);
  EXPECT_EQ(result.outcome, RunOutcome::stopped);
  EXPECT_EQ(read_file(xml), "an older report");
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_TRUE(host.navigations.empty());
  EXPECT_FALSE(fs::exists(installation.appdir() + "ZONA12.html"));
  ASSERT_FALSE(host.progress_calls.empty());
  EXPECT_EQ(host.progress_calls.front(), std::make_pair(0, 0));  // started, total not known yet
  EXPECT_EQ(host.progress_calls.back(), std::make_pair(0, 1));
  EXPECT_EQ(test_support::working_files_left(installation.appdir()), std::vector<std::string>{});  // removed

  host.stop_after = -1;
  RunResult whole = run(Programme::vaccinazioni, xml, from, to);
  ASSERT_EQ(whole.outcome, RunOutcome::saved) << whole.message;
  EXPECT_EQ(whole.patient_count, 1);
  EXPECT_NE(read_file(xml).find("Bianchi"), std::string::npos);
}

// Stopped once its only patient is written: the part already in the temporary file goes
// with it, and nothing but the earlier file stays in the directory.
TEST_F(RunFlow, AStopAfterTheLastPatientLeavesNoPartOfTheReport) {
  ASSERT_TRUE(user);
  const fs::path dir = work.path() / "reports";
  fs::create_directory(dir);
  const std::string xml = (dir / "vaccinazioni.xml").string();
  test_support::write_file(xml, "an older report");
  host.stop_after = 1;
  EXPECT_EQ(run(Programme::vaccinazioni, xml, from, to).outcome, RunOutcome::stopped);
  EXPECT_EQ(host.progress_calls.back(), std::make_pair(1, 1));
  EXPECT_EQ(read_file(xml), "an older report");
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir)) left.push_back(entry.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"vaccinazioni.xml"});
}
