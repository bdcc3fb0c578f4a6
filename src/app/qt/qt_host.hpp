#pragma once
// The desktop windows' host: Qt message boxes, the Qt save dialog, the busy cursor, the
// report view (a QWebEngineView) and a modal progress dialog for long runs.
#include <QPointer>
#include <QStringList>
#include <functional>
#include <string>

#include "platform/host.hpp"

class QDialog;
class QProgressDialog;
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

  QtHost();
  ~QtHost() override;
  QtHost(const QtHost&) = delete;
  QtHost& operator=(const QtHost&) = delete;

  /// A box with an OK button and caption. Without mb_systemmodal it belongs to the active
  /// window; with it, it has no owner, blocks the whole application and stays on top.
  int message_box(const std::string& text, const std::string& caption, unsigned flags) override;
  /// The Qt open or save dialog; the save dialog never asks before replacing a file.
  bool ask_file_name(const platform::FileDialogRequest& request, std::string& file_name) override;
  void set_busy_cursor(bool busy) override;
  platform::WindowHandle foreground_window() override;
  void set_foreground_window(platform::WindowHandle window) override;
  void navigate_report(const std::string& url) override;
  void refresh_report() override;
  void set_report_visible(bool visible) override;
  /// From threshold patients on, shows a modal progress dialog and lets the windows
  /// repaint; the dialog blocks every other window, so no button can be pressed meanwhile.
  void progress(int done, int total) override;

  /// The view that navigate_report, refresh_report and set_report_visible act on; not owned.
  void set_report_view(QWebEngineView* view);
  /// The window that owns the file dialog and the progress dialog; not owned.
  void set_owner(QWidget* owner);
  /// Closes the progress dialog, if one is up.
  void end_progress();
  /// Runs of at least this many patients show the progress dialog (default 50).
  void set_progress_threshold(int patients) { progress_threshold_ = patients; }
  void set_dialog_hook(DialogHook hook) { dialog_hook_ = std::move(hook); }
  /// The progress dialog while it is up, else nullptr.
  QProgressDialog* progress_dialog() const;

 private:
  int exec_dialog(QDialog& dialog);

  QPointer<QWebEngineView> report_view_;
  QPointer<QWidget> owner_;
  QPointer<QProgressDialog> progress_dialog_;
  int progress_threshold_ = 50;
  bool busy_ = false;
  DialogHook dialog_hook_;
};
