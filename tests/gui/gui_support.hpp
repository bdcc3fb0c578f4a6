#pragma once
// Shared pieces of the window tests: a fixture installation with a small practice, a
// script that answers the host's dialogs, and helpers that drive modal windows.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "qt_host.hpp"
#include "test_support.hpp"
#include "window_practice.hpp"

namespace gui_test {

namespace fs = std::filesystem;

// The practice of the window tests (window_practice.hpp).
inline const char* practice = test_support::window_practice;

/// The fixture installation with the report stylesheets, and a fresh current directory.
struct Practice {
  explicit Practice(const std::string& extra_registry = "") : installation(practice, extra_registry), cwd(work.path()) {
    test_support::copy_stylesheets(installation.appdir());
  }
  test_support::Installation installation;
  test_support::TempDir work;
  test_support::ScopedCwd cwd;
};

/// The registry lines that set the last user name.
inline std::string last_user(const std::string& name) {
  return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvanta-Ferrix]\r\n\"ultimo_utente\"=\"" + name + "\"\r\n";
}

/// Answers every dialog of a QtHost and records what it was shown: message boxes get OK,
/// save dialogs get the next path of save_paths (none left: cancelled).
class DialogScript {
 public:
  struct Box {
    QString caption, text;
    bool stays_on_top = false;
    bool owned = false;
    bool busy = false;  ///< the busy cursor was on while the box was up
    bool plain_text = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString button;  ///< the OK button's text
  };
  struct FileDialog {
    QString title, directory, offered, default_suffix;
    QStringList filters;
    bool save = false, confirms_overwrite = true;
    QStringList buttons;  ///< the texts of the dialog's buttons, mnemonics removed
  };

  explicit DialogScript(QtHost& host) : host_(host) {
    host.set_dialog_hook([this](QDialog& dialog) { answer(dialog); });
  }
  ~DialogScript() { host_.set_dialog_hook({}); }

  /// A question of a call past its limit ("frmAttesa"), as it was shown.
  struct Question {
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;         ///< the texts of its buttons, in their order
    QString default_button;      ///< the object name of the button Enter presses
    bool over_progress = false;  ///< it belongs to the run's progress dialog, which is still up
    bool plain_text = false;
  };

  std::vector<Box> boxes;
  std::vector<FileDialog> file_dialogs;
  QStringList save_paths;
  std::vector<Question> questions;
  /// How the questions are answered in turn, as the doctor does: "btnAttendi" or
  /// "btnInterrompi" clicked, or the key "Enter" or "Esc" pressed; none left: Interrompi.
  QStringList question_answers;
  /// Called with each question before it is answered.
  std::function<void(QMessageBox&)> on_question;
  /// Answers any other dialog (the print dialog); none: it is rejected.
  std::function<void(QDialog&)> answer_other;

 private:
  void answer(QDialog& dialog) {
    if (auto* box = qobject_cast<QMessageBox*>(&dialog); box && box->objectName() == QLatin1String("frmAttesa")) {
      answer_question(*box);
    } else if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
      const QCursor* cursor = QApplication::overrideCursor();
      boxes.push_back({box->windowTitle(), box->text(), box->windowFlags().testFlag(Qt::WindowStaysOnTopHint),
                       box->parentWidget() != nullptr, cursor && cursor->shape() == Qt::WaitCursor,
                       box->textFormat() == Qt::PlainText, box->icon(), box->button(QMessageBox::Ok)->text()});
      box->button(QMessageBox::Ok)->click();
    } else if (auto* files = qobject_cast<QFileDialog*>(&dialog)) {
      const QStringList offered = files->selectedFiles();
      file_dialogs.push_back({files->windowTitle(), files->directory().absolutePath(),
                              offered.isEmpty() ? QString() : QFileInfo(offered.first()).fileName(),
                              files->defaultSuffix(), files->nameFilters(),
                              files->acceptMode() == QFileDialog::AcceptSave,
                              !files->testOption(QFileDialog::DontConfirmOverwrite), button_texts(*files)});
      if (save_paths.isEmpty()) {
        files->reject();
      } else {
        files->selectFile(save_paths.takeFirst());
        dialog.accept();  // QFileDialog::accept through the public QDialog slot
      }
    } else if (answer_other) {
      answer_other(dialog);
    } else {
      dialog.reject();
    }
  }
  void answer_question(QMessageBox& box) {
    QStringList buttons;
    for (QAbstractButton* button : box.buttons()) buttons << button->text();
    const auto* progress = qobject_cast<QProgressDialog*>(box.parentWidget());
    questions.push_back({box.windowTitle(), box.text(), box.icon(), buttons,
                         box.defaultButton() ? box.defaultButton()->objectName() : QString(),
                         progress && progress->isVisible(), box.textFormat() == Qt::PlainText});
    if (on_question) on_question(box);
    const QString how = question_answers.isEmpty() ? QStringLiteral("btnInterrompi") : question_answers.takeFirst();
    if (how == QLatin1String("Enter") || how == QLatin1String("Esc")) {
      QTest::keyClick(&box, how == QLatin1String("Enter") ? Qt::Key_Return : Qt::Key_Escape);
      return;
    }
    QTest::mouseClick(box.findChild<QPushButton*>(how), Qt::LeftButton);
  }
  static QStringList button_texts(const QDialog& dialog) {
    QStringList texts;
    for (const QPushButton* button : dialog.findChildren<QPushButton*>())
      if (button->isVisible()) texts << QString(button->text()).remove(QLatin1Char('&'));
    return texts;
  }
  QtHost& host_;
};

/// Runs action on the first modal window of type Window once it is up, from inside its
/// modal loop. The action must end that loop (accept or reject the window).
template <typename Window>
void when_modal(std::function<void(Window&)> action) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, action] {
    auto* window = qobject_cast<Window*>(QApplication::activeModalWidget());
    if (!window || !window->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    action(*window);
  });
  timer->start();
}

/// The child of window with this object name, failing the test when there is none.
template <typename Widget>
Widget* child(const QWidget& window, const char* name) {
  auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
  if (!widget) qFatal("no child %s", name);
  return widget;
}

/// The praxilo-server processes that are children of this process.
inline int server_processes() {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string stat = test_support::read_file(entry.path() / "stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos || stat.find("(praxilo-server)") == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 &&
        ppid == QCoreApplication::applicationPid() && state != 'Z')
      ++count;
  }
  return count;
}

/// Every file under dir named name, read whole and joined.
inline std::string read_all_named(const fs::path& dir, const std::string& name) {
  std::string text;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.path().filename() == name) text += test_support::read_file(entry.path());
  return text;
}

}  // namespace gui_test

/// A test program's main: the report view's needs before the application exists, the
/// fonts of the windows, then the QTest run.
#define PZ_GUI_TEST_MAIN(TestClass)                             \
  int main(int argc, char** argv) {                             \
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts); \
    QApplication app(argc, argv);                               \
    prepare_application();                                      \
    TestClass test;                                             \
    return QTest::qExec(&test, argc, argv);                     \
  }
