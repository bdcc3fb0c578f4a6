#pragma once
// The sign-in window: user name and password of the records product; OK tries them, as
// often as needed; Annulla or the close box give up, during an attempt too. The hourglass
// stays over the window while an attempt runs.
#include "window.hpp"

class SignInAttempts;
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

  /// sign_in makes the attempts; host gives the tests' hook. Both must outlive the window.
  TfrmLogin(HWND owner, Win32Host& host, SignInAttempts& sign_in);

  /// Shows the window modally (its owner disabled); true when it closed admitting the
  /// doctor. False when Annulla or the close box ended it, during an attempt too.
  bool show_modal();

  bool preview(MSG& message) override;

 protected:
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  void ButtonOkClick();
  /// Annulla or the close box: the window ends with Cancel at once; an attempt still
  /// running admits nobody.
  void ButtonAnnullaClick();
  void end(bool ok);

  Win32Host& host_;
  HWND owner_;
  SignInAttempts& sign_in_;
  bool done_ = false;
  bool ok_ = false;
  bool owner_enabled_ = false;  ///< the owner was enabled before the window, and is disabled now
};
