#include "qt_host.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>
#include <QUrl>
#include <QWebEngineView>

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

// The progress dialog of a run: it has no cancel button, and neither Esc nor its close
// box may take it away while the run goes on, or the main window would take input again.
class RunProgressDialog : public QProgressDialog {
 public:
  explicit RunProgressDialog(QWidget* owner) : QProgressDialog(owner) {}
  void finish() {
    finishing_ = true;
    close();
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (finishing_)
      QProgressDialog::closeEvent(event);
    else
      event->ignore();
  }
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape) {
      event->accept();
      return;
    }
    QProgressDialog::keyPressEvent(event);
  }

 private:
  bool finishing_ = false;
};

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

int QtHost::message_box(const std::string& text, const std::string& caption, unsigned flags) {
  // A box must not open behind the progress dialog of a run that it interrupts.
  end_progress();
  const bool system_modal = (flags & platform::mb_systemmodal) != 0;
  QWidget* owner = system_modal ? nullptr : QApplication::activeWindow();
  QString shown = qs(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QMessageBox box(QMessageBox::NoIcon, qs(caption), shown, QMessageBox::Ok, owner);
  box.setTextFormat(Qt::PlainText);  // texts may carry user data: never read as markup
  box.setWindowModality(Qt::ApplicationModal);
  if (system_modal) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Ok);
  exec_dialog(box);
  return platform::id_ok;
}

bool QtHost::ask_file_name(const platform::FileDialogRequest& request, std::string& file_name) {
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
}

void QtHost::set_busy_cursor(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  if (busy)
    QApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QApplication::restoreOverrideCursor();
}

platform::WindowHandle QtHost::foreground_window() {
  return reinterpret_cast<platform::WindowHandle>(QApplication::activeWindow());
}

void QtHost::set_foreground_window(platform::WindowHandle window) {
  if (window == 0) return;
  // Only a window that still exists is touched: the handle may be stale.
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (reinterpret_cast<platform::WindowHandle>(top) == window) {
      // The session restores the foreground around every server call: act only on a change.
      if (top->isVisible() && QApplication::activeWindow() != top) {
        top->raise();
        top->activateWindow();
      }
      return;
    }
  }
}

void QtHost::navigate_report(const std::string& url) {
  if (report_view_) report_view_->setUrl(QUrl(qs(url)));
}

void QtHost::refresh_report() {
  if (report_view_) report_view_->reload();
}

void QtHost::set_report_visible(bool visible) {
  if (report_view_) report_view_->setVisible(visible);
}

void QtHost::progress(int done, int total) {
  if (total < progress_threshold_ || total <= 0) return;
  if (!progress_dialog_) {
    auto* dialog = new RunProgressDialog(owner_ ? owner_.data() : QApplication::activeWindow());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Estrazione in corso"));
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setCancelButton(nullptr);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumDuration(0);
    dialog->setRange(0, total);
    progress_dialog_ = dialog;
    dialog->show();
  }
  progress_dialog_->setMaximum(total);
  progress_dialog_->setLabelText(
      QStringLiteral("Estrazione in corso\nPazienti elaborati: %1 di %2").arg(done).arg(total));
  // setValue of a modal progress dialog lets the application process its events, so the
  // windows repaint; input to every other window stays blocked by the dialog.
  progress_dialog_->setValue(done);
  if (done >= total) end_progress();
}

void QtHost::end_progress() {
  if (!progress_dialog_) return;
  auto* dialog = static_cast<RunProgressDialog*>(progress_dialog_.data());
  progress_dialog_ = nullptr;
  dialog->finish();
}

QProgressDialog* QtHost::progress_dialog() const { return progress_dialog_.data(); }

void QtHost::set_report_view(QWebEngineView* view) { report_view_ = view; }

void QtHost::set_owner(QWidget* owner) { owner_ = owner; }
