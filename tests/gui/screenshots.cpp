// Takes the README's pictures of the windows on a demo installation, under an X server
// with a window manager (run by screenshots.sh): the sign-in window with the password
// typed, the progress dialog of a run, the main window maximised with the diabetes report,
// the report's recall lists and data-quality section (where the page has them), the find
// bar with a surname found several times, and a print of the report to PDF.
// Writes login.png, progress.png, main.png, recall.png, recall-by-patient.png,
// data-quality.png, find.png and report.pdf into the folder
// given as the only argument, then runs the other two programmes as a check.
#include <cstdio>

#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QScreen>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "PIVZONA12Main.hpp"
#include "app/login.hpp"
#include "appearance.hpp"
#include "find_bar.hpp"
#include "formLogin.hpp"
#include "gui_support.hpp"

namespace {

// The window's area of the screen, frame included.
bool save_screen_area(const QWidget& window, const QString& path) {
  QApplication::processEvents();
  const QRect area = window.frameGeometry();
  const QPixmap picture = window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
  return picture.save(path);
}

// What a script gives on the page shown; an invalid value when it gives nothing.
QVariant page_value(QWebEngineView* view, const QString& script) {
  QVariant value;
  bool done = false;
  view->page()->runJavaScript(script, [&](const QVariant& result) {
    value = result;
    done = true;
  });
  QTest::qWaitFor([&] { return done; }, 15000);
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: gui_screenshots OUTPUT_DIR\n");
    return 64;
  }
  const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  QApplication::setApplicationName(QString::fromUtf8(application_title));
  QApplication::setWindowIcon(application_icon());
  prepare_application();

  QtHost host;
  gui_test::DialogScript dialogs(host);

  bool login_saved = false;
  gui_test::when_modal<TfrmLogin>([&](TfrmLogin& window) {
    QTest::qWaitForWindowExposed(&window);
    QTest::keyClicks(gui_test::child<QLineEdit>(window, "editPassword"), QStringLiteral("demo"));
    QTest::qWait(1000);  // the window manager frames and places the window
    login_saved = save_screen_area(window, out + QStringLiteral("/login.png"));
    QTest::mouseClick(gui_test::child<QPushButton>(window, "ButtonOk"), Qt::LeftButton);
    if (window.isVisible()) window.reject();
  });
  auto* frmMain = new TfrmMain(host);
  if (!frmMain->signed_in() || !login_saved) {
    std::fprintf(stderr, "gui_screenshots: the demo sign-in failed\n");
    return 1;
  }
  frmMain->show();
  if (!QTest::qWaitForWindowExposed(frmMain)) return 1;
  auto* view = gui_test::child<QWebEngineView>(*frmMain, "WebBrowser");
  // Runs a programme and waits for its page; false when no report was shown.
  auto run = [&](const char* button, const QString& file) {
    dialogs.save_paths << QDir::current().absoluteFilePath(file);
    QSignalSpy loaded(view, &QWebEngineView::loadFinished);
    QTest::mouseClick(gui_test::child<QPushButton>(*frmMain, button), Qt::LeftButton);
    const bool shown = frmMain->controller().last_run().outcome == RunOutcome::saved &&
                       QTest::qWaitFor([&] { return loaded.count() > 0; }, 30000);
    std::printf("%s: %d patients, %s\n", button, int(frmMain->controller().patient_count()),
                shown ? "report shown" : "NO REPORT");
    return shown;
  };

  // The progress dialog, a third of the way through the patients.
  bool progress_saved = false;
  host.set_progress_delay(0);
  host.set_progress_hook([&](QProgressDialog& progress) {
    if (progress_saved || progress.maximum() == 0 || progress.value() < progress.maximum() / 3) return;
    QTest::qWait(300);
    progress_saved = save_screen_area(*frmMain, out + QStringLiteral("/progress.png"));
  });
  frmMain->showMaximized();
  QTest::qWait(1000);
  if (!run("btnCalcola", QStringLiteral("File Diabete ZONA12.xml"))) return 1;
  host.set_progress_hook({});
  QTest::qWait(1500);  // let the page paint
  frmMain->activateWindow();
  QTest::qWait(300);
  const bool main_saved = save_screen_area(*frmMain, out + QStringLiteral("/main.png"));

  // A part of the page, scrolled to the top of the window's view: the recall list, the
  // recall list by patient and the data-quality section, where the page has them.
  auto shoot_part = [&](const QString& selector, const QString& file) {
    const bool found = page_value(view, QStringLiteral("(() => { const e = document.querySelector('%1');"
                                                       " if (!e) return false; e.scrollIntoView(); return true; })()")
                                            .arg(selector))
                           .toBool();
    if (found) {
      QTest::qWait(800);
      save_screen_area(*frmMain, out + "/" + file);
    }
    std::printf("%s: %s\n", qPrintable(selector), found ? qPrintable(file) : "not on the page");
  };
  shoot_part(QStringLiteral("#da-richiamare"), QStringLiteral("recall.png"));
  shoot_part(QStringLiteral("#richiamo-per-assistito"), QStringLiteral("recall-by-patient.png"));
  shoot_part(QStringLiteral("#qualita-dati"), QStringLiteral("data-quality.png"));

  // The find bar, back at the page's top, with a surname that the demo gives to several
  // patients typed in it and its first match shown.
  page_value(view, QStringLiteral("window.scrollTo(0, 0), 1"));
  frmMain->find_in_report();
  auto* find_text = frmMain->findChild<QLineEdit*>(QStringLiteral("findText"));
  auto* find_bar = frmMain->findChild<FindBar*>(QStringLiteral("findBar"));
  QTest::keyClicks(find_text, QStringLiteral("Esposito"));
  const bool found = QTest::qWaitFor([&] { return find_bar->count_text().startsWith(QStringLiteral("1 di ")); }, 15000);
  QTest::qWait(800);
  const bool find_saved = found && save_screen_area(*frmMain, out + QStringLiteral("/find.png"));
  std::printf("find: %s (%s)\n", find_saved ? "find.png" : "FAILED", qPrintable(find_bar->count_text()));
  find_bar->close_bar();

  // The report printed to PDF, as "Stampa…" with a PDF file chosen does.
  const QString pdf = out + QStringLiteral("/report.pdf");
  QFile::remove(pdf);
  int print_dialogs = 0;
  dialogs.answer_other = [&](QDialog& dialog) {
    ++print_dialogs;
    auto* print = qobject_cast<QPrintDialog*>(&dialog);
    if (!print) return dialog.reject();
    print->printer()->setOutputFormat(QPrinter::PdfFormat);
    print->printer()->setOutputFileName(pdf);
    dialog.done(QDialog::Accepted);
  };
  QSignalSpy printed(frmMain, &TfrmMain::printed);
  frmMain->print_report();
  const bool pdf_saved = QTest::qWaitFor([&] { return printed.count() > 0; }, 120000) &&
                         printed.first().at(0).value<ReportPrinter::Outcome>() == ReportPrinter::Outcome::printed;
  std::printf("print: %s (%d dialogs, %d answers)\n", pdf_saved ? "report.pdf" : "FAILED", print_dialogs,
              int(printed.count()));

  if (!pdf_saved) return 1;
  // The other two programmes, as a check that the window runs them all on the demo.
  const bool all_shown = run("btnSalva", QStringLiteral("File TAO ZONA12.xml")) &&
                         run("btnVaccinazioni", QStringLiteral("File Vaccinazioni ZONA12.xml"));
  delete frmMain;
  return main_saved && progress_saved && find_saved && pdf_saved && all_shown ? 0 : 1;
}
