#include "window.hpp"

#include <commctrl.h>
#include <shellapi.h>

#include <cstring>
#include <map>
#include <utility>

#include "app/main_layout.hpp"
#include "appearance.hpp"
#include "platform/win_text.hpp"

namespace win32ui {

namespace {

constexpr const wchar_t* window_class = L"PIVZONA12Window";

void register_window_class() {
  static const bool registered = [] {
    INITCOMMONCONTROLSEX controls{sizeof controls,
                                  ICC_DATE_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    return register_class(window_class, ::DefWindowProcW, COLOR_BTNFACE + 1, true) != nullptr;
  }();
  (void)registered;
}

int screen_dpi() {
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

HFONT make_font(bool bold, int dpi) {
  // The system's message font (Segoe UI or Tahoma): it has the letters of every language
  // a name may hold, which the old bitmap MS Sans Serif has not. The system gives it for
  // the screen's dpi at sign-on; a window on a monitor of another dpi takes it scaled.
  const int system_dpi = screen_dpi();
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    LOGFONTW font = metrics.lfMessageFont;
    if (bold) font.lfWeight = FW_BOLD;
    font.lfHeight = ::MulDiv(font.lfHeight, dpi, system_dpi);
    if (HFONT made = ::CreateFontIndirectW(&font)) return made;
  }
  const int height = -::MulDiv(8, dpi, 72);
  return ::CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

}  // namespace

const wchar_t* register_class(const wchar_t* name, WNDPROC procedure, int background, bool with_icon) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = procedure;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background));
  wc.lpszClassName = name;
  if (with_icon) {
    wc.hIcon = application_icon(::GetSystemMetrics(SM_CXICON));
    wc.hIconSm = application_icon(::GetSystemMetrics(SM_CXSMICON));
  }
  ::RegisterClassExW(&wc);
  return name;
}

HFONT window_font(bool bold, int dpi) {
  static std::map<std::pair<int, bool>, HFONT> fonts;
  if (dpi <= 0) dpi = screen_dpi();
  HFONT& font = fonts[{dpi, bold}];
  if (!font) font = make_font(bold, dpi);
  return font;
}

int dpi_of(HWND window) {
  // Loaded by name: older Windows and Wine builds lack it.
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto get_dpi_for_window = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (get_dpi_for_window && window) {
    if (const UINT dpi = get_dpi_for_window(window); dpi > 0) return static_cast<int>(dpi);
  }
  HDC dc = ::GetDC(window);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSX);
  ::ReleaseDC(window, dc);
  return dpi > 0 ? dpi : 96;
}

Window::~Window() {
  if (hwnd_) {
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(::DefWindowProcW));
    ::DestroyWindow(hwnd_);
  }
}

void Window::create(DWORD ex_style, DWORD style, const std::wstring& caption, int left, int top, int width, int height,
                    HWND owner) {
  register_window_class();
  hwnd_ = ::CreateWindowExW(ex_style, window_class, caption.c_str(), style, left, top, width, height, owner, nullptr,
                            ::GetModuleHandleW(nullptr), nullptr);
  if (!hwnd_) return;
  ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Window::procedure));
  set_dpi(dpi_of(hwnd_));
}

void Window::set_dpi(int dpi) {
  dpi_ = dpi > 0 ? dpi : 96;
  ::SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(window_font(false, dpi_)), FALSE);
  // The icons of the title bar and the taskbar at this dpi's sizes.
  ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(application_icon(scaled(16))));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(application_icon(scaled(32))));
}

int Window::scaled(int value) const { return main_layout::scale(value, dpi_); }

SIZE Window::text_extent(const std::wstring& text, bool bold) const {
  SIZE extent{0, scaled(13)};
  if (text.empty()) return extent;
  HDC dc = ::GetDC(hwnd_);
  HGDIOBJ old = ::SelectObject(dc, window_font(bold, dpi_));
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  ::SelectObject(dc, old);
  ::ReleaseDC(hwnd_, dc);
  return extent;
}

void Window::move_control(int id, int left, int top, int width, int height, bool bold) {
  HWND child = item(id);
  if (!child) return;
  ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(window_font(bold, dpi_)), FALSE);
  if (width == 0 && height == 0) {
    const SIZE extent = text_extent(text_of(child), bold);
    ::MoveWindow(child, scaled(left), scaled(top), extent.cx, extent.cy, TRUE);
  } else {
    ::MoveWindow(child, scaled(left), scaled(top), scaled(width), scaled(height), TRUE);
  }
}

LRESULT CALLBACK Window::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* window = reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!window) return ::DefWindowProcW(hwnd, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    const LRESULT result = window->handle(message, wparam, lparam);
    window->hwnd_ = nullptr;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    return result;
  }
  return window->handle(message, wparam, lparam);
}

LRESULT Window::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  return ::DefWindowProcW(hwnd_, message, wparam, lparam);
}

bool Window::preview(MSG&) { return false; }

HWND Window::control(const wchar_t* window_class_name, const std::wstring& text, DWORD style, int id, int left, int top,
                     int width, int height, bool bold) {
  HWND child = ::CreateWindowExW(
      0, window_class_name, text.c_str(), WS_CHILD | WS_VISIBLE | style, scaled(left), scaled(top), scaled(width),
      scaled(height), hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
  if (child) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(window_font(bold, dpi_)), FALSE);
  return child;
}

HWND Window::label(const std::wstring& text, int id, int left, int top, bool bold) {
  HWND made = control(L"STATIC", text, SS_LEFT | SS_NOPREFIX, id, left, top, 0, 0, bold);
  const SIZE extent = text_extent(text, bold);
  if (made) ::SetWindowPos(made, nullptr, 0, 0, extent.cx, extent.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return made;
}

bool Window::press_on_enter(const MSG& message, int default_button) {
  if (message.message != WM_KEYDOWN || message.wParam != VK_RETURN) return false;
  HWND focus = ::GetFocus();
  wchar_t name[32] = {};
  if (focus && ::GetParent(focus) == hwnd_ && ::GetClassNameW(focus, name, 32) && lstrcmpiW(name, L"Button") == 0) {
    click(focus);
    return true;
  }
  if (default_button == 0) return false;
  click(item(default_button));
  return true;
}

bool pump_one(bool wait) {
  MSG message;
  if (wait) {
    if (::GetMessageW(&message, nullptr, 0, 0) <= 0) return false;
  } else if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    return false;
  }
  if (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST && message.hwnd) {
    HWND root = ::GetAncestor(message.hwnd, GA_ROOT);
    wchar_t name[64] = {};
    ::GetClassNameW(root, name, 64);
    auto* window = lstrcmpW(name, window_class) == 0
                       ? reinterpret_cast<Window*>(::GetWindowLongPtrW(root, GWLP_USERDATA))
                       : nullptr;
    if (window && window->preview(message)) return true;
    // The windows and the progress dialog move the focus with Tab as dialogs do.
    if ((window || lstrcmpW(name, L"PIVZONA12Progress") == 0) && ::IsDialogMessageW(root, &message)) return true;
  }
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
  return true;
}

void pump_pending() {
  while (pump_one(false)) {
  }
}

std::wstring text_of(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return text;
}

int caption_text_width(const std::wstring& text) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) return 0;
  HFONT caption = ::CreateFontIndirectW(&metrics.lfCaptionFont);
  if (!caption) return 0;
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, caption);
  SIZE extent{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  ::DeleteObject(caption);
  return static_cast<int>(extent.cx);
}

void click(HWND button) {
  if (button && ::IsWindowEnabled(button)) ::SendMessageW(button, BM_CLICK, 0, 0);
}

bool copy_text(HWND owner, const std::wstring& text) {
  if (!::OpenClipboard(owner)) return false;
  ::EmptyClipboard();
  const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
  bool copied = false;
  if (memory) {
    if (void* to = ::GlobalLock(memory)) {
      std::memcpy(to, text.c_str(), bytes);
      ::GlobalUnlock(memory);
      copied = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    }
    if (!copied) ::GlobalFree(memory);  // the clipboard owns it only once set
  }
  ::CloseClipboard();
  return copied;
}

bool open_in_browser(HWND owner, const std::string& url) {
  if (url.empty()) return false;
  const std::wstring address = platform::win::widen(url);
  return reinterpret_cast<INT_PTR>(::ShellExecuteW(owner, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) >
         32;
}

}  // namespace win32ui
