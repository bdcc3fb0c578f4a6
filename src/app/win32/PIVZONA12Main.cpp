#include "PIVZONA12Main.hpp"

#include <commctrl.h>
#include <oleauto.h>

#include <cmath>

#include "app/login.hpp"
#include "appearance.hpp"
#include "formLogin.hpp"
#include "platform/win_text.hpp"
#include "tools/tools.hpp"
#include "win32_host.hpp"

namespace {

using namespace main_layout;
using platform::win::widen;

// The date of a picker as a date-time at midnight: only the date part reaches a run.
TDateTime picker_date(HWND picker) {
  SYSTEMTIME date{};
  ::SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&date));
  return tools::encode_date(date.wYear, date.wMonth, date.wDay);
}

void set_picker_date(HWND picker, double date) {
  SYSTEMTIME value{};
  ::VariantTimeToSystemTime(std::floor(date), &value);
  ::SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&value));
}

}  // namespace

TfrmMain::TfrmMain(Win32Host& host, ViewMaker make_view) : host_(host) {
  create(WS_EX_CONTROLPARENT, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, widen(title), outer_left, outer_top, outer_width,
         outer_height, nullptr);
  // The layout's places are for 96 dpi: the controls, the font and the window's size are
  // scaled to its monitor's dpi.
  set_dpi(host_.dpi(hwnd_));
  create_controls(make_view);
  // Its own place and size where they fit on the monitor, else moved and shrunk to fit.
  const RECT area = host_.work_area(hwnd_);
  const Rect place = place_window({area.left, area.top, area.right - area.left, area.bottom - area.top}, dpi_);
  ::SetWindowPos(hwnd_, nullptr, place.left, place.top, place.width, place.height, SWP_NOZORDER | SWP_NOACTIVATE);
  controller_ = std::make_unique<MainController>(host_, *this);
  controller_->set_owner(reinterpret_cast<frontend::WindowHandle>(hwnd_));
  controller_->start();
}

TfrmMain::~TfrmMain() {
  host_.end_progress();
  host_.set_report_view(nullptr);
  host_.set_owner(nullptr);
  end_session();
}

void TfrmMain::end_session() {
  if (controller_) controller_->end_session();
}

void TfrmMain::create_controls(const ViewMaker& make_view) {
  const DWORD edit = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
  // The tab order is the order of creation.
  for (const ControlEntry& c : controls()) {
    const std::wstring text = widen(text_of(c));
    const int control_id = id(c.control);
    switch (c.kind) {
      case Kind::logo:
        control(win32ui::logo_class(), L"", 0, control_id, c.left, c.top, c.width, c.height);
        break;
      case Kind::label:
        label(text, control_id, c.left, c.top);
        break;
      case Kind::text_box:
      case Kind::read_only_box:
        control(L"EDIT", text, edit | (c.kind == Kind::read_only_box ? ES_READONLY : 0), control_id, c.left, c.top,
                c.width, c.height);
        break;
      case Kind::date_picker: {
        HWND picker = control(DATETIMEPICK_CLASSW, L"", WS_TABSTOP | DTS_SHORTDATEFORMAT, control_id, c.left, c.top,
                              c.width, c.height);
        ::SendMessageW(picker, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(L"dd/MM/yyyy"));
        break;
      }
      case Kind::button:
        control(L"BUTTON", text, WS_TABSTOP, control_id, c.left, c.top, c.width, c.height);
        break;
      case Kind::report_view:
        view_ = make_view ? make_view(hwnd_, control_id) : std::make_unique<BrowserReportView>(hwnd_, control_id);
        break;
      case Kind::status_line:
        // It does not paint over its button, which place_view() keeps at its right.
        control(STATUSCLASSNAMEW, L"", SBARS_TOOLTIPS | WS_CLIPSIBLINGS, control_id, 0, 0, 0, 0);
        control(L"BUTTON", widen(action_open_folder), WS_TABSTOP | WS_DISABLED, id_btnApriCartella, 0, 0, 0, 0);
        break;
    }
    // Hidden controls are never shown, and nothing reads or writes them.
    if (c.hidden) ::ShowWindow(item(control_id), SW_HIDE);
  }

  view_->set_open_failed([this](const std::string& url) {
    host_.message_box(open_in_browser_failure(url), application_title, frontend::mb_ok | frontend::mb_iconwarning);
  });
  view_->set_open_folder([this] { return folder_available_; },
                         [this] {
                           if (controller_) controller_->open_saved_folder();
                         });
  place_view();
  host_.set_report_view(view_.get());
  host_.set_owner(hwnd_);
}

void TfrmMain::layout_controls() {
  for (const ControlEntry& c : controls()) {
    switch (c.kind) {
      case Kind::report_view:
        break;
      case Kind::status_line:
        for (int control_id : {id(c.control), id_btnApriCartella})
          ::SendMessageW(item(control_id), WM_SETFONT, reinterpret_cast<WPARAM>(win32ui::window_font(false, dpi_)),
                         FALSE);
        break;
      default:
        // A label's size (0 × 0 in the table) follows its text in the new font.
        move_control(id(c.control), c.left, c.top, c.width, c.height);
        break;
    }
  }
  place_view();
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

RECT TfrmMain::focus_mark() const {
  RECT mark{};
  if (marked_picker_ == 0) return mark;
  ::GetWindowRect(item(marked_picker_), &mark);
  ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&mark), 2);
  const int gap = scaled(2);
  ::InflateRect(&mark, gap, gap);
  return mark;
}

void TfrmMain::mark_focused_picker(int picker) {
  if (picker == marked_picker_) return;
  // The old mark's place is painted again without it, the new one's with it.
  RECT old = focus_mark();
  marked_picker_ = picker;
  RECT now = focus_mark();
  ::InvalidateRect(hwnd_, &old, TRUE);
  ::InvalidateRect(hwnd_, &now, TRUE);
}

void TfrmMain::paint_focus_mark(HDC dc) const {
  if (marked_picker_ == 0) return;
  // A frame in the selection's colour around the picker, as thick as two pixels at 96 dpi:
  // the picker itself draws no focus mark of its own in every system.
  RECT mark = focus_mark();
  HBRUSH brush = ::GetSysColorBrush(COLOR_HIGHLIGHT);
  for (int i = scaled(2); i > 0; --i) {
    ::FrameRect(dc, &mark, brush);
    ::InflateRect(&mark, -1, -1);
  }
}

void TfrmMain::run_sign_in() {
  TfrmLogin frmLogin(hwnd_, host_, *controller_);
  frmLogin.show_modal();
}

void TfrmMain::enable_runs() {
  ::EnableWindow(item(id(btnCalcola)), TRUE);
  ::EnableWindow(item(id(btnSalva)), TRUE);
}

void TfrmMain::set_range(const DateRange& range) {
  set_picker_date(item(id(DTDal)), range.from);
  set_picker_date(item(id(DTAl)), range.to);
}

DateRange TfrmMain::range() const { return {picker_date(item(id(DTDal))), picker_date(item(id(DTAl)))}; }

void TfrmMain::show_doctor(const DoctorFields& doctor) {
  ::SetWindowTextW(item(id(edt_CodiceFiscaleMMG)), widen(doctor.codice_fiscale).c_str());
  ::SetWindowTextW(item(id(edt_CodiceRegionale)), widen(doctor.codice_regionale).c_str());
  ::SetWindowTextW(item(id(edt_NominativoMMG)), widen(doctor.nominativo).c_str());
  ::SetWindowTextW(item(id(edt_ASL)), widen(doctor.asl).c_str());
}

void TfrmMain::focus_first_control() { ::SetFocus(item(id(btnChiudi))); }

void TfrmMain::enable_open_folder(bool enabled) {
  folder_available_ = enabled;
  ::EnableWindow(item(id_btnApriCartella), enabled ? TRUE : FALSE);
}

void TfrmMain::set_status(const std::string& text) {
  ::SendMessageW(item(id(StatusBar1)), SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(widen(text).c_str()));
}

std::wstring TfrmMain::status_text() const {
  HWND status = item(id(StatusBar1));
  const auto length = LOWORD(::SendMessageW(status, SB_GETTEXTLENGTHW, 0, 0));
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  ::SendMessageW(status, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text.data()));
  text.resize(length);
  return text;
}

void TfrmMain::status_menu(POINT at) {
  enum : UINT { copy_path = 1, open_folder };
  const UINT state = folder_available_ ? MF_ENABLED : MF_GRAYED;
  HMENU menu = ::CreatePopupMenu();
  ::AppendMenuW(menu, MF_STRING | state, copy_path, L"Copia percorso");
  ::AppendMenuW(menu, MF_STRING | state, open_folder, widen(action_open_folder).c_str());
  const UINT chosen =
      ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, hwnd_, nullptr);
  ::DestroyMenu(menu);
  if (chosen == open_folder && controller_) controller_->open_saved_folder();
  if (chosen == copy_path && controller_) win32ui::copy_text(hwnd_, widen(controller_->saved_report()));
}

bool TfrmMain::preview(MSG& message) {
  if (message.message == WM_KEYDOWN) {
    // Esc presses Chiudi, wherever the focus is in the window.
    if (message.wParam == VK_ESCAPE) {
      win32ui::click(item(id(btnChiudi)));
      return true;
    }
    // Ctrl+P prints the report and Ctrl+F opens the browser control's find dialog on it;
    // neither while a run is rewriting it. Ctrl+Alt is AltGr.
    const bool control = ::GetKeyState(VK_CONTROL) < 0 && ::GetKeyState(VK_MENU) >= 0;
    if (control && (message.wParam == 'P' || message.wParam == 'F')) {
      if (controller_ && !controller_->running() && view_) message.wParam == 'P' ? view_->print() : view_->find();
      return true;
    }
    if (press_on_enter(message, 0)) return true;
  }
  // The page's own keys (Tab between its links, Ctrl+C, the arrows) before the dialog's.
  return view_ && view_->translate_key(message);
}

void TfrmMain::place_view() {
  RECT client;
  ::GetClientRect(hwnd_, &client);
  HWND status = item(id(StatusBar1));
  ::SendMessageW(status, WM_SIZE, 0, 0);
  RECT bar{};
  ::GetWindowRect(status, &bar);
  const int status_height = bar.bottom - bar.top;
  // "Apri cartella" in the status line's right part, clear of the size grip; the path
  // has the rest.
  const SIZE caption = text_extent(widen(action_open_folder), false);
  const int button_width = caption.cx + scaled(24);
  const int button_right = static_cast<int>(client.right) - scaled(20);
  int parts[] = {std::max(0, button_right - button_width - scaled(4)), -1};
  ::SendMessageW(status, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
  ::SetWindowPos(item(id_btnApriCartella), HWND_TOP, button_right - button_width,
                 static_cast<int>(client.bottom) - status_height + scaled(2), button_width,
                 std::max(0, status_height - scaled(3)), SWP_NOACTIVATE);
  // The view keeps its place and takes the rest of the window, down to the status line.
  const int width = std::max(0, static_cast<int>(client.right) - 2 * scaled(view_left));
  const int height =
      std::max(0, static_cast<int>(client.bottom) - scaled(view_top) - status_height - scaled(view_bottom_gap));
  if (view_) view_->place(scaled(view_left), scaled(view_top), width, height);
}

LRESULT TfrmMain::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SIZE:
      place_view();
      return 0;
    case WM_GETMINMAXINFO: {
      // The controls keep their places: the window is never narrower than its buttons.
      auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
      info->ptMinTrackSize.x = scaled(min_outer_width);
      info->ptMinTrackSize.y = scaled(min_outer_height);
      return 0;
    }
    case WM_DPICHANGED: {
      // Moved to a monitor of another dpi, or its scaling changed: the system's suggested
      // rectangle, and the controls and font made again for the new dpi.
      set_dpi(LOWORD(wparam));
      layout_controls();
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_NOTIFY: {
      // The date pickers say when they take and lose the focus: the window marks the one
      // that has it.
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      const int from = static_cast<int>(header->idFrom);
      if (from == id(DTDal) || from == id(DTAl)) {
        if (header->code == static_cast<UINT>(NM_SETFOCUS)) mark_focused_picker(from);
        if (header->code == static_cast<UINT>(NM_KILLFOCUS) && marked_picker_ == from) mark_focused_picker(0);
      }
      break;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(hwnd_, &paint);
      paint_focus_mark(dc);
      ::EndPaint(hwnd_, &paint);
      return 0;
    }
    case WM_SETCURSOR:
      if (host_.busy() && LOWORD(lparam) == HTCLIENT) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED) {
        const int clicked = LOWORD(wparam);
        if (clicked == id(btnChiudi)) {
          ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
          return 0;
        }
        if (clicked == id_btnApriCartella && controller_) {
          controller_->open_saved_folder();
          return 0;
        }
        for (const ControlEntry& c : controls()) {
          if (c.runs && clicked == id(c.control) && controller_) {
            controller_->run(*c.runs);
            return 0;
          }
        }
      }
      break;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wparam) == item(id(StatusBar1))) {
        POINT at{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
        if (at.x == -1 && at.y == -1) ::GetCursorPos(&at);  // from the keyboard
        status_menu(at);
        return 0;
      }
      break;
    case WM_CLOSE:
      // A run owns the session and the document until it returns.
      if (controller_ && controller_->running()) return 0;
      ::DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      // FormDestroy: the session ends the connection with the records product.
      host_.set_report_view(nullptr);
      host_.set_owner(nullptr);
      end_session();
      break;
    default:
      break;
  }
  return Window::handle(message, wparam, lparam);
}
