// The main window end to end: the sign-in inside its creation, the doctor's data and the
// range after start-up, closing, and the programme runs with the save dialog, the message
// boxes and the report view, against praxilo-server on a fixture installation.
#include <memory>

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "PIVZONA12Main.hpp"
#include "appearance.hpp"
#include "find_bar.hpp"
#include "formLogin.hpp"
#include "gui_support.hpp"
#include "report_view.hpp"
#include "tools/tools.hpp"

using namespace gui_test;
using test_support::read_file;

namespace {

const QString refused_credentials = QStringLiteral("ERRORE: Dati Utente o Password non riconosciuti.");
const QString refused_kind = QStringLiteral("ERRORE: Procedura riservata ai soli medici titolari.");
const QString refused_code =
    QStringLiteral("ERRORE: Il campo obbligatorio \"Codice Regionale\" medico non è stato valorizzato in Praxilo.");

void type_credentials(TfrmLogin& window, const QString& user, const QString& password) {
  auto* user_box = child<QLineEdit>(window, "editUtente");
  user_box->clear();
  QTest::keyClicks(user_box, user);
  auto* password_box = child<QLineEdit>(window, "editPassword");
  password_box->clear();
  QTest::keyClicks(password_box, password);
  QTest::mouseClick(child<QPushButton>(window, "ButtonOk"), Qt::LeftButton);
}

// Creates the main window, signing in as user in the sign-in window that its creation opens.
std::unique_ptr<TfrmMain> start_as(QtHost& host, const QString& user, const QString& password = "pw") {
  when_modal<TfrmLogin>([user, password](TfrmLogin& window) {
    type_credentials(window, user, password);
    if (window.isVisible()) window.reject();  // refused: end the start-up instead of hanging
  });
  return std::make_unique<TfrmMain>(host);
}

void set_range(TfrmMain& window, QDate from, QDate to) {
  child<QDateEdit>(window, "DTDal")->setDate(from);
  child<QDateEdit>(window, "DTAl")->setDate(to);
}

// The text of the page shown by the report view.
QString page_text(QWebEngineView* view) {
  QString text;
  bool done = false;
  view->page()->toPlainText([&](const QString& result) {
    text = result;
    done = true;
  });
  if (!QTest::qWaitFor([&] { return done; }, 15000)) return QStringLiteral("(the page gave no text)");
  return text;
}

// A number that a script gives on the page shown.
double page_number(QWebEngineView* view, const QString& script) {
  double number = -1;
  bool done = false;
  view->page()->runJavaScript(script, [&](const QVariant& result) {
    number = result.toDouble();
    done = true;
  });
  if (!QTest::qWaitFor([&] { return done; }, 15000)) return -1;
  return number;
}

// Clicks a programme button and waits until the report view has loaded the page.
void run_and_wait_for_page(TfrmMain& window, const char* button) {
  auto* view = child<QWebEngineView>(window, "WebBrowser");
  QSignalSpy loaded(view, &QWebEngineView::loadFinished);
  QTest::mouseClick(child<QPushButton>(window, button), Qt::LeftButton);
  QCOMPARE(window.controller().last_run().outcome, RunOutcome::saved);
  QTRY_VERIFY_WITH_TIMEOUT(loaded.count() > 0, 15000);
  QVERIFY(loaded.first().first().toBool());
}

// The main window signed in as the doctor "doc" on a fresh practice, shown, with the
// range set to the year 2024 of the fixture's data.
struct SignedIn {
  SignedIn() : dialogs(host), window(start_as(host, "doc")) {
    window->show();
    set_range(*window, QDate(2024, 1, 1), QDate(2024, 12, 31));
  }
  Practice practice;
  QtHost host;
  DialogScript dialogs;
  std::unique_ptr<TfrmMain> window;
};

QString log_of(const Practice& practice) {
  return QString::fromStdString(read_all_named(practice.installation.appdir(), "praxipat.log"));
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void refusedThenAccepted_data();
  void refusedThenAccepted();
  void neitherTitolareNorCodeSeesBothMessages();
  void cancelEndsWithoutFilling_data();
  void cancelEndsWithoutFilling();
  void fieldsAndRangeAfterStartUp_data();
  void fieldsAndRangeAfterStartUp();
  void tabOrderFromChiudi();
  void closingEndsTheSession_data();
  void closingEndsTheSession();
  void typedDoctorFieldsDoNotReachTheReport();
  void runShowsTheReportAndASecondProgrammeRefreshes();
  void runWithoutPatientsKeepsTheEarlierReport();
  void startAfterEndIsRefusedBeforeTheSaveDialog();
  void longRunShowsModalProgressAndGivesTheSameReport();
  void whileARunWorksTheStatusSaysSoAndTheProgressTitleFits();
  void placedInsideTheScreensWorkArea_data();
  void placedInsideTheScreensWorkArea();
  void annullaOrEscStopsTheRun_data();
  void annullaOrEscStopsTheRun();
  void slowAnswerIsTheDoctorsChoice_data();
  void slowAnswerIsTheDoctorsChoice();
  void statusLineSaysWhatHappened();
  void savedReportIsOneClickAway();
  void viewTakesTheRestOfTheWindow_data();
  void viewTakesTheRestOfTheWindow();
  void newReportOpensAtItsTop();
  void contextMenuOffersPrintBrowserCopy();
  void findBarSearchesThePage();
  void findBarClosesForANewReport();
  void printsTheReportToPdf();
  void enterPressesTheFocusedButton();
  void typedDateReplacesTheShownOne_data();
  void typedDateReplacesTheShownOne();
};

void MainWindowTest::refusedThenAccepted_data() {
  QTest::addColumn<QString>("user");
  QTest::addColumn<QString>("password");
  QTest::addColumn<QString>("message");
  QTest::newRow("wrong password") << "doc"
                                  << "nope" << refused_credentials;
  QTest::newRow("kind t, not T") << "minuscolo"
                                 << "pw" << refused_kind;
  QTest::newRow("regional code of blanks") << "senzacodice"
                                           << "pw" << refused_code;
}

void MainWindowTest::refusedThenAccepted() {
  QFETCH(QString, user);
  QFETCH(QString, password);
  QFETCH(QString, message);
  Practice practice;
  QtHost host;
  DialogScript dialogs(host);
  QString kept_user;
  QString selected;
  bool password_focused = false;
  when_modal<TfrmLogin>([&](TfrmLogin& window) {
    type_credentials(window, user, password);
    kept_user = child<QLineEdit>(window, "editUtente")->text();
    auto* password_box = child<QLineEdit>(window, "editPassword");
    selected = password_box->selectedText();
    password_focused = window.focusWidget() == password_box;
    type_credentials(window, "doc", "pw");
    if (window.isVisible()) window.reject();
  });
  TfrmMain window(host);

  QCOMPARE(kept_user, user);     // a refused attempt leaves the texts as typed
  QCOMPARE(selected, password);  // and selects the password, so that typing replaces it
  QVERIFY(password_focused);
  QCOMPARE(dialogs.boxes.size(), std::size_t(1));
  QCOMPARE(dialogs.boxes[0].text, message);
  QCOMPARE(dialogs.boxes[0].caption, QStringLiteral("PIV ZONA12"));
  QVERIFY(window.signed_in());
  QCOMPARE(window.controller().user()->get_userid_utente(), std::string("MED1"));
  QCOMPARE(child<QLineEdit>(window, "edt_CodiceRegionale")->text(), QStringLiteral("1234"));
}

void MainWindowTest::neitherTitolareNorCodeSeesBothMessages() {
  Practice practice;
  QtHost host;
  DialogScript dialogs(host);
  bool stayed_open = false;
  when_modal<TfrmLogin>([&](TfrmLogin& window) {
    type_credentials(window, "nessuno", "pw");
    stayed_open = window.isVisible();
    QTest::mouseClick(child<QPushButton>(window, "ButtonAnnulla"), Qt::LeftButton);
  });
  TfrmMain window(host);
  QVERIFY(stayed_open);
  QVERIFY(!window.signed_in());
  QCOMPARE(dialogs.boxes.size(), std::size_t(2));
  QCOMPARE(dialogs.boxes[0].text, refused_kind);
  QCOMPARE(dialogs.boxes[1].text, refused_code);
}

void MainWindowTest::cancelEndsWithoutFilling_data() {
  QTest::addColumn<bool>("close_box");
  QTest::newRow("Annulla") << false;
  QTest::newRow("close box") << true;
}

void MainWindowTest::cancelEndsWithoutFilling() {
  QFETCH(bool, close_box);
  Practice practice;
  QtHost host;
  DialogScript dialogs(host);
  QString log;
  {
    when_modal<TfrmLogin>([&](TfrmLogin& window) {
      type_credentials(window, "doc", "nope");  // the session talks to the server first
      if (close_box)
        window.close();
      else
        QTest::mouseClick(child<QPushButton>(window, "ButtonAnnulla"), Qt::LeftButton);
    });
    TfrmMain window(host);
    QVERIFY(!window.signed_in());
    QVERIFY(!window.isVisible());
    for (const char* name : {"edt_NominativoMMG", "edt_CodiceRegionale", "edt_CodiceFiscaleMMG", "edt_ASL"})
      QVERIFY2(child<QLineEdit>(window, name)->text().isEmpty(), name);
    QVERIFY(child<QDateEdit>(window, "DTAl")->date() != QDate::currentDate());
  }
  log = log_of(practice);
  QVERIFY2(log.contains("ole_praxipat."), qPrintable(log));
  QVERIFY2(!log.contains("get_opzione"), qPrintable(log));
}

void MainWindowTest::fieldsAndRangeAfterStartUp_data() {
  QTest::addColumn<QString>("user");
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("code");
  QTest::addColumn<QString>("fiscal_code");
  QTest::addColumn<QString>("asl");
  QTest::newRow("every attribute") << "doc"
                                   << "Mario Rossi"
                                   << "1234"
                                   << "RSSMRA60A01H501U"
                                   << "ASL 12";
  QTest::newRow("empty names") << "anonimo"
                               << " "
                               << "777"
                               << ""
                               << "";
}

void MainWindowTest::fieldsAndRangeAfterStartUp() {
  QFETCH(QString, user);
  QFETCH(QString, name);
  QFETCH(QString, code);
  QFETCH(QString, fiscal_code);
  QFETCH(QString, asl);
  Practice practice;
  QtHost host;
  host.set_work_area(QRect(0, 0, 1920, 1040));  // a screen with room for the window
  DialogScript dialogs(host);
  {
    auto window = start_as(host, user);
    QVERIFY(window->signed_in());
    QCOMPARE(child<QLineEdit>(*window, "edt_NominativoMMG")->text(), name);
    QCOMPARE(child<QLineEdit>(*window, "edt_CodiceRegionale")->text(), code);
    QCOMPARE(child<QLineEdit>(*window, "edt_CodiceFiscaleMMG")->text(), fiscal_code);
    QCOMPARE(child<QLineEdit>(*window, "edt_ASL")->text(), asl);
    QCOMPARE(child<QDateEdit>(*window, "DTDal")->date(), QDate::currentDate().addDays(-365));
    QCOMPARE(child<QDateEdit>(*window, "DTAl")->date(), QDate::currentDate());
    QCOMPARE(window->controller().patient_count(), 0);
    QVERIFY(window->controller().report_url().empty());

    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(window->windowTitle(), QStringLiteral("Estrazioni ZONA12"));
    QTRY_COMPARE(window->frameGeometry(), QRect(589, 293, 833, 536));
    for (const char* hidden : {"Label5", "edt_Regione", "Label8", "edt_Distretto"})
      QVERIFY2(!window->findChild<QWidget*>(hidden)->isVisible(), hidden);
    for (const char* shown : {"btnCalcola", "btnSalva", "btnVaccinazioni", "btnChiudi", "WebBrowser", "DTDal"})
      QVERIFY2(window->findChild<QWidget*>(shown)->isVisible() && window->findChild<QWidget*>(shown)->isEnabled(),
               shown);
  }
  QVERIFY(dialogs.boxes.empty());
  QVERIFY2(log_of(practice).contains("ole_praxipat.get_opzione(macchina, OPZIONI\\regione) = Toscana;"),
           qPrintable(log_of(practice)));
}

void MainWindowTest::tabOrderFromChiudi() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  QVERIFY(QTest::qWaitForWindowActive(&window));
  // The hidden boxes are skipped; the report view comes last but one.
  const char* order[] = {
      "btnChiudi",         "edt_ASL", "DTAl", "btnCalcola", "btnSalva", "edt_CodiceRegionale", "edt_CodiceFiscaleMMG",
      "edt_NominativoMMG", "DTDal"};
  for (const char* name : order) {
    QWidget* focus = QApplication::focusWidget();
    QVERIFY2(focus, name);
    QCOMPARE(focus->objectName(), QString::fromLatin1(name));
    QTest::keyClick(focus, Qt::Key_Tab);
  }
  auto* view = child<QWebEngineView>(window, "WebBrowser");
  QWidget* focus = QApplication::focusWidget();
  QVERIFY2(focus == view || view->isAncestorOf(focus) || focus == view->focusProxy(),
           qPrintable(focus ? focus->objectName() + "/" + focus->metaObject()->className() : "none"));
  // A Tab inside the view belongs to the page; the order goes on around the view.
  auto* last = child<QPushButton>(window, "btnVaccinazioni");
  last->setFocus();
  QTest::keyClick(last, Qt::Key_Backtab);
  focus = QApplication::focusWidget();
  QVERIFY(focus == view || view->isAncestorOf(focus));
  last->setFocus();
  QTest::keyClick(last, Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), child<QPushButton>(window, "btnChiudi"));
}

void MainWindowTest::closingEndsTheSession_data() {
  QTest::addColumn<QString>("focus");  // where Esc is pressed; none: Chiudi is clicked
  QTest::newRow("Esc in a doctor field") << "edt_ASL";
  QTest::newRow("Esc in a date picker") << "DTDal";
  QTest::newRow("Esc in the report view") << "WebBrowser";
  QTest::newRow("Chiudi") << QString();
}

void MainWindowTest::closingEndsTheSession() {
  QFETCH(QString, focus);
  Practice practice;
  QtHost host;
  DialogScript dialogs(host);
  QPointer<TfrmMain> window = start_as(host, "doc").release();
  QVERIFY(window->signed_in());
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->show();
  QVERIFY(QTest::qWaitForWindowActive(window));
  QCOMPARE(server_processes(), 1);

  if (!focus.isEmpty()) {
    QWidget* target = child<QWidget>(*window, focus.toLatin1().constData());
    target->setFocus();
    QVERIFY(QApplication::focusWidget() == target || target->isAncestorOf(QApplication::focusWidget()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  } else
    QTest::mouseClick(child<QPushButton>(*window, "btnChiudi"), Qt::LeftButton);
  QTRY_VERIFY(window.isNull());
  QTRY_COMPARE(server_processes(), 0);
}

void MainWindowTest::typedDoctorFieldsDoNotReachTheReport() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  for (const char* name : {"edt_CodiceRegionale", "edt_CodiceFiscaleMMG", "edt_NominativoMMG", "edt_ASL"}) {
    auto* box = child<QLineEdit>(window, name);
    box->selectAll();
    QTest::keyClicks(box, "DIGITATO9");
  }
  const QString path = QString::fromStdString(fixture.practice.work.dir() + "report.xml");
  fixture.dialogs.save_paths << path;
  QTest::mouseClick(child<QPushButton>(window, "btnCalcola"), Qt::LeftButton);
  QCOMPARE(window.controller().last_run().outcome, RunOutcome::saved);
  const std::string saved = read_file(path.toStdString());
  QVERIFY2(saved.find("<codiceRegionale>001234</codiceRegionale>") != std::string::npos, saved.c_str());
  QVERIFY2(saved.find("<codiceFiscale>RSSMRA60A01H501U</codiceFiscale>") != std::string::npos, saved.c_str());
  QVERIFY2(saved.find("DIGITATO9") == std::string::npos, saved.c_str());
}

void MainWindowTest::runShowsTheReportAndASecondProgrammeRefreshes() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  auto* view = child<QWebEngineView>(window, "WebBrowser");

  // The chosen file exists already and has a blank in its name: it is replaced unasked.
  const std::string diabetes_path = fixture.practice.work.dir() + "rapporto diabete.xml";
  test_support::write_file(diabetes_path, "an older report");
  fixture.dialogs.save_paths << QString::fromStdString(diabetes_path);
  run_and_wait_for_page(window, "btnCalcola");
  QCOMPARE(fixture.dialogs.file_dialogs.size(), std::size_t(1));
  const DialogScript::FileDialog& dialog = fixture.dialogs.file_dialogs[0];
  QCOMPARE(dialog.title, QStringLiteral("Report"));
  QCOMPARE(dialog.filters, QStringList{QStringLiteral("File XML (*.xml)")});
  QCOMPARE(dialog.offered, QStringLiteral("File Diabete ZONA12.xml"));
  QCOMPARE(dialog.directory, QString::fromStdString(fixture.practice.work.path().string()));
  QVERIFY(dialog.default_suffix.isEmpty());
  QVERIFY(dialog.save);
  QVERIFY(!dialog.confirms_overwrite);

  const std::string saved = read_file(diabetes_path);
  QVERIFY2(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", 0) == 0, saved.c_str());
  QCOMPARE(window.controller().patient_count(), 2);
  const std::string html = fixture.practice.installation.appdir() + "ZONA12.html";
  QCOMPARE(window.controller().report_url(), "file://" + html);
  QCOMPARE(view->url(), QUrl::fromLocalFile(QString::fromStdString(html)));
  QVERIFY(view->isVisible());
  const QString diabetes_page = page_text(view);
  QVERIFY2(diabetes_page.contains(QStringLiteral("Niccolò")), qPrintable(diabetes_page));
  QVERIFY2(diabetes_page.contains(QStringLiteral("Marco")), qPrintable(diabetes_page));

  // TAO: its dialog opens in the installation directory; the same page is reloaded.
  const std::string tao_path = fixture.practice.work.dir() + "tao.xml";
  fixture.dialogs.save_paths << QString::fromStdString(tao_path);
  run_and_wait_for_page(window, "btnSalva");
  QCOMPARE(fixture.dialogs.file_dialogs.size(), std::size_t(2));
  QCOMPARE(fixture.dialogs.file_dialogs[1].offered, QStringLiteral("File TAO ZONA12.xml"));
  QCOMPARE(QDir(fixture.dialogs.file_dialogs[1].directory),
           QDir(QString::fromStdString(fixture.practice.installation.appdir())));
  QCOMPARE(window.controller().report_url(), "file://" + html);
  QCOMPARE(view->url(), QUrl::fromLocalFile(QString::fromStdString(html)));
  const QString tao_page = page_text(view);
  QVERIFY2(tao_page.contains(QStringLiteral("Anna")), qPrintable(tao_page));
  QVERIFY2(!tao_page.contains(QStringLiteral("Marco")), qPrintable(tao_page));
  QVERIFY(fixture.dialogs.boxes.empty());
}

void MainWindowTest::startAfterEndIsRefusedBeforeTheSaveDialog() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  set_range(window, QDate(2024, 6, 30), QDate(2024, 1, 1));
  const QString path = QString::fromStdString(fixture.practice.work.dir() + "diabete.xml");
  fixture.dialogs.save_paths << path;
  QTest::mouseClick(child<QPushButton>(window, "btnCalcola"), Qt::LeftButton);
  QCOMPARE(window.controller().last_run().outcome, RunOutcome::refused);
  QCOMPARE(fixture.dialogs.boxes.size(), std::size_t(1));
  QCOMPARE(fixture.dialogs.boxes[0].text,
           QString::fromUtf8("La data iniziale (Dal) è successiva alla data finale (Al)."));
  QCOMPARE(fixture.dialogs.save_paths.size(), 1);  // the save dialog was never shown
  QVERIFY(!QFile::exists(path));
}

void MainWindowTest::runWithoutPatientsKeepsTheEarlierReport() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  fixture.dialogs.save_paths << QString::fromStdString(fixture.practice.work.dir() + "diabete.xml");
  run_and_wait_for_page(window, "btnCalcola");
  auto* view = child<QWebEngineView>(window, "WebBrowser");

  // The only vaccination is in October: a range ending in June finds nobody.
  set_range(window, QDate(2024, 1, 1), QDate(2024, 6, 30));
  const std::string empty_path = fixture.practice.work.dir() + "vaccinazioni.xml";
  fixture.dialogs.save_paths << QString::fromStdString(empty_path);
  QSignalSpy loaded(view, &QWebEngineView::loadFinished);
  QTest::mouseClick(child<QPushButton>(window, "btnVaccinazioni"), Qt::LeftButton);
  QCOMPARE(window.controller().last_run().outcome, RunOutcome::no_patient);
  QCOMPARE(fixture.dialogs.boxes.size(), std::size_t(1));
  QCOMPARE(fixture.dialogs.boxes[0].caption, QStringLiteral("Estrazione Vaccinazioni AntiInfluenzali"));
  QCOMPARE(fixture.dialogs.boxes[0].text, QStringLiteral("Nessun paziente estratto!"));
  QVERIFY(fixture.dialogs.boxes[0].stays_on_top);
  QVERIFY(!fixture.dialogs.boxes[0].owned);
  QVERIFY(!fs::exists(empty_path));
  QTest::qWait(200);
  QCOMPARE(loaded.count(), 0);
  const QString page = page_text(view);
  QVERIFY2(page.contains(QStringLiteral("Niccolò")), qPrintable(page));
}

void MainWindowTest::placedInsideTheScreensWorkArea_data() {
  QTest::addColumn<QRect>("area");
  QTest::addColumn<QRect>("expected");
  QTest::newRow("1366 x 768 less a panel") << QRect(0, 0, 1366, 728) << QRect(533, 192, 833, 536);
  QTest::newRow("smaller than the window") << QRect(0, 0, 800, 500) << QRect(0, 0, 817, 500);
}

// On a small screen the window is moved, then shrunk, to fit its work area; it is never
// smaller than its buttons' column.
void MainWindowTest::placedInsideTheScreensWorkArea() {
  QFETCH(QRect, area);
  QFETCH(QRect, expected);
  Practice practice;
  QtHost host;
  host.set_work_area(area);
  DialogScript dialogs(host);
  auto window = start_as(host, "doc");
  QVERIFY(window->signed_in());
  window->show();
  QVERIFY(QTest::qWaitForWindowExposed(window.get()));
  QTRY_COMPARE(window->frameGeometry(), expected);
  QVERIFY(window->minimumWidth() >= 656 + 137);
  auto* chiudi = child<QPushButton>(*window, "btnChiudi");
  QVERIFY(window->rect().contains(chiudi->geometry()));
}

// The vaccinations' progress title is the longest: the dialog is wide enough for it.
void MainWindowTest::whileARunWorksTheStatusSaysSoAndTheProgressTitleFits() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  fixture.host.set_progress_delay(0);
  fixture.dialogs.save_paths << QString::fromStdString(fixture.practice.work.dir() + "vac.xml");
  QString status_while_working, title;
  int width = 0;
  fixture.host.set_progress_hook([&](QProgressDialog& progress) {
    status_while_working = child<QLabel>(window, "lblStato")->text();
    title = progress.windowTitle();
    width = progress.width();
  });
  QTest::mouseClick(child<QPushButton>(window, "btnVaccinazioni"), Qt::LeftButton);
  fixture.host.set_progress_hook({});
  QCOMPARE(window.controller().last_run().outcome, RunOutcome::saved);
  QCOMPARE(status_while_working, QStringLiteral("Estrazione in corso…"));
  QCOMPARE(title, QStringLiteral("Estrazione Vaccinazioni AntiInfluenzali in corso"));
  QFont caption = QApplication::font();
  caption.setBold(true);
  QVERIFY2(width > QFontMetrics(caption).horizontalAdvance(title) + 60, qPrintable(QString::number(width)));
  QVERIFY(child<QLabel>(window, "lblStato")->text().endsWith(QStringLiteral("1 assistito")));
}

void MainWindowTest::longRunShowsModalProgressAndGivesTheSameReport() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  QVERIFY(QTest::qWaitForWindowExposed(&window));

  // Without the dialog.
  const std::string plain_path = fixture.practice.work.dir() + "plain.xml";
  fixture.host.set_progress_delay(3600 * 1000);
  fixture.dialogs.save_paths << QString::fromStdString(plain_path);
  QTest::mouseClick(child<QPushButton>(window, "btnCalcola"), Qt::LeftButton);
  QCOMPARE(window.controller().last_run().outcome, RunOutcome::saved);

  // With it: while the run goes on, the dialog is the modal window, in the window's font,
  // and a second press of a programme button starts nothing.
  const std::string shown_path = fixture.practice.work.dir() + "shown.xml";
  fixture.host.set_progress_delay(0);
  fixture.dialogs.save_paths << QString::fromStdString(shown_path);
  QStringList labels;
  bool modal = true;
  bool same_font = true;
  fixture.host.set_progress_hook([&](QProgressDialog& progress) {
    modal = modal && QApplication::activeModalWidget() == &progress &&
            progress.windowTitle() == QStringLiteral("Estrazione diabete in corso");
    same_font = same_font && progress.font() == window.font();
    const QString label = progress.labelText();
    if (labels.isEmpty() || labels.last() != label) labels << label;
    child<QPushButton>(window, "btnSalva")->click();
  });
  QTest::mouseClick(child<QPushButton>(window, "btnCalcola"), Qt::LeftButton);
  fixture.host.set_progress_hook({});
  QCOMPARE(window.controller().last_run().outcome, RunOutcome::saved);
  QVERIFY(!labels.isEmpty());
  QVERIFY(modal);
  QVERIFY(same_font);
  QCOMPARE(labels.first(), QStringLiteral("Estrazione diabete in corso\nselezione dei pazienti…"));
  QCOMPARE(labels.last(), QStringLiteral("Estrazione diabete in corso\npaziente 2 di 2 selezionati"));
  QCOMPARE(fixture.dialogs.file_dialogs.size(), std::size_t(2));  // no TAO run started meanwhile
  QVERIFY(!fixture.host.progress_dialog());
  QVERIFY(!QApplication::activeModalWidget());

  const QRegularExpression stamp(QStringLiteral("<dataOraProduzione>\\d{14}</dataOraProduzione>"));
  QString plain = QString::fromStdString(read_file(plain_path)).remove(stamp);
  QString shown = QString::fromStdString(read_file(shown_path)).remove(stamp);
  QVERIFY(plain.contains("Conti"));
  QCOMPARE(shown, plain);
}

void MainWindowTest::annullaOrEscStopsTheRun_data() {
  QTest::addColumn<bool>("while_waiting");  // Annulla while a server call waits for its answer
  QTest::addColumn<bool>("escape");         // Esc pressed on the progress window instead of a click
  QTest::newRow("between two patients") << false << false;
  QTest::newRow("while a call waits") << true << false;
  QTest::newRow("Esc between two patients") << false << true;
  QTest::newRow("Esc while a call waits") << true << true;
}

void MainWindowTest::annullaOrEscStopsTheRun() {
  QFETCH(bool, while_waiting);
  QFETCH(bool, escape);
  test_support::TempDir hold_dir;
  const std::string hold_file = hold_dir.dir() + "hold";
  qputenv("PRAXILO_SERVER_HOLD_FILE", QByteArray::fromStdString(hold_file));
  // A call that Annulla did not end would fail the run at its limit.
  qputenv("PIVZONA12_CALL_TIMEOUT_S", "60");
  SignedIn fixture;
  qunsetenv("PRAXILO_SERVER_HOLD_FILE");
  qunsetenv("PIVZONA12_CALL_TIMEOUT_S");
  TfrmMain& window = *fixture.window;
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QCOMPARE(server_processes(), 1);

  const std::string path = fixture.practice.work.dir() + "diabete.xml";
  test_support::write_file(path, "an older report");
  fixture.dialogs.save_paths << QString::fromStdString(path);
  fixture.host.set_progress_delay(0);
  QStringList labels;
  bool answered_meanwhile = false;
  // Annulla clicked, or Esc pressed where the keyboard is: on the progress window, shown and active.
  const auto stop = [&](QProgressDialog& progress, QPushButton* annulla) {
    if (!escape) {
      QTest::mouseClick(annulla, Qt::LeftButton);
      return;
    }
    QVERIFY(progress.isVisible());
    QVERIFY(QTest::qWaitForWindowActive(&progress));
    QWidget* keyboard = QApplication::focusWidget();
    QVERIFY(keyboard && (keyboard == &progress || progress.isAncestorOf(keyboard)));
    QTest::keyClick(keyboard, Qt::Key_Escape);
  };
  fixture.host.set_progress_hook([&](QProgressDialog& progress) {
    labels << progress.labelText();
    auto* annulla = progress.findChild<QPushButton*>(QStringLiteral("btnAnnulla"));
    QVERIFY(annulla);
    if (!while_waiting && progress.labelText().endsWith(QStringLiteral("paziente 1 di 2 selezionati"))) {
      stop(progress, annulla);
      labels << progress.labelText();
    }
    if (while_waiting && progress.labelText().endsWith(QStringLiteral("selezione dei pazienti…"))) {
      // The patient list is asked for next; its answer waits while the file exists.
      test_support::write_file(hold_file, "");
      QTimer::singleShot(0, [&, annulla, dialog = &progress] {
        // The window's event loop runs while the call waits: a timer fires, and Annulla
        // ends the call without its answer, which never comes.
        QTest::qWait(300);
        answered_meanwhile = true;
        stop(*dialog, annulla);
      });
    }
  });
  QTest::mouseClick(child<QPushButton>(window, "btnCalcola"), Qt::LeftButton);
  fixture.host.set_progress_hook({});
  fs::remove(hold_file);

  QCOMPARE(window.controller().last_run().outcome, RunOutcome::stopped);
  QCOMPARE(answered_meanwhile, while_waiting);
  QVERIFY2(labels.contains(QStringLiteral("Estrazione diabete in corso\nAnnullamento in corso…")),
           qPrintable(labels.join('|')));
  QCOMPARE(read_file(path), std::string("an older report"));
  QVERIFY(fixture.dialogs.boxes.empty());
  QVERIFY(window.controller().report_url().empty());
  QCOMPARE(child<QLabel>(window, "lblStato")->text(), QStringLiteral("Estrazione annullata: nessun file salvato."));
  QTRY_COMPARE(server_processes(), 0);
  QVERIFY(!fixture.host.progress_dialog());
  // Between two patients the session signs out; a call that waits ends with its server.
  QCOMPARE(log_of(fixture.practice).contains("ole_praxipat.disconnetti();"), !while_waiting);

  // The next run signs in again and is whole.
  fixture.dialogs.save_paths << QString::fromStdString(path);
  run_and_wait_for_page(window, "btnCalcola");
  QCOMPARE(window.controller().last_run().patient_count, 2);
  QCOMPARE(server_processes(), 1);
}

void MainWindowTest::slowAnswerIsTheDoctorsChoice_data() {
  QTest::addColumn<QStringList>("answers");  // how the doctor answers each question
  QTest::addColumn<bool>("answer_comes");    // the server answers once asked the first time
  QTest::addColumn<bool>("annulla");         // Annulla pressed during the longer wait
  QTest::addColumn<int>("questions");
  QTest::addColumn<QString>("status");
  QTest::newRow("Attendi ancora, and the answer comes")
      << QStringList{"btnAttendi"} << true << false << 1 << QStringLiteral("Salvato: ");
  QTest::newRow("Enter waits, then Interrompi")
      << QStringList{"Enter", "btnInterrompi"} << false << false << 2
      << QStringLiteral("Nessun file salvato: Estrazione interrotta: Praxilo non risponde.");
  QTest::newRow("Esc stops") << QStringList{"Esc"} << false << false << 1
                             << QStringLiteral("Nessun file salvato: Estrazione interrotta: Praxilo non risponde.");
  QTest::newRow("Annulla during the longer wait") << QStringList{"btnAttendi"} << false << true << 1
                                                  << QStringLiteral("Estrazione annullata: nessun file salvato.");
}

// A patient list that does not come within the limit: the doctor is asked over the
// progress dialog, with the run's caption, and chooses to wait (the answer that comes is
// taken), to stop (the run fails as at the limit, nothing saved), or presses Annulla while
// waiting longer.
void MainWindowTest::slowAnswerIsTheDoctorsChoice() {
  QFETCH(QStringList, answers);
  QFETCH(bool, answer_comes);
  QFETCH(bool, annulla);
  QFETCH(int, questions);
  QFETCH(QString, status);
  test_support::TempDir hold_dir;
  const std::string hold_file = hold_dir.dir() + "hold";
  qputenv("PRAXILO_SERVER_HOLD_FILE", QByteArray::fromStdString(hold_file));
  qputenv("PIVZONA12_CALL_TIMEOUT_S", "1");  // read at the sign-in
  SignedIn fixture;
  qunsetenv("PRAXILO_SERVER_HOLD_FILE");
  qunsetenv("PIVZONA12_CALL_TIMEOUT_S");
  TfrmMain& window = *fixture.window;
  QVERIFY(QTest::qWaitForWindowExposed(&window));

  const std::string path = fixture.practice.work.dir() + "diabete.xml";
  test_support::write_file(path, "an older report");
  fixture.dialogs.save_paths << QString::fromStdString(path);
  fixture.host.set_progress_delay(0);
  fixture.host.set_progress_hook([&](QProgressDialog& progress) {
    // The patient list is asked for next; its answer waits while the file exists.
    if (progress.labelText().endsWith(QStringLiteral("selezione dei pazienti…")) && !fs::exists(hold_file))
      test_support::write_file(hold_file, "");
  });
  fixture.dialogs.question_answers = answers;
  fixture.dialogs.on_question = [&](QMessageBox&) {
    if (answer_comes) fs::remove(hold_file);
    if (annulla && fixture.dialogs.questions.size() == 1) {
      QTimer::singleShot(300, [&] {
        if (QProgressDialog* progress = fixture.host.progress_dialog())
          QTest::mouseClick(progress->findChild<QPushButton*>(QStringLiteral("btnAnnulla")), Qt::LeftButton);
      });
    }
  };
  QTest::mouseClick(child<QPushButton>(window, "btnCalcola"), Qt::LeftButton);
  fixture.host.set_progress_hook({});
  fs::remove(hold_file);

  QCOMPARE(int(fixture.dialogs.questions.size()), questions);
  for (std::size_t i = 0; i < fixture.dialogs.questions.size(); ++i) {
    const DialogScript::Question& q = fixture.dialogs.questions[i];
    QCOMPARE(q.text, i == 0 ? QStringLiteral("Praxilo non risponde da 1 secondo.")
                            : QStringLiteral("Praxilo non risponde da 2 secondi."));
    QCOMPARE(q.caption, QStringLiteral("Estrazione diabete"));
    QCOMPARE(q.icon, QMessageBox::Warning);
    QCOMPARE(q.buttons, (QStringList{"Attendi ancora", "Interrompi"}));
    QCOMPARE(q.default_button, QStringLiteral("btnAttendi"));
    QVERIFY(q.over_progress);
    QVERIFY(q.plain_text);
  }
  auto* line = child<QLabel>(window, "lblStato");
  QVERIFY2(line->text().startsWith(status), qPrintable(line->text()));
  QVERIFY(!fixture.host.progress_dialog());
  if (status.startsWith(QStringLiteral("Salvato"))) {
    QCOMPARE(window.controller().last_run().patient_count, 2);
    QVERIFY(fixture.dialogs.boxes.empty());
    return;
  }
  QCOMPARE(test_support::read_file(path), std::string("an older report"));
  if (annulla) {
    QVERIFY(fixture.dialogs.boxes.empty());
  } else {
    QCOMPARE(int(fixture.dialogs.boxes.size()), 1);
    QCOMPARE(fixture.dialogs.boxes[0].text, QStringLiteral("Estrazione interrotta: Praxilo non risponde."));
    QCOMPARE(fixture.dialogs.boxes[0].caption, QStringLiteral("Estrazione diabete"));
  }
  QTRY_COMPARE(server_processes(), 0);  // the session ended with its server

  // The next run signs in again and is whole.
  fixture.dialogs.save_paths << QString::fromStdString(path);
  run_and_wait_for_page(window, "btnCalcola");
  QCOMPARE(window.controller().last_run().patient_count, 2);
}

void MainWindowTest::statusLineSaysWhatHappened() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  auto* status = child<QLabel>(window, "lblStato");
  QVERIFY(status->text().isEmpty());

  const std::string path = fixture.practice.work.dir() + "File Diabete ZONA12.xml";
  fixture.dialogs.save_paths << QString::fromStdString(path);
  run_and_wait_for_page(window, "btnCalcola");
  QCOMPARE(status->text(), QString::fromStdString("Salvato: " + path) + QStringLiteral(" – 2 assistiti"));

  // The only vaccination is in October: a range ending in June finds nobody.
  set_range(window, QDate(2024, 1, 1), QDate(2024, 6, 30));
  fixture.dialogs.save_paths << QString::fromStdString(fixture.practice.work.dir() + "v.xml");
  QTest::mouseClick(child<QPushButton>(window, "btnVaccinazioni"), Qt::LeftButton);
  QCOMPARE(status->text(), QStringLiteral("Nessun paziente estratto: nessun file salvato."));
  QCOMPARE(fixture.dialogs.boxes.size(), std::size_t(1));
  QCOMPARE(fixture.dialogs.boxes[0].icon, QMessageBox::Information);

  // The save dialog cancelled (no path left in the script).
  QTest::mouseClick(child<QPushButton>(window, "btnSalva"), Qt::LeftButton);
  QCOMPARE(window.controller().last_run().outcome, RunOutcome::save_dialog_cancelled);
  QCOMPARE(status->text(), QStringLiteral("Nessun file scelto: estrazione non eseguita."));
  QVERIFY(status->isVisible());
  QCOMPARE(status->parentWidget()->geometry().bottom(), window.height() - 1);
}

// The status line's path can be selected and copied; "Apri cartella" beside it and in the
// report's menu opens the saved report's folder, once there is one, or says it could not.
void MainWindowTest::savedReportIsOneClickAway() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  QVERIFY(QTest::qWaitForWindowActive(&window));
  QStringList opened;
  bool opens = true;
  fixture.host.set_folder_opener([&](const QString& folder) {
    opened << folder;
    return opens;
  });
  auto* button = child<QPushButton>(window, "btnApriCartella");
  auto* view = qobject_cast<ReportView*>(child<QWebEngineView>(window, "WebBrowser"));
  QVERIFY(button->isVisible());
  QVERIFY(!button->isEnabled());

  const QString folder = QString::fromStdString(fixture.practice.work.dir() + "referti");
  QVERIFY(QDir().mkpath(folder));
  const QString path = folder + QStringLiteral("/File Diabete ZONA12.xml");
  fixture.dialogs.save_paths << path;
  run_and_wait_for_page(window, "btnCalcola");
  QVERIFY(button->isEnabled());

  // Select the whole line with the keyboard and copy it: the path is on the clipboard.
  auto* status = child<QLabel>(window, "lblStato");
  QVERIFY(status->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
  status->setFocus();
  status->setSelection(0, int(status->text().size()));
  QTest::keySequence(status, QKeySequence::Copy);
  QVERIFY2(QApplication::clipboard()->text().contains(path), qPrintable(QApplication::clipboard()->text()));

  QTest::mouseClick(button, Qt::LeftButton);
  QCOMPARE(opened, QStringList{folder});
  std::unique_ptr<QMenu> menu(view->create_report_menu());
  QAction* entry = menu->actions().at(2);
  QCOMPARE(entry->text(), QStringLiteral("Apri cartella"));
  entry->trigger();
  QCOMPARE(opened, (QStringList{folder, folder}));
  QVERIFY(fixture.dialogs.boxes.empty());

  opens = false;
  QTest::mouseClick(button, Qt::LeftButton);
  QCOMPARE(fixture.dialogs.boxes.size(), std::size_t(1));
  QCOMPARE(fixture.dialogs.boxes[0].text,
           QStringLiteral("Impossibile aprire la cartella con il gestore dei file.\n\nLa cartella è:\n") + folder);
  QCOMPARE(fixture.dialogs.boxes[0].icon, QMessageBox::Warning);
}

void MainWindowTest::viewTakesTheRestOfTheWindow_data() {
  QTest::addColumn<QSize>("size");
  QTest::addColumn<QSize>("view");
  QTest::newRow("as it starts") << QSize(833, 536) << QSize(817, 352);
  QTest::newRow("larger") << QSize(1200, 800) << QSize(1184, 616);
  QTest::newRow("smaller than the controls") << QSize(500, 200) << QSize(785, 96);
}

void MainWindowTest::viewTakesTheRestOfTheWindow() {
  QFETCH(QSize, size);
  QFETCH(QSize, view);
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  QVERIFY(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  window.resize(size);
  QCOMPARE(child<QWebEngineView>(window, "WebBrowser")->geometry(), QRect(QPoint(8, 160), view));
  // The controls keep their places.
  QCOMPARE(child<QPushButton>(window, "btnVaccinazioni")->geometry(), QRect(656, 106, 137, 26));
  QCOMPARE(child<QDateEdit>(window, "DTAl")->geometry(), QRect(479, 33, 129, 21));

  window.showMaximized();
  QTRY_VERIFY(window.isMaximized());
  QTRY_COMPARE(child<QWebEngineView>(window, "WebBrowser")->width(), window.width() - 16);
}

void MainWindowTest::newReportOpensAtItsTop() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  window.resize(833, 300);  // a short view, so that the page scrolls
  auto* view = child<QWebEngineView>(window, "WebBrowser");
  fixture.dialogs.save_paths << QString::fromStdString(fixture.practice.work.dir() + "d.xml");
  run_and_wait_for_page(window, "btnCalcola");
  QVERIFY(page_number(view, "document.documentElement.scrollHeight") > view->height());
  page_number(view, "window.scrollTo(0, document.documentElement.scrollHeight), window.scrollY");
  QTRY_VERIFY(page_number(view, "window.scrollY") > 0);

  fixture.dialogs.save_paths << QString::fromStdString(fixture.practice.work.dir() + "d2.xml");
  run_and_wait_for_page(window, "btnCalcola");
  QTest::qWait(300);  // a restored position would be applied after the load
  QCOMPARE(page_number(view, "window.scrollY"), 0.0);
}

void MainWindowTest::contextMenuOffersPrintBrowserCopy() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  auto* view = qobject_cast<ReportView*>(child<QWebEngineView>(window, "WebBrowser"));
  QVERIFY(view);
  auto entries = [&] {
    std::unique_ptr<QMenu> menu(view->create_report_menu());
    QStringList texts;
    for (const QAction* action : menu->actions())
      if (!action->isSeparator()) texts << action->text() + (action->isEnabled() ? "" : " (spento)");
    return texts;
  };
  QCOMPARE(entries(), (QStringList{"Stampa… (spento)", "Apri nel browser (spento)", "Apri cartella (spento)",
                                   "Trova… (spento)", "Copia (spento)"}));

  fixture.dialogs.save_paths << QString::fromStdString(fixture.practice.work.dir() + "d.xml");
  run_and_wait_for_page(window, "btnCalcola");
  QCOMPARE(entries(), (QStringList{"Stampa…", "Apri nel browser", "Apri cartella", "Trova…", "Copia (spento)"}));
  page_number(view, "window.getSelection().selectAllChildren(document.body), 1");
  QTRY_VERIFY(view->hasSelection());
  QCOMPARE(entries(), (QStringList{"Stampa…", "Apri nel browser", "Apri cartella", "Trova…", "Copia"}));

  // A right click on the page opens the same menu.
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  QWidget* page_widget = view->focusProxy() ? view->focusProxy() : view;
  QTest::mouseClick(page_widget, Qt::RightButton, {}, QPoint(20, 20));
  QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
  auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  QCOMPARE(popup->actions().size(), 6);  // five entries and a separator
  popup->close();

  // "Apri nel browser" with no browser to take the page: a box says so and where it is.
  QUrl asked;
  view->set_browser_opener([&](const QUrl& url) {
    asked = url;
    return false;
  });
  std::unique_ptr<QMenu> menu(view->create_report_menu());
  menu->actions().at(1)->trigger();
  QCOMPARE(asked, view->url());
  QCOMPARE(fixture.dialogs.boxes.size(), std::size_t(1));
  const QString html = QString::fromStdString(fixture.practice.installation.appdir() + "ZONA12.html");
  QCOMPARE(
      fixture.dialogs.boxes[0].text,
      QStringLiteral("Impossibile aprire la pagina nel browser: nessun browser l'ha accettata.\n\nLa pagina è in:\n") +
          html);
  QCOMPARE(fixture.dialogs.boxes[0].icon, QMessageBox::Warning);
}

void MainWindowTest::findBarSearchesThePage() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  auto* view = qobject_cast<ReportView*>(child<QWebEngineView>(window, "WebBrowser"));
  auto* bar = child<FindBar>(window, "findBar");
  auto* field = child<QLineEdit>(window, "findText");
  fixture.dialogs.save_paths << QString::fromStdString(fixture.practice.work.dir() + "d.xml");
  run_and_wait_for_page(window, "btnCalcola");
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  const QRect view_alone = view->geometry();
  QVERIFY(bar->isHidden());

  // Ctrl+F from the report opens the bar under the view, with the focus in its field.
  view->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
  QVERIFY(bar->isVisible());
  QCOMPARE(QApplication::focusWidget(), field);
  QCOMPARE(view->geometry().top(), view_alone.top());
  QCOMPARE(view->geometry().bottom() + 1, bar->geometry().top());
  QCOMPARE(bar->geometry().bottom(), view_alone.bottom());

  // The patient's surname, counted in the page's text as the find bar counts: ignoring case.
  const QString surname = QStringLiteral("Conti");
  const int occurrences = static_cast<int>(page_number(
      view,
      QStringLiteral("(document.body.innerText.toLowerCase().match(/%1/g) || []).length").arg(surname.toLower())));
  QVERIFY2(occurrences >= 2, qPrintable(QString::number(occurrences)));
  const auto count = [&](int active) { return QStringLiteral("%1 di %2").arg(active).arg(occurrences); };
  QTest::keyClicks(field, surname);  // searched as it is typed
  QTRY_COMPARE_WITH_TIMEOUT(bar->count_text(), count(1), 10000);
  QTest::keyClick(field, Qt::Key_Return);
  QTRY_COMPARE_WITH_TIMEOUT(bar->count_text(), count(2), 10000);
  QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
  QTRY_COMPARE_WITH_TIMEOUT(bar->count_text(), count(1), 10000);
  QTest::mouseClick(child<QPushButton>(window, "findPrevious"), Qt::LeftButton);
  QTRY_COMPARE_WITH_TIMEOUT(bar->count_text(), count(occurrences), 10000);  // back past the first: the last

  field->clear();
  QTest::keyClicks(field, QStringLiteral("qwzx"));
  QTRY_COMPARE_WITH_TIMEOUT(bar->count_text(), QStringLiteral("Nessun risultato"), 10000);

  // Esc in the bar closes it, not the window; the view has its room and the focus back.
  field->setFocus();
  QTest::keyClick(field, Qt::Key_Escape);
  QVERIFY(bar->isHidden());
  QVERIFY(window.isVisible());
  QCOMPARE(view->geometry(), view_alone);
  QWidget* focus = QApplication::focusWidget();
  QVERIFY2(focus == view || view->isAncestorOf(focus) || focus == view->focusProxy(),
           qPrintable(focus ? focus->objectName() + "/" + focus->metaObject()->className() : "none"));

  // "Trova…" in the context menu opens it again, with the last text selected.
  std::unique_ptr<QMenu> menu(view->create_report_menu());
  for (QAction* action : menu->actions())
    if (action->text() == QStringLiteral("Trova…")) action->trigger();
  QVERIFY(bar->isVisible());
  QCOMPARE(field->selectedText(), QStringLiteral("qwzx"));
}

void MainWindowTest::findBarClosesForANewReport() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  auto* view = child<QWebEngineView>(window, "WebBrowser");
  auto* bar = child<FindBar>(window, "findBar");
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  window.find_in_report();  // nothing to search before a report is shown
  QVERIFY(bar->isHidden());

  fixture.dialogs.save_paths << QString::fromStdString(fixture.practice.work.dir() + "d.xml");
  run_and_wait_for_page(window, "btnCalcola");
  const QRect view_alone = view->geometry();
  window.find_in_report();
  QTest::keyClicks(child<QLineEdit>(window, "findText"), QStringLiteral("Conti"));
  QTRY_VERIFY_WITH_TIMEOUT(bar->count_text().startsWith(QStringLiteral("1 di ")), 10000);

  fixture.dialogs.save_paths << QString::fromStdString(fixture.practice.work.dir() + "t.xml");
  run_and_wait_for_page(window, "btnSalva");
  QVERIFY(bar->isHidden());
  QCOMPARE(view->geometry(), view_alone);
  QCOMPARE(bar->count_text(), QString());
}

void MainWindowTest::printsTheReportToPdf() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  int print_dialogs = 0;
  const std::string pdf = fixture.practice.work.dir() + "stampa.pdf";
  fixture.dialogs.answer_other = [&](QDialog& dialog) {
    auto* print = qobject_cast<QPrintDialog*>(&dialog);
    QVERIFY(print);
    ++print_dialogs;
    print->printer()->setOutputFormat(QPrinter::PdfFormat);
    print->printer()->setOutputFileName(QString::fromStdString(pdf));
    dialog.done(QDialog::Accepted);  // keeps the printer as set, as "Stampa su file" does
  };
  QVERIFY(QTest::qWaitForWindowActive(&window));
  // Before a report is shown there is nothing to print.
  QTest::keySequence(&window, QKeySequence::Print);
  QCOMPARE(print_dialogs, 0);

  fixture.dialogs.save_paths << QString::fromStdString(fixture.practice.work.dir() + "d.xml");
  run_and_wait_for_page(window, "btnCalcola");
  QSignalSpy printed(&window, &TfrmMain::printed);
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  child<QPushButton>(window, "btnChiudi")->setFocus();
  QTest::keySequence(QApplication::focusWidget(), QKeySequence::Print);
  QCOMPARE(print_dialogs, 1);
  QTRY_VERIFY_WITH_TIMEOUT(printed.count() > 0, 30000);
  QCOMPARE(printed.first().at(0).value<ReportPrinter::Outcome>(), ReportPrinter::Outcome::printed);
  QVERIFY(read_file(pdf).rfind("%PDF", 0) == 0);
  QVERIFY(fixture.dialogs.boxes.empty());
}

void MainWindowTest::enterPressesTheFocusedButton() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  QVERIFY(QTest::qWaitForWindowActive(&window));
  auto* vaccinazioni = child<QPushButton>(window, "btnVaccinazioni");
  vaccinazioni->setFocus();
  QTest::keyClick(vaccinazioni, Qt::Key_Return);  // the save dialog opens and is cancelled
  QCOMPARE(fixture.dialogs.file_dialogs.size(), std::size_t(1));
  QCOMPARE(fixture.dialogs.file_dialogs[0].offered, QStringLiteral("File Vaccinazioni ZONA12.xml"));
  QCOMPARE(window.controller().last_run().outcome, RunOutcome::save_dialog_cancelled);
  // A button focused by the mouse shows the focus mark too.
  auto* salva = child<QPushButton>(window, "btnSalva");
  window.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  child<QPushButton>(window, "btnChiudi")->setFocus(Qt::MouseFocusReason);
  const QImage unfocused = salva->grab().toImage();
  salva->setFocus(Qt::MouseFocusReason);
  QVERIFY(salva->hasFocus());
  QVERIFY(salva->grab().toImage() != unfocused);
  // The date pickers speak Italian.
  QCOMPARE(child<QDateEdit>(window, "DTDal")->locale().language(), QLocale::Italian);
}

void MainWindowTest::typedDateReplacesTheShownOne_data() {
  QTest::addColumn<QString>("picker");
  QTest::addColumn<bool>("by_tab");  // focus by Tab from the control before it, else one click
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QDate>("date");
  QTest::newRow("Dal, click, digits only") << "DTDal" << false << "05122025" << QDate(2025, 12, 5);
  QTest::newRow("Dal, click, with slashes") << "DTDal" << false << "5/12/2025" << QDate(2025, 12, 5);
  QTest::newRow("Al, click, day and month of one digit") << "DTAl" << false << "3/2/2024" << QDate(2024, 2, 3);
  QTest::newRow("Dal, click, two digits and slashes") << "DTDal" << false << "05/02/2025" << QDate(2025, 2, 5);
  QTest::newRow("Al, Tab, digits only") << "DTAl" << true << "31012025" << QDate(2025, 1, 31);
  QTest::newRow("Dal, Tab, with slashes") << "DTDal" << true << "5/12/2025" << QDate(2025, 12, 5);
}

void MainWindowTest::typedDateReplacesTheShownOne() {
  QFETCH(QString, picker);
  QFETCH(bool, by_tab);
  QFETCH(QString, typed);
  QFETCH(QDate, date);
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  QVERIFY(QTest::qWaitForWindowActive(&window));
  auto* edit = child<QDateEdit>(window, picker.toLatin1().constData());
  if (by_tab) {
    // The shown control before each picker in the tab order.
    child<QWidget>(window, picker == "DTAl" ? "edt_ASL" : "edt_NominativoMMG")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(edit->hasFocus());
  } else {
    // One click in the middle of the text (on the month), as a doctor clicks.
    QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(edit->width() / 3, edit->height() / 2));
  }
  QTest::keyClicks(QApplication::focusWidget(), typed);
  QCOMPARE(edit->date(), date);
  // The range reaches a run as typed.
  const DateRange range = static_cast<MainView&>(window).range();
  QCOMPARE(picker == "DTDal" ? range.from : range.to, tools::encode_date(date.year(), date.month(), date.day()));
}

PZ_GUI_TEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
