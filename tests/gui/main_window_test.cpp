// The main window end to end: the sign-in inside its creation, the doctor's data and the
// range after start-up, closing, and the programme runs with the save dialog, the message
// boxes and the report view, against praxilo-server on a fixture installation.
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QFile>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <memory>

#include "PIVZONA12Main.hpp"
#include "appearance.hpp"
#include "formLogin.hpp"
#include "gui_support.hpp"

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

// Clicks a programme button and waits until the report view has loaded the page.
void run_and_wait_for_page(TfrmMain& window, const char* button) {
  auto* view = child<QWebEngineView>(window, "WebBrowser");
  QSignalSpy loaded(view, &QWebEngineView::loadFinished);
  QTest::mouseClick(child<QPushButton>(window, button), Qt::LeftButton);
  QCOMPARE(window.last_run().outcome, RunOutcome::saved);
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
  when_modal<TfrmLogin>([&](TfrmLogin& window) {
    type_credentials(window, user, password);
    kept_user = child<QLineEdit>(window, "editUtente")->text();
    type_credentials(window, "doc", "pw");
    if (window.isVisible()) window.reject();
  });
  TfrmMain window(host);

  QCOMPARE(kept_user, user);  // a refused attempt leaves the texts as typed
  QCOMPARE(dialogs.boxes.size(), std::size_t(1));
  QCOMPARE(dialogs.boxes[0].text, message);
  QCOMPARE(dialogs.boxes[0].caption, QStringLiteral("PIV ZONA12"));
  QVERIFY(window.signed_in());
  QCOMPARE(window.get_user()->get_userid_utente(), std::string("MED1"));
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
    QCOMPARE(window->patient_count(), 0);
    QVERIFY(window->report_url().empty());

    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(window->windowTitle(), QStringLiteral("Estrazioni ZONA12"));
    QCOMPARE(window->frameGeometry(), QRect(589, 293, 833, 536));
    for (const char* hidden : {"Label5", "edt_Regione", "Label8", "edt_Distretto"})
      QVERIFY2(!window->findChild<QWidget*>(hidden)->isVisible(), hidden);
    for (const char* shown : {"btnCalcola", "btnSalva", "btnVaccinazioni", "btnChiudi", "WebBrowser", "DTDal"})
      QVERIFY2(window->findChild<QWidget*>(shown)->isVisible() && window->findChild<QWidget*>(shown)->isEnabled(),
               shown);
    // Nothing is anchored: a larger window leaves the report view where it was.
    window->resize(1000, 700);
    QCOMPARE(child<QWebEngineView>(*window, "WebBrowser")->geometry(), QRect(8, 160, 809, 321));
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
  QCOMPARE(window.last_run().outcome, RunOutcome::saved);
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
  QCOMPARE(window.patient_count(), 2);
  const std::string html = fixture.practice.installation.appdir() + "ZONA12.html";
  QCOMPARE(window.report_url(), "file://" + html);
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
  QCOMPARE(window.report_url(), "file://" + html);
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
  QCOMPARE(window.last_run().outcome, RunOutcome::refused);
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
  QCOMPARE(window.last_run().outcome, RunOutcome::no_patient);
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

void MainWindowTest::longRunShowsModalProgressAndGivesTheSameReport() {
  SignedIn fixture;
  TfrmMain& window = *fixture.window;
  QVERIFY(QTest::qWaitForWindowExposed(&window));

  // Without the dialog.
  const std::string plain_path = fixture.practice.work.dir() + "plain.xml";
  fixture.host.set_progress_threshold(1000);
  fixture.dialogs.save_paths << QString::fromStdString(plain_path);
  QTest::mouseClick(child<QPushButton>(window, "btnCalcola"), Qt::LeftButton);
  QCOMPARE(window.last_run().outcome, RunOutcome::saved);

  // With it: while the run goes on, the dialog is the modal window and a second press of
  // a programme button starts nothing.
  const std::string shown_path = fixture.practice.work.dir() + "shown.xml";
  fixture.host.set_progress_threshold(1);
  fixture.dialogs.save_paths << QString::fromStdString(shown_path);
  QStringList labels;
  bool modal = true;
  QTimer watcher;
  watcher.setInterval(0);
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    QProgressDialog* progress = fixture.host.progress_dialog();
    if (!progress) return;
    modal = modal && QApplication::activeModalWidget() == progress && progress->windowTitle() == "Estrazione in corso";
    const QString label = progress->labelText();
    if (labels.isEmpty() || labels.last() != label) labels << label;
    child<QPushButton>(window, "btnSalva")->click();
  });
  watcher.start();
  QTest::mouseClick(child<QPushButton>(window, "btnCalcola"), Qt::LeftButton);
  watcher.stop();
  QCOMPARE(window.last_run().outcome, RunOutcome::saved);
  QVERIFY(!labels.isEmpty());
  QVERIFY(modal);
  QVERIFY2(labels.last().contains("di 2"), qPrintable(labels.join('|')));
  QCOMPARE(fixture.dialogs.file_dialogs.size(), std::size_t(2));  // no TAO run started meanwhile
  QVERIFY(!fixture.host.progress_dialog());
  QVERIFY(!QApplication::activeModalWidget());

  const QRegularExpression stamp(QStringLiteral("<dataOraProduzione>\\d{14}</dataOraProduzione>"));
  QString plain = QString::fromStdString(read_file(plain_path)).remove(stamp);
  QString shown = QString::fromStdString(read_file(shown_path)).remove(stamp);
  QVERIFY(plain.contains("Conti"));
  QCOMPARE(shown, plain);
}

PZ_GUI_TEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
