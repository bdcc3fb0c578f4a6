#pragma once
// The sign-in window: the doctor's user name and password for the records product. OK
// makes one sign-in attempt, the window answering meanwhile; the window closes with
// Accepted only when it admits the doctor. Annulla or the close box give up, during an
// attempt too.
#include <memory>

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class SignInAttempts;

class TfrmLogin : public QDialog {
  Q_OBJECT

 public:
  /// Builds the window and fills the user name with the last one used. sign_in makes the
  /// attempts; it must outlive the window.
  TfrmLogin(QWidget* owner, SignInAttempts& sign_in);
  ~TfrmLogin() override;

  /// Shows the window modally until it closes; true when it closed admitting the doctor.
  bool run();
  /// Annulla and the close box: an attempt still running admits nobody.
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private slots:
  void ButtonOkClick();
  void ButtonAnnullaClick();

 private:
  void FormCreate();

  SignInAttempts& sign_in_;

  QLabel* PraxiLogo;
  QLabel* labelUtente;
  QLineEdit* editUtente;
  QLabel* labelPassword;
  QLineEdit* editPassword;
  QPushButton* ButtonOk;
  QPushButton* ButtonAnnulla;
  QStatusBar* StatusBar1;
};
