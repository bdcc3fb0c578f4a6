#pragma once
// The sign-in window: user name and password of the records product; OK tries them, as
// often as needed; Annulla or the close box give up, during an attempt too. The hourglass
// stays over the window while an attempt runs.
#include <memory>

#include "records/TUser.hpp"
#include "records/px_wrap_praxipat.hpp"
#include "window.hpp"

class AutomationThread;
class Win32Host;

class TfrmLogin : public win32ui::Window {
 public:
  enum Control {
    id_PraxiLogo = 10,
    id_labelUtente,
    id_editUtente,
    id_labelPassword,
    id_editPassword,
    id_ButtonOk,
    id_ButtonAnnulla,
    id_StatusBar1
  };
  static constexpr int client_width = 301;
  static constexpr int client_height = 159;

  TfrmLogin(HWND owner, Win32Host& host);

  /// The session, and the thread on which it is used.
  void set_session(Tpx_wrap_praxipat* session, AutomationThread* automation) {
    session_ = session;
    automation_ = automation;
  }
  /// The record of the last attempt: filled when the window closed with OK.
  std::unique_ptr<TUser> take_user() { return std::move(user_); }
  /// Shows the window modally (its owner disabled); true when it closed with OK. False when
  /// Annulla or the close box ended it, during an attempt too: the session that attempt
  /// opened is then ended, and take_user gives nullptr.
  bool show_modal();

  bool preview(MSG& message) override;

 protected:
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  void ButtonOkClick();
  /// Annulla or the close box: the window ends with Cancel at once; an attempt still
  /// running is given up when it returns.
  void ButtonAnnullaClick();
  void end(bool ok);

  Win32Host& host_;
  HWND owner_;
  Tpx_wrap_praxipat* session_ = nullptr;
  AutomationThread* automation_ = nullptr;
  bool attempting_ = false;
  bool given_up_ = false;  ///< Annulla or the close box came while the attempt ran
  std::unique_ptr<TUser> user_;
  bool done_ = false;
  bool ok_ = false;
  bool owner_enabled_ = false;  ///< the owner was enabled before the window, and is disabled now
};
