#pragma once
// The desktop windows' host: Qt message boxes, the Qt save dialog, the busy cursor, the
// report view (a QWebEngineView) and the progress dialog of a run, with its Annulla.
//
// A run works on a thread of its own so that the windows stay responsive while the
// records product answers; every operation of this host may be called from that thread
// and does its work on the windows' thread, waiting for it where the run needs an answer.
#include <atomic>
#include <functional>
#include <string>

#include <QPointer>
#include <QString>
#include <QStringList>

#include "app/run_progress.hpp"
#include "platform/host.hpp"

class QDialog;
class QProgressDialog;
class QTimer;
class QWebEngineView;
class QWidget;

/// Qt name filters for a "description|pattern|description|pattern" filter text: each pair
/// becomes "description (pattern)", with the patterns of one entry separated by blanks.
QStringList qt_name_filters(const std::string& filter);

class QtHost : public platform::Host {
 public:
  /// Called once a modal dialog of this host is up, from inside its modal loop; the hook
  /// answers it (accepts or rejects it). Used by the tests; none in the program.
  using DialogHook = std::function<void(QDialog& dialog)>;
  /// Called on the windows' thread after each change of the progress dialog while it is
  /// shown. Used by the tests; none in the program.
  using ProgressHook = std::function<void(QProgressDialog& dialog)>;

  QtHost();
  ~QtHost() override;
  QtHost(const QtHost&) = delete;
  QtHost& operator=(const QtHost&) = delete;

  /// A box with an OK button, caption and the icon of the flags' kind. Without
  /// mb_systemmodal it belongs to the active window; with it, it has no owner, blocks the
  /// whole application and stays on top.
  int message_box(const std::string& text, const std::string& caption, unsigned flags) override;
  /// The Qt open or save dialog; the save dialog never asks before replacing a file.
  bool ask_file_name(const platform::FileDialogRequest& request, std::string& file_name) override;
  void set_busy_cursor(bool busy) override;
  platform::WindowHandle foreground_window() override;
  void set_foreground_window(platform::WindowHandle window) override;
  void navigate_report(const std::string& url) override;
  void refresh_report() override;
  void set_report_visible(bool visible) override;
  /// Once a run has lasted the progress delay, shows the modal progress dialog: the run's
  /// title, "paziente N di M" and Annulla. It blocks every other window, so no button can
  /// be pressed meanwhile.
  void progress(int done, int total) override;
  /// True once Annulla (or Esc, or the dialog's close box) asked the run to stop.
  bool cancel_requested() override;

  /// A run starts: title names it in the progress dialog ("Estrazione diabete in corso");
  /// an earlier request to stop is forgotten.
  void begin_run(Programme programme);
  /// Asks the run in progress to stop, as Annulla does.
  void request_cancel();
  /// Closes the progress dialog, if one is up; the run has ended.
  void end_progress();

  /// The view that navigate_report, refresh_report and set_report_visible act on; not owned.
  void set_report_view(QWebEngineView* view);
  /// The window that owns the file dialog and the progress dialog; not owned.
  void set_owner(QWidget* owner);
  /// How long a run goes on before the progress dialog appears (default 500 ms; 0: at once).
  void set_progress_delay(int milliseconds) { progress_delay_ = milliseconds; }
  void set_dialog_hook(DialogHook hook) { dialog_hook_ = std::move(hook); }
  void set_progress_hook(ProgressHook hook) { progress_hook_ = std::move(hook); }
  /// The progress dialog while it is up, else nullptr.
  QProgressDialog* progress_dialog() const;

  /// Runs a modal dialog of the windows (the print dialog too), so that the dialog hook
  /// answers it in the tests. Windows' thread only.
  int exec_dialog(QDialog& dialog);

 private:
  void show_progress_dialog();
  /// Puts the run's state into the dialog; notify: then calls the progress hook.
  void update_progress_dialog(bool notify = true);

  QPointer<QWebEngineView> report_view_;
  QPointer<QWidget> owner_;
  QPointer<QProgressDialog> progress_dialog_;
  QTimer* progress_timer_ = nullptr;
  int progress_delay_ = 500;
  RunProgress run_;
  bool busy_ = false;
  DialogHook dialog_hook_;
  ProgressHook progress_hook_;
  bool in_progress_hook_ = false;
};
