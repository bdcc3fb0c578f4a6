#include "qt_host.hpp"

#include <algorithm>
#include <type_traits>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWebEngineView>

#include "appearance.hpp"
#include "cancel_progress_dialog.hpp"

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

bool on_windows_thread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return !app || QThread::currentThread() == app->thread();
}

// Does work on the windows' thread and answers its result: at once when called there,
// else through that thread's event loop, waiting for it. The windows' thread never waits
// for a run's thread without running its event loop, so the wait always ends.
template <typename Work>
auto on_windows(Work work) -> decltype(work()) {
  using Result = decltype(work());
  if (on_windows_thread()) return work();
  if constexpr (std::is_void_v<Result>) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), work, Qt::BlockingQueuedConnection);
  } else {
    Result result{};
    QMetaObject::invokeMethod(QCoreApplication::instance(), work, Qt::BlockingQueuedConnection, &result);
    return result;
  }
}

}  // namespace

int title_bar_width(const QString& title) {
  // The caption's bold font, and room for the window manager's icon and buttons.
  QFont caption = QApplication::font();
  caption.setBold(true);
  return QFontMetrics(caption).horizontalAdvance(title) + 120;
}

namespace {

QMessageBox::Icon icon_of(unsigned flags) {
  switch (flags & frontend::mb_iconmask) {
    case frontend::mb_iconerror:
      return QMessageBox::Critical;
    case frontend::mb_iconwarning:
      return QMessageBox::Warning;
    case frontend::mb_iconinformation:
      return QMessageBox::Information;
    case 0x20:
      return QMessageBox::Question;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

QStringList qt_name_filters(const std::string& filter) {
  const QStringList parts = qs(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns.simplified());
  }
  return filters;
}

QtHost::QtHost() = default;

QtHost::~QtHost() {
  end_progress();
  delete progress_timer_;
  if (busy_) QApplication::restoreOverrideCursor();
}

int QtHost::exec_dialog(QDialog& dialog) {
  if (dialog_hook_) {
    QPointer<QDialog> target(&dialog);
    DialogHook hook = dialog_hook_;
    QTimer::singleShot(0, &dialog, [target, hook] {
      if (target) hook(*target);
    });
  }
  return dialog.exec();
}

namespace {

// Gives box its text (CR LF breaks as plain line breaks, never read as markup: texts may
// carry user data), the window's modality, and the width of its whole title.
void set_up_box(QMessageBox& box, const std::string& text) {
  QString shown = qs(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  box.setTextFormat(Qt::PlainText);
  box.setText(shown);
  box.setWindowModality(Qt::ApplicationModal);
  // A message box sizes itself to its text alone, and the window manager then cuts a
  // longer title: a row across its grid keeps it as wide as its whole title.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
    grid->addItem(new QSpacerItem(title_bar_width(box.windowTitle()), 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace

int QtHost::message_box(const std::string& text, const std::string& caption, unsigned flags) {
  return on_windows([&]() -> int {
    // A box must not open behind the progress dialog of a run that it interrupts.
    end_progress();
    const bool system_modal = (flags & frontend::mb_systemmodal) != 0;
    QWidget* owner = system_modal ? nullptr : QApplication::activeWindow();
    QMessageBox box(icon_of(flags), qs(caption), QString(), QMessageBox::Ok, owner);
    set_up_box(box, text);
    // After the modality, which sets the window's flags anew.
    if (system_modal) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    exec_dialog(box);
    return frontend::id_ok;
  });
}

bool QtHost::ask_keep_waiting(const std::string& text, const std::string& caption, unsigned flags) {
  // Over the progress dialog, which stays up: the run goes on if the doctor waits.
  QWidget* owner = progress_dialog_ ? static_cast<QWidget*>(progress_dialog_.data()) : QApplication::activeWindow();
  QMessageBox box(icon_of(flags), qs(caption), QString(), QMessageBox::NoButton, owner);
  box.setObjectName(QStringLiteral("frmAttesa"));
  QPushButton* wait = box.addButton(qs(keep_waiting_button), QMessageBox::AcceptRole);
  QPushButton* stop = box.addButton(qs(stop_waiting_button), QMessageBox::RejectRole);
  wait->setObjectName(QStringLiteral("btnAttendi"));
  stop->setObjectName(QStringLiteral("btnInterrompi"));
  // Enter waits: nothing is lost by it. Esc and the close box stop, as Interrompi.
  box.setDefaultButton(wait);
  box.setEscapeButton(stop);
  set_up_box(box, text);
  exec_dialog(box);
  return box.clickedButton() == wait;
}

bool QtHost::ask_file_name(const frontend::FileDialogRequest& request, std::string& file_name) {
  return on_windows([&]() -> bool {
    QWidget* owner = owner_ ? owner_.data() : QApplication::activeWindow();
    QFileDialog dialog(owner);
    if (request.title) dialog.setWindowTitle(qs(*request.title));
    if (request.initial_directory) dialog.setDirectory(QDir(qs(*request.initial_directory)).absolutePath());
    const QStringList filters = qt_name_filters(request.filter);
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    if (request.default_extension) dialog.setDefaultSuffix(qs(*request.default_extension));
    if (request.open) {
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(QFileDialog::ExistingFile);
    } else {
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setFileMode(QFileDialog::AnyFile);
      dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    }
    dialog.selectFile(qs(file_name));
    if (exec_dialog(dialog) != QDialog::Accepted) return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return false;
    file_name = QDir::toNativeSeparators(chosen.first()).toStdString();
    return true;
  });
}

void QtHost::set_busy_cursor(bool busy) {
  on_windows([&] {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
  });
}

frontend::WindowHandle QtHost::foreground_window() {
  return on_windows([] { return reinterpret_cast<frontend::WindowHandle>(QApplication::activeWindow()); });
}

void QtHost::set_foreground_window(frontend::WindowHandle window) {
  if (window == 0) return;
  auto restore = [window] {
    // Only a window that still exists is touched: the handle may be stale.
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (reinterpret_cast<frontend::WindowHandle>(top) == window) {
        // The session restores the foreground around every server call: act only on a change.
        if (top->isVisible() && QApplication::activeWindow() != top) {
          top->raise();
          top->activateWindow();
        }
        return;
      }
    }
  };
  // The run does not wait for it: nothing it does depends on the window raised.
  if (on_windows_thread())
    restore();
  else
    QMetaObject::invokeMethod(QCoreApplication::instance(), restore, Qt::QueuedConnection);
}

void QtHost::navigate_report(const std::string& url) {
  on_windows([&] {
    if (report_view_) report_view_->setUrl(QUrl(qs(url)));
  });
}

void QtHost::refresh_report() {
  on_windows([&] {
    if (report_view_) report_view_->reload();
  });
}

void QtHost::set_report_visible(bool visible) {
  on_windows([&] {
    if (report_view_) report_view_->setVisible(visible);
  });
}

bool QtHost::open_folder(const std::string& folder) {
  return on_windows([&]() -> bool {
    const QString path = QDir::cleanPath(qs(folder));
    if (folder_opener_) return folder_opener_(path);
    return QDir(path).exists() && QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  });
}

void QtHost::on_window_thread(const std::function<void()>& work) { on_windows(work); }

void QtHost::wait_until(const std::function<bool()>& done) {
  // wake() posts an event, so a wait for events ends once the work is done.
  while (!done()) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtHost::wake() {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
}

void QtHost::start_progress_timer(int milliseconds) {
  if (!progress_timer_) {
    progress_timer_ = new QTimer;
    progress_timer_->setSingleShot(true);
    QObject::connect(progress_timer_, &QTimer::timeout, [this] { progress_delay_elapsed(); });
  }
  progress_timer_->start(milliseconds);
}

void QtHost::stop_progress_timer() {
  if (progress_timer_) progress_timer_->stop();
}

void QtHost::show_progress_dialog() {
  if (progress_dialog_) return;
  QWidget* owner = owner_ ? owner_.data() : QApplication::activeWindow();
  // It stays up, saying the run is stopping, until the run has really ended, so that the
  // main window takes no input while the run still holds the session.
  auto* dialog = new CancelProgressDialog(owner, QStringLiteral("frmProgress"),
                                          QString::fromStdString(run_progress().title()), [this] { request_cancel(); });
  if (!owner) dialog->setFont(window_font());
  dialog->setWindowModality(Qt::ApplicationModal);
  progress_dialog_ = dialog;
  update_progress_dialog(false);
  // Its two lines of text change, its size does not. Wide enough for its whole title.
  dialog->setFixedSize(std::max({dialog->sizeHint().width(), 360, title_bar_width(dialog->windowTitle())}),
                       dialog->sizeHint().height());
  dialog->show();
}

void QtHost::update_progress_dialog(bool notify) {
  if (!progress_dialog_) return;
  auto* dialog = progress_dialog_.data();
  const RunProgress& run = run_progress();
  dialog->setLabelText(QString::fromStdString(run.title() + "\n" + run.state()));
  if (QPushButton* annulla = dialog->findChild<QPushButton*>(QStringLiteral("btnAnnulla")))
    annulla->setEnabled(!run.cancel_requested());
  // No total yet, or stopping: the bar runs without an end.
  dialog->setRange(0, run.bar_known() ? run.total() : 0);
  if (run.bar_known()) dialog->setValue(run.done());
  if (notify && progress_hook_ && !in_progress_hook_) {
    in_progress_hook_ = true;  // a hook that presses Annulla changes the dialog again
    progress_hook_(*dialog);
    in_progress_hook_ = false;
  }
}

void QtHost::close_progress_dialog() {
  if (!progress_dialog_) return;
  CancelProgressDialog* dialog = progress_dialog_.data();
  progress_dialog_ = nullptr;
  dialog->finish();
}

QRect QtHost::work_area(const QWidget& window) const {
  if (!work_area_.isEmpty()) return work_area_;
  const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}

QProgressDialog* QtHost::progress_dialog() const { return progress_dialog_.data(); }

void QtHost::set_report_view(QWebEngineView* view) { report_view_ = view; }

void QtHost::set_owner(QWidget* owner) { owner_ = owner; }
