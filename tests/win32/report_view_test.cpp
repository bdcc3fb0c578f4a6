// The Windows window's report view: the system's web browser control in the view's place,
// and the panel (the page's path and "Apri nel browser") that takes over when the control
// has not begun to show a page within the time-out.
//
// Under Wine the control has no browser engine (no Gecko; mshtml is disabled for the test
// runs): it is made, but it never shows a page. What is tested here is therefore the
// control's place, the time-out and the panel; the page's rendering, its return to the
// top after a refresh and its printing can be seen only on Windows.
// windows.h first: the other Windows headers rely on its types.
#include "report_view.hpp"

#include <windows.h>

#include <chrono>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "window.hpp"
#include "window_checks.hpp"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using window_checks::place_of;
using window_checks::pump_until;
using window_checks::same;
using window_checks::shown;

constexpr int view_id = 42;
constexpr milliseconds timeout{1500};

// A top-level window to hold the view, destroyed at the end of the scope.
class Parent {
 public:
  Parent() {
    static const wchar_t* parent_class =
        win32ui::register_class(L"PIVZONA12ReportViewTest", ::DefWindowProcW, COLOR_BTNFACE + 1);
    hwnd_ = ::CreateWindowExW(0, parent_class, L"", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0, 640, 480,
                              nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  }
  ~Parent() { ::DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_;
};

// The texts of a window's children, one line each.
std::wstring child_texts(HWND window) {
  std::wstring texts;
  for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    texts += win32ui::text_of(child) + L"\n";
  return texts;
}

// Whether the view is shown when the time-out ends (a run hides the view when its page
// could not be made, and the panel must not show a page the run has given up), and whether
// the focus was in the control (it goes to the panel's button; from elsewhere it is not taken).
struct FallBackCase {
  const char* name;
  bool visible;
  bool focused;
};
void PrintTo(const FallBackCase& row, std::ostream* out) { *out << row.name; }

class FallBackTest : public testing::TestWithParam<FallBackCase> {};

TEST_P(FallBackTest, PanelTakesThePlaceOfAControlThatShowsNoPage) {
  test_support::TempDir work;
  const auto page = work.path() / "ZONA12 prova.html";
  test_support::write_file(page, "<!DOCTYPE html><html><body><h1>Report</h1></body></html>\n");
  std::string url = "file:///" + page.string();
  for (char& c : url)
    if (c == '\\') c = '/';
  for (std::size_t at = url.find(' '); at != std::string::npos; at = url.find(' ', at)) url.replace(at, 1, "%20");

  Parent parent;
  BrowserReportView view(parent.hwnd(), view_id, static_cast<unsigned>(timeout.count()));
  HWND control = view.browser_window();
  ASSERT_NE(control, nullptr) << "the system's web browser control could not be made";
  EXPECT_EQ(::GetDlgItem(parent.hwnd(), view_id), control);
  EXPECT_TRUE(shown(control));
  EXPECT_FALSE(shown(view.panel().panel()));

  // The control takes the view's place, and grows with it.
  view.place(8, 160, 400, 200);
  EXPECT_TRUE(same(place_of(control), RECT{8, 160, 408, 360}));
  view.place(8, 160, 600, 280);
  EXPECT_TRUE(same(place_of(control), RECT{8, 160, 608, 440}));

  ::SetFocus(parent.hwnd());
  const auto asked = steady_clock::now();
  view.navigate(url);
  if (!GetParam().visible) view.set_visible(false);
  if (GetParam().focused) ::SetFocus(control);
  win32ui::pump_pending();
  HWND focus = ::GetFocus();
  EXPECT_EQ(focus == control || ::IsChild(control, focus), GetParam().focused);
  // Before the time-out the control is the view, waiting for the page.
  ASSERT_EQ(view.browser_window(), control);
  EXPECT_EQ(shown(control), GetParam().visible);
  EXPECT_FALSE(shown(view.panel().panel()));

  ASSERT_TRUE(pump_until([&] { return view.browser_window() == nullptr; }, timeout + milliseconds(10000)))
      << "the control showed the page: this system has a browser engine, and the time-out is never reached";
  EXPECT_GE(steady_clock::now() - asked, timeout - milliseconds(50));
  HWND panel = view.panel().panel();
  EXPECT_FALSE(::IsWindow(control));
  EXPECT_EQ(::GetDlgItem(parent.hwnd(), view_id), panel);
  EXPECT_EQ(shown(panel), GetParam().visible);
  EXPECT_TRUE(same(place_of(panel), RECT{8, 160, 608, 440}));
  EXPECT_EQ(view.panel().url(), url);
  EXPECT_NE(child_texts(panel).find(L"Il report è nel file:\n" + page.wstring() + L"\nApri nel browser\n"),
            std::wstring::npos)
      << child_texts(panel);
  if (GetParam().focused)
    EXPECT_EQ(win32ui::text_of(::GetFocus()), L"Apri nel browser");
  else
    EXPECT_EQ(::GetFocus(), parent.hwnd());

  // From now on the panel is the view: it is shown, placed and told the next page.
  view.set_visible(true);
  EXPECT_TRUE(shown(panel));
  view.place(8, 160, 500, 250);
  EXPECT_TRUE(same(place_of(panel), RECT{8, 160, 508, 410}));
  view.refresh();
  view.navigate("file:///C:/altro.html");
  EXPECT_EQ(view.browser_window(), nullptr);
  EXPECT_EQ(view.panel().url(), "file:///C:/altro.html");
  EXPECT_NE(child_texts(panel).find(L"C:\\altro.html"), std::wstring::npos) << child_texts(panel);
}

INSTANTIATE_TEST_SUITE_P(View, FallBackTest,
                         testing::Values(FallBackCase{"ShownWithTheFocus", true, true},
                                         FallBackCase{"ShownFocusElsewhere", true, false},
                                         FallBackCase{"Hidden", false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
