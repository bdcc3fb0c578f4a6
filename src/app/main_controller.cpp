#include "app/main_controller.hpp"

#include <cmath>
#include <exception>

#include "app/login.hpp"
#include "app/main_layout.hpp"
#include "platform/paths.hpp"

MainController::MainController(DesktopHost& host, MainView& view, Tpx_wrap_praxipat::ObjectFactory factory)
    : host_(host), view_(view), factory_(std::move(factory)), thread_(host) {}

MainController::~MainController() {
  host_.end_progress();
  end_session();
}

void MainController::end_session() {
  if (session_) thread_.run([this] { session_.reset(); });
}

bool MainController::start() {
  thread_.run([this] { session_ = std::make_unique<Tpx_wrap_praxipat>(factory_, host_); });
  run_state_.report_url.clear();

  view_.run_sign_in();
  if (!admitted_) return false;  // the caller ends the process

  view_.enable_runs();
  patient_count_ = 0;
  const TDateTime today = std::floor(tools::now());
  view_.set_range({today - 365, today});

  user_ = std::move(admitted_);
  view_.show_doctor({user_->get_nome() + " " + user_->get_cognome(), user_->get_codice_regionale(),
                     user_->get_codice_fiscale(), user_->get_asl_di_convenzione()});

  // The option's value is not used: reading it is part of the start-up conversation.
  thread_.run([this] { session_->get_opzione("macchina", "OPZIONI\\regione"); });
  view_.focus_first_control();
  return true;
}

SignInAnswer MainController::attempt_sign_in(const std::string& user_name, const std::string& password) {
  // The window answers while an attempt waits for the records product: one at a time.
  if (attempting_ || !session_ || user_) return SignInAnswer::busy;
  attempting_ = true;
  given_up_ = false;
  admitted_.reset();
  std::unique_ptr<TUser> user;
  try {
    thread_.run([&] { user = sign_in_attempt(user_name, password, *session_, host_); });
  } catch (...) {
    // sign_in_attempt never throws; the thread's own failure admits nobody.
  }
  attempting_ = false;
  if (given_up_) {
    // The window has already closed: even an admitted doctor is not signed in, and the
    // session the attempt opened ends now, on the thread that owns it.
    thread_.run([this] { session_->termina_sessione(); });
    return SignInAnswer::given_up;
  }
  if (!user) return SignInAnswer::refused;
  admitted_ = std::move(user);
  return SignInAnswer::admitted;
}

void MainController::give_up_sign_in() {
  given_up_ = true;
  admitted_.reset();
}

void MainController::run(Programme programme) {
  if (running_ || !session_ || !user_) return;
  running_ = true;
  // The last run's line would read as this one's until it ends.
  view_.set_status(running_status);
  host_.begin_run(programme);
  const DateRange range = view_.range();
  ExtractionContext context{*session_, *user_, XMLDoc, range.from, range.to, 0, host_};
  RunResult result;
  std::string error;
  bool raised = false;
  // The run works on the session thread: the window keeps answering while the records
  // product does, and the host brings every dialog and the view back to the window's thread.
  thread_.run([&] {
    try {
      result = run_extraction(programme, context, run_state_);
    } catch (const std::exception& failure) {
      raised = true;
      error = failure.what();
    } catch (...) {
      raised = true;
      error = "errore sconosciuto";
    }
  });

  if (raised) {
    // Nothing may escape an event handler; the run has saved nothing.
    result = RunResult{};
    result.outcome = RunOutcome::failed;
    result.message = error;
    host_.message_box(error, application_title, frontend::mb_ok | frontend::mb_iconerror);
  }
  // A stopped run may have left the records product in the middle of a query: its session
  // ends here, and the next run signs in again with the same credentials.
  if (result.outcome == RunOutcome::stopped) thread_.run([this] { session_->termina_sessione(); });
  last_run_ = result;
  // A report whose page failed is saved all the same.
  if (result.outcome == RunOutcome::saved || result.outcome == RunOutcome::page_failed) {
    saved_report_ = result.xml_path;
    view_.enable_open_folder(true);
  }
  patient_count_ = context.patient_count;
  host_.end_progress();
  view_.set_status(run_summary(result));
  running_ = false;
}

void MainController::cancel() { host_.request_cancel(); }

std::string folder_of(const std::string& path) {
  std::string_view folder = tools::directory_part(path);
  if (folder.empty()) return ".";
  // The separator after the folder's name goes, but not a root's own: "/" and "C:\" are
  // folders, "C:" is that drive's current folder.
  const bool drive_root = platform::path_separator == '\\' && folder.size() == 3 && folder[1] == ':';
  if (folder.size() > 1 && !drive_root && (folder.back() == '/' || folder.back() == '\\')) folder.remove_suffix(1);
  return std::string(folder);
}

void MainController::open_saved_folder() {
  if (saved_report_.empty()) return;
  const std::string folder = folder_of(saved_report_);
  if (!host_.open_folder(folder))
    host_.message_box(main_layout::open_folder_failure(folder), application_title,
                      frontend::mb_ok | frontend::mb_iconwarning);
}
