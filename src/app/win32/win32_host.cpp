#include "win32_host.hpp"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <exception>
#include <string_view>
#include <vector>

#include "platform/win_text.hpp"
#include "report_view.hpp"
#include "window.hpp"

namespace {

using platform::win::narrow;
using platform::win::widen;

constexpr UINT call_message = WM_APP + 1;
constexpr UINT raise_message = WM_APP + 2;
constexpr UINT question_up_message = WM_APP + 3;
constexpr UINT_PTR progress_timer = 1;
constexpr const wchar_t* progress_class = L"PIVZONA12Progress";
constexpr int progress_width = 360;
constexpr int progress_height = 120;

// Gives the focus back, when the object ends, to the control that had it when it was
// made: a dialog or a box leaves none behind it, and Enter and Tab would do nothing.
class FocusKeeper {
 public:
  FocusKeeper() : focus_(::GetFocus()) {}
  ~FocusKeeper() { restore(focus_); }
  FocusKeeper(const FocusKeeper&) = delete;
  FocusKeeper& operator=(const FocusKeeper&) = delete;
  static void restore(HWND focus) {
    if (focus && ::IsWindow(focus) && ::IsWindowVisible(focus) && ::IsWindowEnabled(focus) && ::GetFocus() != focus)
      ::SetFocus(focus);
  }

 private:
  HWND focus_;
};

struct Call {
  const std::function<void()>* work;
  std::exception_ptr failure;
};

UINT icon_of(unsigned flags) {
  switch (flags & frontend::mb_iconmask) {
    case frontend::mb_iconerror:
      return MB_ICONERROR;
    case frontend::mb_iconwarning:
      return MB_ICONWARNING;
    case frontend::mb_iconinformation:
      return MB_ICONINFORMATION;
    case 0x20:
      return MB_ICONQUESTION;
    default:
      return 0;
  }
}

// The message box being asked on this thread: its hook, and where to say it is up.
thread_local HHOOK question_hook = nullptr;
thread_local HWND question_host = nullptr;

// Gives the buttons of a retry-cancel box their own texts, each button wide enough for
// the longer one; the buttons keep their right edge and gap, and the box grows to the
// left margin's width when they would pass it.
void label_question_buttons(HWND box) {
  HWND wait = ::GetDlgItem(box, IDRETRY);
  HWND stop = ::GetDlgItem(box, IDCANCEL);
  if (!wait || !stop) return;
  const std::wstring wait_text = widen(keep_waiting_button);
  const std::wstring stop_text = widen(stop_waiting_button);
  ::SetWindowTextW(wait, wait_text.c_str());
  ::SetWindowTextW(stop, stop_text.c_str());
  HDC dc = ::GetDC(wait);
  const HGDIOBJ before = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(wait, WM_GETFONT, 0, 0)));
  SIZE wait_size{}, stop_size{};
  ::GetTextExtentPoint32W(dc, wait_text.c_str(), static_cast<int>(wait_text.size()), &wait_size);
  ::GetTextExtentPoint32W(dc, stop_text.c_str(), static_cast<int>(stop_text.size()), &stop_size);
  ::SelectObject(dc, before);
  ::ReleaseDC(wait, dc);
  const int dpi = win32ui::dpi_of(box);
  const int needed = std::max(wait_size.cx, stop_size.cx) + ::MulDiv(24, dpi, 96);
  RECT w{}, c{};
  ::GetWindowRect(wait, &w);
  ::GetWindowRect(stop, &c);
  ::MapWindowPoints(HWND_DESKTOP, box, reinterpret_cast<POINT*>(&w), 2);
  ::MapWindowPoints(HWND_DESKTOP, box, reinterpret_cast<POINT*>(&c), 2);
  if (needed <= w.right - w.left) return;
  // The buttons' order is the box's: the one on the left stays on the left.
  const bool wait_first = w.left < c.left;
  const RECT& right = wait_first ? c : w;
  const int gap = wait_first ? c.left - w.right : w.left - c.right;
  const int margin = ::MulDiv(11, dpi, 96);
  int right_edge = right.right;
  int left_edge = right_edge - 2 * needed - gap;
  if (left_edge < margin) {
    const int grow = margin - left_edge;
    RECT outer{};
    ::GetWindowRect(box, &outer);
    ::SetWindowPos(box, nullptr, outer.left - grow / 2, outer.top, outer.right - outer.left + grow,
                   outer.bottom - outer.top, SWP_NOZORDER | SWP_NOACTIVATE);
    left_edge += grow;
    right_edge += grow;
  }
  const int height = w.bottom - w.top;
  ::MoveWindow(wait_first ? wait : stop, left_edge, w.top, needed, height, TRUE);
  ::MoveWindow(wait_first ? stop : wait, right_edge - needed, w.top, needed, height, TRUE);
  ::InvalidateRect(box, nullptr, TRUE);
}

}  // namespace

std::wstring dialog_filter(const std::string& filter) {
  std::wstring out = widen(filter);
  for (wchar_t& c : out)
    if (c == L'|') c = L'\0';
  out.push_back(L'\0');
  out.push_back(L'\0');
  return out;
}

Win32Host::Win32Host() : thread_(::GetCurrentThreadId()) {
  static const bool registered = [] {
    win32ui::register_class(L"PIVZONA12Host", &Win32Host::procedure, 0);
    return win32ui::register_class(progress_class, &Win32Host::progress_procedure, COLOR_BTNFACE + 1) != nullptr;
  }();
  (void)registered;
  messages_ = ::CreateWindowExW(0, L"PIVZONA12Host", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
  ::SetWindowLongPtrW(messages_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32Host::~Win32Host() {
  end_progress();
  if (busy_) ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
  ::DestroyWindow(messages_);
}

LRESULT CALLBACK Win32Host::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* host = reinterpret_cast<Win32Host*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == call_message) {
    auto* call = reinterpret_cast<Call*>(lparam);
    try {
      (*call->work)();
    } catch (...) {
      call->failure = std::current_exception();
    }
    return 0;
  }
  if (message == raise_message) {
    const auto window = reinterpret_cast<HWND>(lparam);
    if (::IsWindow(window) && ::IsWindowVisible(window) && ::GetForegroundWindow() != window)
      ::SetForegroundWindow(window);
    return 0;
  }
  if (host && message == question_up_message) {
    // The box is up and laid out by now: its buttons take their names and widths.
    const auto box = reinterpret_cast<HWND>(lparam);
    if (!::IsWindow(box)) return 0;
    label_question_buttons(box);
    if (host->question_hook_) host->question_hook_(box);
    return 0;
  }
  if (host && message == WM_TIMER && wparam == progress_timer) {
    ::KillTimer(hwnd, progress_timer);
    host->progress_delay_elapsed();
    return 0;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

void Win32Host::on_window_thread(const std::function<void()>& work) {
  if (::GetCurrentThreadId() == thread_) {
    work();
    return;
  }
  // The window's thread answers sent messages while it pumps, in every modal loop too.
  Call call{&work, nullptr};
  ::SendMessageW(messages_, call_message, 0, reinterpret_cast<LPARAM>(&call));
  if (call.failure) std::rethrow_exception(call.failure);
}

int Win32Host::message_box(const std::string& text, const std::string& caption, unsigned flags) {
  int answer = 0;
  on_window_thread([&] {
    // A box must not open behind the progress dialog of the run it interrupts.
    end_progress();
    const FocusKeeper focus;
    const bool system_modal = (flags & frontend::mb_systemmodal) != 0;
    const UINT style = MB_OK | icon_of(flags) | (system_modal ? MB_SYSTEMMODAL | MB_SETFOREGROUND : MB_APPLMODAL);
    std::wstring shown = widen(text);
    const std::wstring title = widen(caption);
    if (message_box_hook_) {
      answer = message_box_hook_(shown, title, style);
      return;
    }
    HWND owner = system_modal ? nullptr : ::GetActiveWindow();
    answer = ::MessageBoxW(owner, shown.c_str(), title.c_str(), style);
  });
  return answer == 0 ? 0 : frontend::id_ok;
}

LRESULT CALLBACK Win32Host::question_activated(int code, WPARAM wparam, LPARAM lparam) {
  const HHOOK hook = question_hook;
  wchar_t kind[16] = {};
  if (code == HCBT_ACTIVATE && hook && ::GetClassNameW(reinterpret_cast<HWND>(wparam), kind, 16) > 0 &&
      std::wstring_view(kind) == L"#32770") {
    const auto box = reinterpret_cast<HWND>(wparam);
    ::UnhookWindowsHookEx(hook);
    question_hook = nullptr;
    // Named and sized from inside the box's own loop, once it is laid out: the system may
    // lay out its buttons after it has activated it.
    ::PostMessageW(question_host, question_up_message, 0, reinterpret_cast<LPARAM>(box));
  }
  return ::CallNextHookEx(hook, code, wparam, lparam);
}

bool Win32Host::ask_keep_waiting(const std::string& text, const std::string& caption, unsigned flags) {
  const FocusKeeper focus;
  const std::wstring shown = widen(text);
  const std::wstring title = widen(caption);
  // Over the progress dialog, which stays up: the run goes on if the doctor waits. The
  // system's box has no buttons of these names: its Riprova and Annulla are renamed as it
  // comes up. Enter waits (nothing is lost by it); Esc and the close box stop.
  HWND owner = progress_dialog_ ? progress_dialog_ : ::GetActiveWindow();
  question_host = messages_;
  question_hook = ::SetWindowsHookExW(WH_CBT, &Win32Host::question_activated, nullptr, ::GetCurrentThreadId());
  const int answer = ::MessageBoxW(owner, shown.c_str(), title.c_str(),
                                   MB_RETRYCANCEL | MB_DEFBUTTON1 | MB_APPLMODAL | icon_of(flags));
  if (question_hook) {
    ::UnhookWindowsHookEx(question_hook);
    question_hook = nullptr;
  }
  return answer == IDRETRY;
}

bool Win32Host::ask_file_name(const frontend::FileDialogRequest& request, std::string& file_name) {
  bool chosen = false;
  on_window_thread([&] {
    const FocusKeeper focus;
    const std::wstring filter = dialog_filter(request.filter);
    const std::wstring directory = request.initial_directory ? widen(*request.initial_directory) : std::wstring();
    const std::wstring title = request.title ? widen(*request.title) : std::wstring();
    const std::wstring extension = request.default_extension ? widen(*request.default_extension) : std::wstring();
    std::vector<wchar_t> buffer(32768, L'\0');
    const std::wstring offered = widen(file_name);
    offered.copy(buffer.data(), std::min(offered.size(), buffer.size() - 1));

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner_ ? owner_ : ::GetActiveWindow();
    dialog.lpstrFilter = request.filter.empty() ? nullptr : filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = static_cast<DWORD>(buffer.size());
    dialog.lpstrInitialDir = request.initial_directory ? directory.c_str() : nullptr;
    dialog.lpstrTitle = request.title ? title.c_str() : nullptr;
    dialog.lpstrDefExt = request.default_extension ? extension.c_str() : nullptr;
    // No question before replacing a file; the current directory stays where it is.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
    if (request.open) dialog.Flags |= OFN_FILEMUSTEXIST;
    if (file_dialog_hook_)
      chosen = file_dialog_hook_(dialog);
    else
      chosen = request.open ? ::GetOpenFileNameW(&dialog) != 0 : ::GetSaveFileNameW(&dialog) != 0;
    buffer.back() = L'\0';
    if (chosen && buffer[0] != L'\0')
      file_name = narrow(buffer.data());
    else
      chosen = false;
  });
  return chosen;
}

int Win32Host::dpi(HWND window) const { return dpi_hook_ ? dpi_hook_(window) : win32ui::dpi_of(window); }

RECT Win32Host::work_area(HWND window) const {
  if (work_area_hook_) return work_area_hook_();
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &info)) return info.rcWork;
  RECT screen{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  return screen;
}

void Win32Host::set_busy_cursor(bool busy) {
  on_window_thread([&] {
    busy_ = busy;
    ::SetCursor(::LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
  });
}

frontend::WindowHandle Win32Host::foreground_window() {
  return reinterpret_cast<frontend::WindowHandle>(::GetForegroundWindow());
}

void Win32Host::set_foreground_window(frontend::WindowHandle window) {
  if (window == 0) return;
  // The run does not wait for it: nothing it does depends on the window raised.
  ::PostMessageW(messages_, raise_message, 0, static_cast<LPARAM>(window));
}

void Win32Host::navigate_report(const std::string& url) {
  on_window_thread([&] {
    if (view_) view_->navigate(url);
  });
}

void Win32Host::refresh_report() {
  on_window_thread([&] {
    if (view_) view_->refresh();
  });
}

bool Win32Host::open_folder(const std::string& folder) {
  const std::wstring path = widen(folder);
  if (folder_hook_) return folder_hook_(path);
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  return reinterpret_cast<INT_PTR>(::ShellExecuteW(owner_, L"explore", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) >
         32;
}

void Win32Host::set_report_visible(bool visible) {
  on_window_thread([&] {
    if (view_) view_->set_visible(visible);
  });
}

void Win32Host::wait_until(const std::function<bool()>& done) {
  while (!done()) {
    // A modal loop elsewhere may take the wake-up message: wait a little at most.
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    win32ui::pump_pending();
  }
}

void Win32Host::wake() { ::PostThreadMessageW(thread_, WM_NULL, 0, 0); }

void Win32Host::start_progress_timer(int milliseconds) {
  ::SetTimer(messages_, progress_timer, static_cast<UINT>(milliseconds), nullptr);
}

void Win32Host::stop_progress_timer() { ::KillTimer(messages_, progress_timer); }

LRESULT CALLBACK Win32Host::progress_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* host = reinterpret_cast<Win32Host*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (host) {
    // Annulla, Esc and the close box ask the run to stop; the dialog stays up, saying so,
    // until the run has ended.
    if ((message == WM_COMMAND && (LOWORD(wparam) == progress_annulla_id || LOWORD(wparam) == IDCANCEL)) ||
        message == WM_CLOSE) {
      host->request_cancel();
      return 0;
    }
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

void Win32Host::show_progress_dialog() {
  if (progress_dialog_) return;
  const std::wstring title = widen(run_progress().title());
  // Wide enough for its whole title in the caption's font, beside the close box.
  int client_width = progress_width;
  if (const int title_width = win32ui::caption_text_width(title); title_width > 0)
    client_width = std::max(client_width, title_width + 2 * ::GetSystemMetrics(SM_CXSIZE) + 32);
  RECT outer{0, 0, client_width, progress_height};
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  ::AdjustWindowRectEx(&outer, style, FALSE, WS_EX_DLGMODALFRAME);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  RECT over{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  if (owner_) ::GetWindowRect(owner_, &over);
  HWND dialog = ::CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, progress_class, title.c_str(), style,
                                  over.left + (over.right - over.left - width) / 2,
                                  over.top + (over.bottom - over.top - height) / 2, width, height, owner_, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
  if (!dialog) return;
  auto child = [dialog](const wchar_t* cls, const wchar_t* text, DWORD style_bits, int id, int x, int y, int w, int h) {
    HWND made =
        ::CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style_bits, x, y, w, h, dialog,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(win32ui::window_font()), FALSE);
    return made;
  };
  child(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, progress_label_id, 12, 10, client_width - 24, 30);
  child(PROGRESS_CLASSW, L"", 0, 0, 12, 46, client_width - 24, 16);
  HWND annulla = child(L"BUTTON", L"Annulla", BS_DEFPUSHBUTTON | WS_TABSTOP, progress_annulla_id,
                       client_width - 12 - 88, progress_height - 12 - 26, 88, 26);
  progress_dialog_ = dialog;
  focus_before_progress_ = ::GetFocus();
  update_progress_dialog(false);
  // The window behind takes no input while the dialog is up.
  if (owner_) ::EnableWindow(owner_, FALSE);
  ::SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::ShowWindow(dialog, SW_SHOW);
  ::SetFocus(annulla);
}

void Win32Host::update_progress_dialog(bool notify) {
  if (!progress_dialog_) return;
  const RunProgress& run = run_progress();
  ::SetDlgItemTextW(progress_dialog_, progress_label_id, widen(run.title() + "\r\n" + run.state()).c_str());
  ::EnableWindow(::GetDlgItem(progress_dialog_, progress_annulla_id), run.cancel_requested() ? FALSE : TRUE);
  // No total yet, or stopping: the bar runs without an end.
  HWND bar = ::FindWindowExW(progress_dialog_, nullptr, PROGRESS_CLASSW, nullptr);
  const bool known = run.bar_known();
  LONG_PTR style = ::GetWindowLongPtrW(bar, GWL_STYLE);
  ::SetWindowLongPtrW(bar, GWL_STYLE, known ? (style & ~PBS_MARQUEE) : (style | PBS_MARQUEE));
  ::SendMessageW(bar, PBM_SETMARQUEE, known ? FALSE : TRUE, 30);
  if (known) {
    ::SendMessageW(bar, PBM_SETRANGE32, 0, run.total());
    ::SendMessageW(bar, PBM_SETPOS, run.done(), 0);
  }
  if (notify && progress_hook_ && !in_progress_hook_) {
    in_progress_hook_ = true;  // a hook that presses Annulla changes the dialog again
    progress_hook_(progress_dialog_);
    in_progress_hook_ = false;
  }
}

void Win32Host::close_progress_dialog() {
  if (!progress_dialog_) return;
  HWND dialog = progress_dialog_;
  progress_dialog_ = nullptr;
  // The owner takes input again before the dialog goes, so that it becomes active, and
  // the control that started the run has the focus again.
  if (owner_) ::EnableWindow(owner_, TRUE);
  ::DestroyWindow(dialog);
  FocusKeeper::restore(focus_before_progress_);
  focus_before_progress_ = nullptr;
}
