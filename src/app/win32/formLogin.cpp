#include "formLogin.hpp"

#include <commctrl.h>

#include "app/login.hpp"
#include "app/main_controller.hpp"
#include "app/main_layout.hpp"
#include "appearance.hpp"
#include "platform/win_text.hpp"
#include "win32_host.hpp"

namespace {

constexpr UINT shown_message = WM_APP + 10;
constexpr DWORD login_style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
// A taskbar button of its own: its owner, the main window, is not shown yet.
constexpr DWORD login_ex_style = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;

}  // namespace

TfrmLogin::TfrmLogin(HWND owner, Win32Host& host, SignInAttempts& sign_in)
    : host_(host), owner_(owner), sign_in_(sign_in) {
  create(login_ex_style, login_style, platform::win::widen(main_layout::title), 0, 0, 0, 0, owner);
  // Its client area at its monitor's dpi, centred on the screen.
  set_dpi(host_.dpi(hwnd_));
  RECT outer{0, 0, scaled(client_width), scaled(client_height)};
  ::AdjustWindowRectEx(&outer, login_style, FALSE, login_ex_style);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  ::SetWindowPos(hwnd_, nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);

  // The tab order is the order of creation.
  HWND password =
      control(L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, id_editPassword, 117, 72, 169, 21);
  ::SendMessageW(password, EM_SETPASSWORDCHAR, L'*', 0);
  control(L"BUTTON", L"&OK", WS_TABSTOP | BS_DEFPUSHBUTTON, id_ButtonOk, 148, 112, 64, 24, true);
  control(L"BUTTON", L"&Annulla", WS_TABSTOP | BS_PUSHBUTTON, id_ButtonAnnulla, 221, 112, 64, 24, true);
  control(L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, id_editUtente, 117, 24, 169, 21);
  control(win32ui::logo_class(), L"", 0, id_PraxiLogo, 0, 0, 113, 142);
  label(L"Utente", id_labelUtente, 119, 7, true);
  label(L"Password", id_labelPassword, 119, 56, true);
  HWND status = control(STATUSCLASSNAMEW, L"", 0, id_StatusBar1, 0, 140, client_width, 19);
  int parts[] = {-1};
  ::SendMessageW(status, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
  ::SendMessageW(status, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L" Inserire Nome Utente e Password di Praxilo"));
  ::SendMessageW(hwnd_, DM_SETDEFID, id_ButtonOk, 0);

  // FormCreate: the user name the records product signed in last.
  ::SetWindowTextW(item(id_editUtente), platform::win::widen(last_user_name()).c_str());
}

bool TfrmLogin::show_modal() {
  if (!hwnd_) return false;
  owner_enabled_ = owner_ && ::IsWindowEnabled(owner_);
  if (owner_enabled_) ::EnableWindow(owner_, FALSE);
  ::ShowWindow(hwnd_, SW_SHOW);
  ::SetForegroundWindow(hwnd_);
  ::SetFocus(item(id_editPassword));
  ::PostMessageW(hwnd_, shown_message, 0, 0);
  done_ = false;
  while (!done_ && hwnd_) win32ui::pump_one(true);
  return ok_;
}

bool TfrmLogin::preview(MSG& message) {
  if (message.message != WM_KEYDOWN) return false;
  // The window has no cancel button: Esc does nothing.
  if (message.wParam == VK_ESCAPE) return true;
  return press_on_enter(message, id_ButtonOk);
}

LRESULT TfrmLogin::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case shown_message:
      if (host_.modal_hook()) host_.modal_hook()(hwnd_);
      return 0;
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED && LOWORD(wparam) == id_ButtonOk) {
        ButtonOkClick();
        return 0;
      }
      if (HIWORD(wparam) == BN_CLICKED && LOWORD(wparam) == id_ButtonAnnulla) {
        ButtonAnnullaClick();
        return 0;
      }
      break;
    case WM_CLOSE:
      ButtonAnnullaClick();
      return 0;
    case WM_SETCURSOR:
      // The window keeps answering while an attempt waits: without this, every move of the
      // mouse over it or its controls would bring their own cursor back. The caption keeps
      // the arrow, for the close box.
      if ((sign_in_.signing_in() || host_.busy()) && LOWORD(lparam) == HTCLIENT) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    default:
      break;
  }
  return Window::handle(message, wparam, lparam);
}

void TfrmLogin::ButtonOkClick() {
  const std::string user_name = platform::win::narrow(win32ui::text_of(item(id_editUtente)));
  const std::string password = platform::win::narrow(win32ui::text_of(item(id_editPassword)));
  ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
  const SignInAnswer answer = sign_in_.attempt_sign_in(user_name, password);
  if (answer == SignInAnswer::busy) return;
  ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
  if (answer == SignInAnswer::admitted && !done_) {
    end(true);
    return;
  }
  if (answer != SignInAnswer::refused || done_) return;
  // Refused: the password is selected, so that typing replaces it.
  HWND password_box = item(id_editPassword);
  ::SetFocus(password_box);
  ::SendMessageW(password_box, EM_SETSEL, 0, -1);
}

void TfrmLogin::ButtonAnnullaClick() {
  // An attempt still running admits nobody once it returns.
  sign_in_.give_up_sign_in();
  end(false);
}

void TfrmLogin::end(bool ok) {
  ok_ = ok;
  done_ = true;
  // The window goes at once; the modal loop ends after the message being handled.
  if (owner_enabled_) ::EnableWindow(owner_, TRUE);
  owner_enabled_ = false;
  ::ShowWindow(hwnd_, SW_HIDE);
}
