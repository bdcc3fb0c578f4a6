#include "report_view.hpp"

#include "app/main_layout.hpp"
#include "browser_control.hpp"
#include "extract/run.hpp"
#include "platform/win_text.hpp"
#include "window.hpp"

namespace {

constexpr int id_open = 1;

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
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(child_id)), ::GetModuleHandleW(nullptr),
                                  nullptr);
    ::SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(win32ui::window_font()), FALSE);
    return made;
  };
  caption_ = child(L"STATIC", L"Nessun report da mostrare.", SS_LEFT | SS_NOPREFIX, 0);
  path_ = child(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, 0);
  open_ = child(L"BUTTON", platform::win::widen(main_layout::action_open_in_browser).c_str(),
                BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, id_open);
}

PanelReportView::~PanelReportView() {
  // The window may outlive the object by a little while its parent is destroyed.
  ::SetWindowLongPtrW(panel_, GWLP_USERDATA, 0);
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
  ::SetWindowTextW(path_, platform::win::widen(url_to_path(url)).c_str());
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

void PanelReportView::print() { open_in_browser(); }

void PanelReportView::focus() { ::SetFocus(::IsWindowEnabled(open_) ? open_ : panel_); }

bool PanelReportView::open_in_browser() const {
  if (url_.empty()) return false;
  if (win32ui::open_in_browser(panel_, url_)) return true;
  report_open_failure(url_);
  return false;
}

BrowserReportView::BrowserReportView(HWND parent, int id, unsigned timeout_ms)
    : browser_(BrowserControl::create(parent, id,
                                      {[this] { arrived_ = true; },
                                       [this] {
                                         arrived_ = true;
                                         stop_waiting();
                                         // A page read anew opens at its top, not where the
                                         // last one was left; a link within the page keeps
                                         // the place it leads to.
                                         if (to_top_ && browser_) browser_->scroll_to_top();
                                         to_top_ = false;
                                       },
                                       [this](const std::string& url) { report_open_failure(url); },
                                       [this] { return folder_available(); }, [this] { open_folder(); }})),
      // Made right after the control, so that either takes the same place in the tab order.
      panel_(parent, id),
      timeout_ms_(timeout_ms) {
  panel_.set_open_failed([this](const std::string& url) { report_open_failure(url); });
  if (browser_) {
    panel_.set_visible(false);
    ::ShowWindow(browser_->window(), SW_SHOW);
  }
}

BrowserReportView::~BrowserReportView() { stop_waiting(); }

HWND BrowserReportView::browser_window() const { return browser_ ? browser_->window() : nullptr; }

void BrowserReportView::navigate(const std::string& url) {
  url_ = url;
  panel_.navigate(url);
  load(false);
}

void BrowserReportView::refresh() {
  panel_.refresh();
  // A reload (Refresh2) raises no DocumentComplete, and would keep the scroll position: the
  // page is read again as a new navigation that bypasses the cache instead.
  load(true);
}

void BrowserReportView::load(bool fresh) {
  if (!browser_ || url_.empty()) return;
  // The control may raise its events before Navigate returns: the wait starts first.
  arrived_ = false;
  to_top_ = true;
  waiting_ = ::SetTimer(browser_->window(), reinterpret_cast<UINT_PTR>(this), timeout_ms_, &timed_out) != 0;
  // Without its time-out a page that never shows would leave the view blank for good.
  if (!waiting_ || !browser_->navigate(url_, fresh)) fall_back();
}

void CALLBACK BrowserReportView::timed_out(HWND, UINT, UINT_PTR id, DWORD) {
  auto* view = reinterpret_cast<BrowserReportView*>(id);
  view->stop_waiting();
  // A page that has arrived may still be reading a long report: only a page that has not
  // begun to show is given up.
  if (view->browser_ && !view->arrived_ && view->browser_->ready_state() < READYSTATE_INTERACTIVE) view->fall_back();
}

void BrowserReportView::stop_waiting() {
  if (waiting_ && browser_) ::KillTimer(browser_->window(), reinterpret_cast<UINT_PTR>(this));
  waiting_ = false;
}

void BrowserReportView::fall_back() {
  stop_waiting();
  HWND window = browser_->window();
  HWND focus = ::GetFocus();
  const bool focused = focus && (focus == window || ::IsChild(window, focus));
  browser_.reset();
  panel_.set_visible(visible_);
  // The focus does not vanish with the control: the keys (Esc, Tab) still reach the window.
  if (focused && visible_) panel_.focus();
}

void BrowserReportView::set_visible(bool visible) {
  visible_ = visible;
  if (browser_)
    ::ShowWindow(browser_->window(), visible ? SW_SHOW : SW_HIDE);
  else
    panel_.set_visible(visible);
}

void BrowserReportView::place(int left, int top, int width, int height) {
  panel_.place(left, top, width, height);
  if (browser_) ::MoveWindow(browser_->window(), left, top, width, height, TRUE);
}

void BrowserReportView::print() {
  if (browser_)
    browser_->print();
  else
    panel_.print();
}

void BrowserReportView::find() {
  if (browser_) browser_->find();
}

bool BrowserReportView::translate_key(MSG& message) { return browser_ && browser_->translate_key(message); }
