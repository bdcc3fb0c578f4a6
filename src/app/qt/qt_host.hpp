#pragma once
// The desktop windows' host: Qt message boxes, the Qt save dialog, the busy cursor, the
// report view (a QWebEngineView) and the progress dialog of a run, with its Annulla.
//
// The records product is called on the session thread so that the windows stay responsive
// while it answers; every operation of this host may be called from that thread and does
// its work on the windows' thread, waiting for it where the call needs an answer.
#include <atomic>
#include <functional>
#include <string>

#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>

#include "app/desktop_host.hpp"

class QDialog;
class CancelProgressDialog;
class QProgressDialog;
class QTimer;
class QWebEngineView;
class QWidget;

/// Qt name filters for a "description|pattern|description|pattern" filter text: each pair
/// becomes "description (pattern)", with the patterns of one entry separated by blanks.
QStringList qt_name_filters(const std::string& filter);

/// The width a window needs to show title whole in its title bar: the text in the caption's
/// bold font, beside the window manager's icon and buttons.
int title_bar_width(const QString& title);

class QtHost : public DesktopHost {
 public:
  /// Called once a modal dialog of this host is up, from inside its modal loop; the hook
  /// answers it (accepts or rejects it). Used by the tests; none in the program.
  using DialogHook = std::function<void(QDialog& dialog)>;
  /// Called on the windows' thread after each change of the progress dialog while it is
  /// shown. Used by the tests; none in the program.
  using ProgressHook = std::function<void(QProgressDialog& dialog)>;
  /// Opens a folder in the file manager instead of the system (tests); answers success.
  using FolderOpener = std::function<bool(const QString& folder)>;

  QtHost();
  ~QtHost() override;
  QtHost(const QtHost&) = delete;
  QtHost& operator=(const QtHost&) = delete;

  /// A box with an OK button, caption and the icon of the flags' kind. Without
  /// mb_systemmodal it belongs to the active window; with it, it has no owner, blocks the
  /// whole application and stays on top.
  int message_box(const std::string& text, const std::string& caption, unsigned flags) override;
  /// The Qt open or save dialog; the save dialog never asks before replacing a file.
  bool ask_file_name(const frontend::FileDialogRequest& request, std::string& file_name) override;
  void set_busy_cursor(bool busy) override;
  frontend::WindowHandle foreground_window() override;
  void set_foreground_window(frontend::WindowHandle window) override;
  void navigate_report(const std::string& url) override;
  void refresh_report() override;
  void set_report_visible(bool visible) override;
  /// The system's file manager through QDesktopServices (xdg-open on Linux), or the opener set.
  bool open_folder(const std::string& folder) override;
  void set_folder_opener(FolderOpener opener) { folder_opener_ = std::move(opener); }
  /// Handles the windows' events until done() is true.
  void wait_until(const std::function<bool()>& done) override;
  void wake() override;

  /// The view that navigate_report, refresh_report and set_report_visible act on; not owned.
  void set_report_view(QWebEngineView* view);
  /// The window that owns the file dialog and the progress dialog; not owned.
  void set_owner(QWidget* owner);
  void set_dialog_hook(DialogHook hook) { dialog_hook_ = std::move(hook); }
  /// The work area (the screen less the panels) of window's screen; area instead, when set
  /// (tests; an empty rectangle: the screen's again).
  QRect work_area(const QWidget& window) const;
  void set_work_area(const QRect& area) { work_area_ = area; }
  void set_progress_hook(ProgressHook hook) { progress_hook_ = std::move(hook); }
  /// The progress dialog while it is up, else nullptr.
  QProgressDialog* progress_dialog() const;

  /// Runs a modal dialog of the windows (the print dialog too), so that the dialog hook
  /// answers it in the tests. Windows' thread only.
  int exec_dialog(QDialog& dialog);

 protected:
  void on_window_thread(const std::function<void()>& work) override;
  void start_progress_timer(int milliseconds) override;
  void stop_progress_timer() override;
  /// The modal progress dialog: it blocks every other window, so no button can be pressed
  /// meanwhile.
  void show_progress_dialog() override;
  void update_progress_dialog(bool notify) override;
  void close_progress_dialog() override;
  /// A QMessageBox "frmAttesa" with "Attendi ancora" (btnAttendi, the default) and
  /// "Interrompi" (btnInterrompi, also Esc), answered by the dialog hook in the tests.
  bool ask_keep_waiting(const std::string& text, const std::string& caption, unsigned flags) override;

 private:
  QPointer<QWebEngineView> report_view_;
  QPointer<QWidget> owner_;
  QPointer<CancelProgressDialog> progress_dialog_;
  QTimer* progress_timer_ = nullptr;
  bool busy_ = false;
  DialogHook dialog_hook_;
  QRect work_area_;
  ProgressHook progress_hook_;
  FolderOpener folder_opener_;
  bool in_progress_hook_ = false;
};
