// The sign-in window on its own: what it shows when it opens, the keys, and the ways to
// close it. The sign-in attempts themselves go to praxilo-server on a fixture installation.
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QStatusBar>

#include "app/login.hpp"
#include "app/main_controller.hpp"
#include "appearance.hpp"
#include "formLogin.hpp"
#include "gui_support.hpp"
#include "records/px_wrap_praxipat.hpp"

using namespace gui_test;

class LoginWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void opensWithLastUserAndFocusInPassword_data();
  void opensWithLastUserAndFocusInPassword();
  void tabOrder();
  void enterPressesOk_data();
  void enterPressesOk();
  void escapeDoesNothingAnnullaAndCloseBoxCancel_data();
  void escapeDoesNothingAnnullaAndCloseBoxCancel();
};

namespace {

// The attempts of the window made at once, on its thread, with a session of their own.
class DirectSignIn : public SignInAttempts {
 public:
  explicit DirectSignIn(frontend::Host& host) : host_(host) {}
  SignInAnswer attempt_sign_in(const std::string& user_name, const std::string& password) override {
    user = sign_in_attempt(user_name, password, session, host_);
    return user ? SignInAnswer::admitted : SignInAnswer::refused;
  }
  void give_up_sign_in() override { given_up = true; }
  bool signing_in() const override { return false; }

  Tpx_wrap_praxipat session;
  std::unique_ptr<TUser> user;
  bool given_up = false;

 private:
  frontend::Host& host_;
};

}  // namespace

void LoginWindowTest::opensWithLastUserAndFocusInPassword_data() {
  QTest::addColumn<QString>("registry");
  QTest::addColumn<QString>("user_name");
  QTest::newRow("last user recorded") << QString::fromStdString(last_user("doc")) << "doc";
  QTest::newRow("no last user") << QString() << QString();
  QTest::newRow("last user not a string")
      << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvanta-Ferrix]\r\n\"ultimo_utente\"=dword:00000001\r\n"
      << QString();
}

void LoginWindowTest::opensWithLastUserAndFocusInPassword() {
  QFETCH(QString, registry);
  QFETCH(QString, user_name);
  Practice practice(registry.toStdString());
  QtHost host;
  DirectSignIn sign_in(host);
  TfrmLogin frmLogin(nullptr, sign_in);
  frmLogin.show();
  QVERIFY(QTest::qWaitForWindowActive(&frmLogin));

  QCOMPARE(child<QLineEdit>(frmLogin, "editUtente")->text(), user_name);
  auto* password = child<QLineEdit>(frmLogin, "editPassword");
  QCOMPARE(QApplication::focusWidget(), password);
  QTest::keyClicks(password, "abc");
  QCOMPARE(password->text(), QStringLiteral("abc"));
  QCOMPARE(password->displayText(), QStringLiteral("***"));

  QCOMPARE(frmLogin.windowTitle(), QStringLiteral("Estrazioni ZONA12"));
  QCOMPARE(frmLogin.size(), QSize(301, 159));
  QCOMPARE(frmLogin.minimumSize(), frmLogin.maximumSize());
  const QPoint off_centre = frmLogin.frameGeometry().center() - frmLogin.screen()->availableGeometry().center();
  QVERIFY2(off_centre.manhattanLength() <= 2,
           qPrintable(QStringLiteral("%1,%2").arg(off_centre.x()).arg(off_centre.y())));
  QVERIFY(!frmLogin.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  QVERIFY(!frmLogin.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  auto* status = child<QStatusBar>(frmLogin, "StatusBar1");
  QCOMPARE(status->geometry(), QRect(0, 140, 301, 19));
  QCOMPARE(child<QLabel>(frmLogin, "StatusBar1Panel0")->text(),
           QStringLiteral(" Inserire Nome Utente e Password di Praxilo"));
  QVERIFY(child<QPushButton>(frmLogin, "ButtonOk")->isDefault());
  QVERIFY(child<QPushButton>(frmLogin, "ButtonOk")->font().bold());
  QVERIFY(child<QLabel>(frmLogin, "labelPassword")->font().bold());
}

void LoginWindowTest::tabOrder() {
  Practice practice;
  QtHost host;
  DirectSignIn sign_in(host);
  TfrmLogin frmLogin(nullptr, sign_in);
  frmLogin.show();
  QVERIFY(QTest::qWaitForWindowActive(&frmLogin));
  const char* order[] = {"editPassword", "ButtonOk", "ButtonAnnulla", "editUtente", "editPassword"};
  for (const char* name : order) {
    QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(name));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
}

void LoginWindowTest::enterPressesOk_data() {
  QTest::addColumn<QString>("box");
  QTest::newRow("in the user name") << "editUtente";
  QTest::newRow("in the password") << "editPassword";
}

void LoginWindowTest::enterPressesOk() {
  QFETCH(QString, box);
  Practice practice;
  QtHost host;
  DialogScript dialogs(host);
  DirectSignIn sign_in(host);
  TfrmLogin frmLogin(nullptr, sign_in);
  child<QLineEdit>(frmLogin, "editUtente")->setText("doc");

  // A wrong password: the attempt is refused and the window stays open.
  child<QLineEdit>(frmLogin, "editPassword")->setText("sbagliata");
  when_modal<TfrmLogin>([&](TfrmLogin& window) {
    QTest::keyClick(child<QLineEdit>(window, box.toLatin1().constData()), Qt::Key_Return);
    QVERIFY(window.isVisible());
    child<QLineEdit>(window, "editPassword")->setText("pw");
    QTest::keyClick(child<QLineEdit>(window, box.toLatin1().constData()), Qt::Key_Enter);
    if (window.isVisible()) window.reject();  // Enter did not sign in: fail, don't hang
  });
  QCOMPARE(frmLogin.exec(), int(QDialog::Accepted));
  QCOMPARE(dialogs.boxes.size(), std::size_t(1));
  QCOMPARE(dialogs.boxes[0].text, QStringLiteral("ERRORE: Dati Utente o Password non riconosciuti."));
  QCOMPARE(dialogs.boxes[0].caption, QStringLiteral("PIV ZONA12"));
  QCOMPARE(dialogs.boxes[0].icon, QMessageBox::Critical);
  QVERIFY(dialogs.boxes[0].busy);            // the attempt runs under the busy cursor ...
  QVERIFY(!QApplication::overrideCursor());  // ... which is gone afterwards
  QVERIFY(sign_in.user);
  QCOMPARE(sign_in.user->get_cognome(), std::string("Rossi"));
}

void LoginWindowTest::escapeDoesNothingAnnullaAndCloseBoxCancel_data() {
  QTest::addColumn<QString>("how");
  QTest::newRow("Annulla") << "click";
  QTest::newRow("Enter on the focused Annulla") << "enter";
  QTest::newRow("close box") << "close box";
}

void LoginWindowTest::escapeDoesNothingAnnullaAndCloseBoxCancel() {
  QFETCH(QString, how);
  Practice practice;
  QtHost host;
  DialogScript dialogs(host);
  DirectSignIn sign_in(host);
  TfrmLogin frmLogin(nullptr, sign_in);
  bool open_after_escape = false;
  when_modal<TfrmLogin>([&](TfrmLogin& window) {
    QTest::keyClick(child<QLineEdit>(window, "editPassword"), Qt::Key_Escape);
    QTest::keyClick(&window, Qt::Key_Escape);
    open_after_escape = window.isVisible();
    auto* annulla = child<QPushButton>(window, "ButtonAnnulla");
    if (how == "close box") {
      window.close();
    } else if (how == "enter") {
      annulla->setFocus(Qt::TabFocusReason);
      QTest::keyClick(annulla, Qt::Key_Return);
      if (window.isVisible()) window.accept();  // Enter pressed OK instead: fail, don't hang
    } else {
      QTest::mouseClick(annulla, Qt::LeftButton);
    }
  });
  QCOMPARE(frmLogin.exec(), int(QDialog::Rejected));
  QVERIFY(open_after_escape);
  QVERIFY(!sign_in.user);
  QVERIFY(sign_in.given_up);
  QVERIFY(dialogs.boxes.empty());
}

PZ_GUI_TEST_MAIN(LoginWindowTest)
#include "login_window_test.moc"
