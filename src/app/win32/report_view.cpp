#include "report_view.hpp"

#include <shellapi.h>

#include "platform/win_text.hpp"
#include "window.hpp"

namespace {

constexpr int id_open = 1;

// The path of a "file:///" address as the doctor reads it: back-slashes, blanks.
std::wstring shown_path(const std::string& url) {
  std::string path = url.rfind("file:///", 0) == 0 ? url.substr(8) : url;
  std::string out;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path.compare(i, 3, "%20") == 0) {
      out += ' ';
      i += 2;
    } else {
      out += path[i] == '/' ? '\\' : path[i];
    }
  }
  return platform::win::widen(out);
}

}  // namespace

PanelReportView::PanelReportView(HWND parent, int id) {
  static const wchar_t* panel_class =
      win32ui::register_class(L"PIVZONA12ReportPanel", &PanelReportView::procedure, COLOR_WINDOW + 1);
  // WS_EX_CONTROLPARENT: Tab reaches the button inside the panel.
  panel_ = ::CreateWindowExW(WS_EX_CONTROLPARENT | WS_EX_CLIENTEDGE, panel_class, L"",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN, 0, 0, 100, 100, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
  ::SetWindowLongPtrW(panel_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  auto child = [this](const wchar_t* cls, const wchar_t* text, DWORD style, int child_id) {
    HWND made = ::CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, panel_,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(child_id)),
                                  ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(win32ui::window_font()), FALSE);
    return made;
  };
  caption_ = child(L"STATIC", L"Nessun report da mostrare.", SS_LEFT | SS_NOPREFIX, 0);
  path_ = child(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, 0);
  open_ = child(L"BUTTON", L"Apri nel browser", BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, id_open);
}

LRESULT CALLBACK PanelReportView::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* view = reinterpret_cast<PanelReportView*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (view && message == WM_COMMAND && LOWORD(wparam) == id_open && HIWORD(wparam) == BN_CLICKED) {
    view->open_in_browser();
    return 0;
  }
  if (message == WM_CTLCOLORSTATIC) {
    ::SetBkColor(reinterpret_cast<HDC>(wparam), ::GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

void PanelReportView::navigate(const std::string& url) {
  url_ = url;
  ::SetWindowTextW(caption_, L"Il report è nel file:");
  ::SetWindowTextW(path_, shown_path(url).c_str());
  ::EnableWindow(open_, TRUE);
}

void PanelReportView::refresh() {
  // The panel shows the path only: the file it names has been rewritten in place.
  ::InvalidateRect(panel_, nullptr, TRUE);
}

void PanelReportView::set_visible(bool visible) { ::ShowWindow(panel_, visible ? SW_SHOW : SW_HIDE); }

void PanelReportView::place(int left, int top, int width, int height) {
  ::MoveWindow(panel_, left, top, width, height, TRUE);
  ::MoveWindow(caption_, 12, 12, width - 28, 16, TRUE);
  ::MoveWindow(path_, 12, 32, width - 28, 16, TRUE);
  ::MoveWindow(open_, 12, 56, 137, 26, TRUE);
}

bool PanelReportView::open_in_browser() const {
  if (url_.empty()) return false;
  const std::wstring address = platform::win::widen(url_);
  // The answer means only that the system took the request.
  return reinterpret_cast<INT_PTR>(::ShellExecuteW(panel_, L"open", address.c_str(), nullptr, nullptr,
                                                  SW_SHOWNORMAL)) > 32;
}
