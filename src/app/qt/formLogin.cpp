#include "formLogin.hpp"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>

#include "app/login.hpp"
#include "app/main_controller.hpp"
#include "app/main_layout.hpp"
#include "appearance.hpp"

namespace {

constexpr int client_width = 301;
constexpr int client_height = 159;

}  // namespace

TfrmLogin::TfrmLogin(QWidget* owner, SignInAttempts& sign_in) : QDialog(owner), sign_in_(sign_in) {
  setObjectName(QStringLiteral("frmLogin"));
  setWindowTitle(QString::fromUtf8(main_layout::title));
  // A fixed dialog border: a title and a close box, no resizing, no minimise or maximise.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowIcon(application_icon());
  setFont(window_font());
  setFixedSize(client_width, client_height);
  setSizeGripEnabled(false);

  PraxiLogo = place_control(new QLabel(this), "PraxiLogo", 0, 0, 113, 142);
  PraxiLogo->setPixmap(praxi_logo());
  PraxiLogo->setAlignment(Qt::AlignCenter);

  labelUtente = place_label(this, "labelUtente", QStringLiteral("Utente"), 119, 7, true);
  editUtente = place_control(new QLineEdit(this), "editUtente", 117, 24, 169, 21);
  labelPassword = place_label(this, "labelPassword", QStringLiteral("Password"), 119, 56, true);
  editPassword = place_control(new QLineEdit(this), "editPassword", 117, 72, 169, 21);
  editPassword->setEchoMode(QLineEdit::Password);
  // The mask character is a style hint in Qt; "*" as the Windows box shows it.
  editPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));

  ButtonOk = place_control(new QPushButton(QStringLiteral("&OK"), this), "ButtonOk", 148, 112, 64, 24);
  ButtonOk->setFont(window_font(true));
  ButtonOk->setDefault(true);
  ButtonAnnulla = place_control(new QPushButton(QStringLiteral("&Annulla"), this), "ButtonAnnulla", 221, 112, 64, 24);
  ButtonAnnulla->setFont(window_font(true));

  StatusBar1 = place_control(new QStatusBar(this), "StatusBar1", 0, 140, client_width, 19);
  StatusBar1->setSizeGripEnabled(false);
  auto* panel = new QLabel(QStringLiteral(" Inserire Nome Utente e Password di Praxilo"), StatusBar1);
  panel->setObjectName(QStringLiteral("StatusBar1Panel0"));
  panel->setMinimumWidth(50);
  StatusBar1->addWidget(panel, 1);

  setTabOrder(editPassword, ButtonOk);
  setTabOrder(ButtonOk, ButtonAnnulla);
  setTabOrder(ButtonAnnulla, editUtente);

  connect(ButtonOk, &QPushButton::clicked, this, &TfrmLogin::ButtonOkClick);
  connect(ButtonAnnulla, &QPushButton::clicked, this, &TfrmLogin::ButtonAnnullaClick);

  FormCreate();
}

TfrmLogin::~TfrmLogin() = default;

void TfrmLogin::FormCreate() {
  editUtente->setText(QString::fromStdString(last_user_name()));
  editPassword->setFocus();
}

void TfrmLogin::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (QScreen* screen = this->screen()) {
    const QRect available = screen->availableGeometry();
    // The whole window, frame included, is centred (the frame is as large as known now).
    const QSize outer = frameGeometry().size();
    move(available.center() - QPoint(outer.width() / 2, outer.height() / 2));
  }
  editPassword->setFocus();
}

void TfrmLogin::keyPressEvent(QKeyEvent* event) {
  // The window has no cancel button: Esc does nothing.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool TfrmLogin::run() { return exec() == QDialog::Accepted; }

void TfrmLogin::ButtonOkClick() {
  switch (sign_in_.attempt_sign_in(editUtente->text().toStdString(), editPassword->text().toStdString())) {
    case SignInAnswer::admitted:
      accept();
      return;
    case SignInAnswer::refused:
      // The password is selected, so that typing replaces it.
      editPassword->setFocus(Qt::OtherFocusReason);
      editPassword->selectAll();
      return;
    case SignInAnswer::given_up:
    case SignInAnswer::busy:
      return;
  }
}

void TfrmLogin::ButtonAnnullaClick() { reject(); }

void TfrmLogin::reject() {
  // Annulla and the close box; an attempt still running is given up when it returns.
  sign_in_.give_up_sign_in();
  QDialog::reject();
}
