// Takes the README's pictures of the windows on a demo installation, under an X server
// (run by screenshots.sh in Xvfb): the sign-in window with the password typed, and the
// main window showing the diabetes report. Writes login.png and main.png into the folder
// given as the only argument, then runs the other two programmes as a check.
#include <QLineEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QWebEngineView>
#include <cstdio>

#include "PIVZONA12Main.hpp"
#include "app/login.hpp"
#include "appearance.hpp"
#include "formLogin.hpp"
#include "gui_support.hpp"

namespace {

bool save_screen_area(const QWidget& window, const QString& path) {
  QApplication::processEvents();
  const QRect area = window.frameGeometry();
  const QPixmap picture = window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
  return picture.save(path);
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
  install_font_substitutes();

  QtHost host;
  gui_test::DialogScript dialogs(host);

  bool login_saved = false;
  gui_test::when_modal<TfrmLogin>([&](TfrmLogin& window) {
    QTest::keyClicks(gui_test::child<QLineEdit>(window, "editPassword"), QStringLiteral("demo"));
    QTest::qWait(500);
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
    const bool shown =
        frmMain->last_run().outcome == RunOutcome::saved && QTest::qWaitFor([&] { return loaded.count() > 0; }, 30000);
    std::printf("%s: %d patients, %s\n", button, int(frmMain->patient_count()), shown ? "report shown" : "NO REPORT");
    return shown;
  };
  if (!run("btnCalcola", QStringLiteral("File Diabete ZONA12.xml"))) return 1;
  QTest::qWait(1500);  // let the page paint
  const bool main_saved = save_screen_area(*frmMain, out + QStringLiteral("/main.png"));
  // The other two programmes, as a check that the window runs them all on the demo.
  const bool all_shown = run("btnSalva", QStringLiteral("File TAO ZONA12.xml")) &&
                         run("btnVaccinazioni", QStringLiteral("File Vaccinazioni ZONA12.xml"));
  delete frmMain;
  return main_saved && all_shown ? 0 : 1;
}
