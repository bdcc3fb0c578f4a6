#pragma once
// What the desktop windows' hosts share: the progress dialog's state machine over
// RunProgress (a delay before the dialog appears, its updates, the request to stop, its
// end) and the wait of the window's thread for the session thread. Each host draws the
// dialog with its own toolkit and brings every call to the window's thread.
#include <functional>
#include <string>

#include "app/host.hpp"
#include "app/run_progress.hpp"
#include "app/session_thread.hpp"

/// The question asked when a call to the records product has not answered within its
/// limit: "Praxilo non risponde da N secondi." ("1 secondo"), with its two buttons.
std::string slow_answer_text(int seconds);
inline constexpr const char* keep_waiting_button = "Attendi ancora";
inline constexpr const char* stop_waiting_button = "Interrompi";

class DesktopHost : public frontend::Host, public EventPump {
 public:
  /// Once a run has lasted the progress delay, shows the progress dialog: the run's title,
  /// "paziente N di M selezionati" and Annulla; the window behind takes no input while it is up.
  void progress(int done, int total) override;
  /// True once Annulla (or Esc, or the dialog's close box) asked the run to stop.
  bool cancel_requested() override;
  /// Asks the doctor on the window's thread, over the progress dialog if it is up:
  /// slow_answer_text with "Attendi ancora" (true) and "Interrompi" (false), captioned as
  /// the run's boxes are (the application's title outside a run), with a warning icon.
  bool keep_waiting(int seconds) override;

  /// A run starts, named in the progress dialog; an earlier request to stop is forgotten.
  void begin_run(Programme programme);
  /// Asks the run in progress to stop, as Annulla does; the dialog says so until the run
  /// has ended. From any thread.
  void request_cancel();
  /// Closes the progress dialog, if one is up: the run has ended.
  void end_progress();
  /// How long a run goes on before the progress dialog appears (default 500 ms; 0: at once).
  void set_progress_delay(int milliseconds) { progress_delay_ = milliseconds; }

 protected:
  /// Does work on the window's thread, waiting for it: at once when called there.
  virtual void on_window_thread(const std::function<void()>& work) = 0;
  /// Starts (or restarts) the timer after which progress_delay_elapsed is called; stops it.
  virtual void start_progress_timer(int milliseconds) = 0;
  virtual void stop_progress_timer() = 0;
  /// Makes and shows the dialog if it is not up, drawn from progress() without notice.
  virtual void show_progress_dialog() = 0;
  /// Draws progress() into the dialog, if it is up; notify: a change the tests may watch.
  virtual void update_progress_dialog(bool notify) = 0;
  /// Closes the dialog, if it is up.
  virtual void close_progress_dialog() = 0;
  /// Shows the question of keep_waiting, modal over the progress dialog when it is up (else
  /// over the active window), with the flags' icon, and waits for it: true for "Attendi
  /// ancora", false for "Interrompi" (Esc and the close box too). Window's thread.
  virtual bool ask_keep_waiting(const std::string& text, const std::string& caption, unsigned flags) = 0;

  /// The progress timer's end: the dialog appears unless the run has ended meanwhile.
  void progress_delay_elapsed();
  /// What the dialog shows. Window's thread.
  const RunProgress& run_progress() const { return run_; }

 private:
  RunProgress run_;
  int progress_delay_ = 500;
  std::string caption_;  ///< the caption of the run's boxes; "" outside a run
};
