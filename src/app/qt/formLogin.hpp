#pragma once
// The sign-in window: the doctor's user name and password for the records product. OK
// makes one sign-in attempt; the window closes with Accepted only when it admits the doctor.
#include <memory>

#include <QDialog>

#include "records/TUser.hpp"

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class Tpx_wrap_praxipat;
namespace platform {
class Host;
}

class TfrmLogin : public QDialog {
  Q_OBJECT

 public:
  /// Builds the window and fills the user name with the last one used. host shows the
  /// attempt's messages and the busy cursor; it must outlive the window.
  TfrmLogin(QWidget* owner, platform::Host& host);
  ~TfrmLogin() override;

  /// The session the attempts sign in with; not owned.
  void set_session(Tpx_wrap_praxipat* session) { session_ = session; }
  /// The identity record of the last attempt; nullptr unless that attempt admitted the doctor.
  TUser* get_user() const { return user_.get(); }
  /// Hands over the record of the last attempt (for the main window, after OK).
  std::unique_ptr<TUser> take_user() { return std::move(user_); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private slots:
  void ButtonOkClick();
  void ButtonAnnullaClick();

 private:
  void FormCreate();

  platform::Host& host_;
  Tpx_wrap_praxipat* session_ = nullptr;
  std::unique_ptr<TUser> user_;

  QLabel* PraxiLogo;
  QLabel* labelUtente;
  QLineEdit* editUtente;
  QLabel* labelPassword;
  QLineEdit* editPassword;
  QPushButton* ButtonOk;
  QPushButton* ButtonAnnulla;
  QStatusBar* StatusBar1;
};
