#pragma once
// What the main window does, for both windows: the start-up with the doctor's sign-in,
// the three programmes' runs with their cancel, and the status line. The controller owns
// the session with the records product (made, used and ended on its own session thread),
// the doctor's identity record, the report document and what the runs keep; the window
// only draws, through the MainView interface, and shows its platform's dialogs.
#include <cstdint>
#include <memory>
#include <string>

#include "app/desktop_host.hpp"
#include "app/session_thread.hpp"
#include "extract/programmes.hpp"
#include "extract/run.hpp"
#include "records/TUser.hpp"
#include "records/px_wrap_praxipat.hpp"
#include "tools/tools.hpp"
#include "xml/xmldoc.hpp"

/// The doctor's data the window shows, as the window's four fields take it.
struct DoctorFields {
  std::string nominativo;  ///< "nome cognome"
  std::string codice_regionale;
  std::string codice_fiscale;
  std::string asl;
};

/// A run's date range as the window's pickers hold it (dates at midnight).
struct DateRange {
  TDateTime from = 0;
  TDateTime to = 0;
};

/// What the controller asks of the window.
class MainView {
 public:
  virtual ~MainView() = default;
  /// Shows the modal sign-in window, whose OK calls MainController::attempt_sign_in and
  /// whose Annulla (or close box) calls MainController::give_up_sign_in and closes it.
  /// Returns when it has closed.
  virtual void run_sign_in() = 0;
  /// The run buttons that wait for the sign-in become usable.
  virtual void enable_runs() = 0;
  virtual void set_range(const DateRange& range) = 0;
  virtual DateRange range() const = 0;
  virtual void show_doctor(const DoctorFields& doctor) = 0;
  /// The focus goes to the window's first control (Chiudi).
  virtual void focus_first_control() = 0;
  virtual void set_status(const std::string& text) = 0;
  /// "Apri cartella" becomes usable (a report was saved) or not.
  virtual void enable_open_folder(bool enabled) = 0;
};

/// The status line while a run works.
inline constexpr const char* running_status = "Estrazione in corso\u2026";

/// What one sign-in attempt came to.
enum class SignInAnswer {
  admitted,  ///< the doctor is admitted: the sign-in window closes
  refused,   ///< refused, its messages shown: the window stays for another attempt
  given_up,  ///< Annulla came during the attempt: the window has closed, nobody is signed in
  busy,      ///< an attempt is still running: nothing was done
};

/// What the sign-in window asks: an attempt for its OK, giving up for its Annulla.
class SignInAttempts {
 public:
  virtual ~SignInAttempts() = default;
  /// One attempt with user_name and password as typed; the window keeps answering meanwhile.
  virtual SignInAnswer attempt_sign_in(const std::string& user_name, const std::string& password) = 0;
  /// Annulla or the close box, during an attempt too: that attempt then admits nobody.
  virtual void give_up_sign_in() = 0;
  /// True while an attempt runs.
  virtual bool signing_in() const = 0;
};

/// The folder that holds the file at path (either separator): tools::directory_part
/// without its last separator, unless that ends a root ("/", and on Windows "C:\\");
/// "." for a bare name.
std::string folder_of(const std::string& path);

class MainController : public SignInAttempts {
 public:
  /// host and view must outlive the controller; factory makes the records product's
  /// server objects (empty: the registered class).
  MainController(DesktopHost& host, MainView& view, Tpx_wrap_praxipat::ObjectFactory factory = {});
  /// Ends the session, on its thread: the connection with the records product ends.
  ~MainController() override;
  MainController(const MainController&) = delete;
  MainController& operator=(const MainController&) = delete;

  /// The window is made: makes the session and runs the sign-in (view.run_sign_in).
  /// Admitted, it enables the runs, sets the range to the year up to today, fills the
  /// doctor's fields, reads the "regione" option and focuses the first control; true.
  /// False when the sign-in was given up: nothing else is done.
  bool start();

  /// One attempt of the sign-in window's OK, with user_name and password as typed, on the
  /// session thread; the busy cursor is on meanwhile, and the window keeps answering.
  SignInAnswer attempt_sign_in(const std::string& user_name, const std::string& password) override;
  /// Annulla of the sign-in window, during an attempt too: that attempt then admits nobody,
  /// and the session it opened ends.
  void give_up_sign_in() override;
  bool signing_in() const override { return attempting_; }

  /// A programme's button: one run on the session thread over the window's range, the
  /// window answering meanwhile; its outcome goes on the status line. Nothing while a run
  /// is in progress, or before the sign-in.
  void run(Programme programme);
  /// Ends the session, on its thread: the window is going, and the connection with the
  /// records product ends. No run starts afterwards.
  void end_session();

  /// Annulla (or Esc) of the progress dialog: the run stops before its next patient, or
  /// gives up the call in progress, and saves nothing.
  void cancel();
  bool running() const { return running_; }

  bool signed_in() const { return user_ != nullptr; }
  const TUser* user() const { return user_.get(); }
  /// The session; used on the session thread only (see session_thread()).
  Tpx_wrap_praxipat* session() const { return session_.get(); }
  SessionThread& session_thread() { return thread_; }
  /// The patients written by the last run.
  std::int32_t patient_count() const { return patient_count_; }
  /// The address of the report shown; "" until a run has shown one.
  const std::string& report_url() const { return run_state_.report_url; }
  /// What the last run did.
  const RunResult& last_run() const { return last_run_; }
  /// The path of the last report saved since the start; "" before the first. A later run
  /// that saves nothing keeps it.
  const std::string& saved_report() const { return saved_report_; }
  /// "Apri cartella": the folder that holds saved_report() opens in the system's file
  /// manager; a box with the folder's path says so when it cannot. Nothing before a save.
  void open_saved_folder();
  /// The window that owns the dialogs of a run.
  void set_owner(frontend::WindowHandle owner) { run_state_.owner = owner; }

 private:
  DesktopHost& host_;
  MainView& view_;
  Tpx_wrap_praxipat::ObjectFactory factory_;
  SessionThread thread_;
  std::unique_ptr<Tpx_wrap_praxipat> session_;
  std::unique_ptr<TUser> user_;
  std::unique_ptr<TUser> admitted_;  ///< the record of the attempt that admitted the doctor
  bool attempting_ = false;
  bool given_up_ = false;
  std::int32_t patient_count_ = 0;
  RunState run_state_;
  RunResult last_run_;
  std::string saved_report_;
  bool running_ = false;
  platform::XmlDocument XMLDoc;
};
