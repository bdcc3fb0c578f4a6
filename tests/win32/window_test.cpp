// The Windows windows end to end, driven by window messages in this process: the sign-in
// inside the main window's creation, the doctor's data and the range after start-up,
// closing with Esc, and the programme runs with the save dialog, the message boxes, the
// report view (a recording one: no page is rendered here) and Annulla, against the
// stand-in server on a fixture installation.
// windows.h first: the other Windows headers rely on its types.
#include <windows.h>

#include <commctrl.h>
#include <oleauto.h>
#include <winver.h>

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PIVZONA12Main.hpp"
#include "child_processes.hpp"
#include "formLogin.hpp"
#include "platform/win_text.hpp"
#include "test_support.hpp"
#include "win32_host.hpp"
#include "window_checks.hpp"
#include "window_practice.hpp"

namespace {

namespace fs = std::filesystem;
using platform::win::narrow;
using platform::win::widen;
using test_support::read_file;
using window_checks::place_of;
using window_checks::same;
using window_checks::shown;

const std::wstring refused_credentials = L"ERRORE: Dati Utente o Password non riconosciuti.";
const std::wstring refused_kind = L"ERRORE: Procedura riservata ai soli medici titolari.";
const std::wstring refused_code =
    L"ERRORE: Il campo obbligatorio \"Codice Regionale\" medico non è stato valorizzato in Praxilo.";

// What the run and the window asked of the report view.
class RecordingView : public ReportView {
 public:
  std::vector<std::string> calls;
  RECT placed{};  ///< the last place given
  void navigate(const std::string& url) override { calls.push_back("navigate " + url); }
  void refresh() override { calls.push_back("refresh"); }
  void set_visible(bool visible) override { calls.push_back(visible ? "show" : "hide"); }
  void place(int left, int top, int width, int height) override { placed = {left, top, left + width, top + height}; }
  void print() override { calls.push_back("print"); }
};

struct Box {
  std::wstring text, caption;
  UINT style;
};
struct FileDialog {
  std::wstring filter, title, offered, directory;
  const wchar_t* default_extension;
  DWORD flags;
};

// A sign-in attempt as the doctor makes it: both boxes typed, OK pressed.
void type_credentials(HWND login, const std::wstring& user, const std::wstring& password) {
  ::SetWindowTextW(::GetDlgItem(login, TfrmLogin::id_editUtente), user.c_str());
  ::SetWindowTextW(::GetDlgItem(login, TfrmLogin::id_editPassword), password.c_str());
  win32ui::click(::GetDlgItem(login, TfrmLogin::id_ButtonOk));
}

class WindowTest : public testing::Test {
 protected:
  WindowTest() : installation(test_support::window_practice), cwd(work.path()) {
    test_support::copy_stylesheets(installation.appdir());
    host.set_message_box_hook([this](const std::wstring& text, const std::wstring& caption, UINT style) {
      boxes.push_back({text, caption, style});
      return IDOK;
    });
    host.set_file_dialog_hook([this](OPENFILENAMEW& request) {
      ::SetFocus(nullptr);  // as the system's dialog, which takes the focus while it is up
      std::wstring filter;
      for (const wchar_t* p = request.lpstrFilter; p && (p[0] || p[1]); ++p) filter += p[0] ? p[0] : L'|';
      file_dialogs.push_back({filter, request.lpstrTitle ? request.lpstrTitle : L"", request.lpstrFile,
                              request.lpstrInitialDir ? request.lpstrInitialDir : L"", request.lpstrDefExt,
                              request.Flags});
      if (save_paths.empty()) return false;
      const std::wstring path = widen(save_paths.front());
      save_paths.erase(save_paths.begin());
      lstrcpynW(request.lpstrFile, path.c_str(), static_cast<int>(request.nMaxFile));
      return true;
    });
  }

  // A recording report view, kept in view.
  TfrmMain::ViewMaker recording_view() {
    return [this](HWND, int) {
      auto recording = std::make_unique<RecordingView>();
      view = recording.get();
      return recording;
    };
  }

  // The main window, signed in by the attempts (user, password) in turn; the sign-in is
  // given up when none of them is admitted. The report view is a recording one unless
  // make_view makes another.
  std::unique_ptr<TfrmMain> start(std::vector<std::pair<std::wstring, std::wstring>> attempts,
                                  TfrmMain::ViewMaker make_view = {}) {
    host.set_modal_hook([attempts](HWND login) {
      for (const auto& [user, password] : attempts) {
        type_credentials(login, user, password);
        if (!::IsWindowVisible(login)) return;
      }
      win32ui::click(::GetDlgItem(login, TfrmLogin::id_ButtonAnnulla));
    });
    auto window = std::make_unique<TfrmMain>(host, make_view ? make_view : recording_view());
    host.set_modal_hook({});
    return window;
  }

  // The main window signed in as doc, on a server whose answers wait while hold_file
  // exists, with a call's limit of limit_seconds: both read at the sign-in.
  std::unique_ptr<TfrmMain> start_held(const std::string& hold_file, const char* limit_seconds) {
    const test_support::ScopedEnv hold("PRAXILO_SERVER_HOLD_FILE", hold_file);
    const test_support::ScopedEnv limit("PIVZONA12_CALL_TIMEOUT_S", limit_seconds);
    return start({{L"doc", L"pw"}});
  }

  // The operation log, wherever under the installation it was written.
  std::string log() const {
    std::string text;
    for (const auto& entry : fs::recursive_directory_iterator(installation.appdir()))
      if (entry.path().filename() == "praxipat.log") text += read_file(entry.path());
    return text;
  }

  test_support::Installation installation;
  test_support::TempDir work;
  test_support::ScopedCwd cwd;
  Win32Host host;
  RecordingView* view = nullptr;
  std::vector<Box> boxes;
  std::vector<FileDialog> file_dialogs;
  std::vector<std::string> save_paths;
};

std::wstring text(const TfrmMain& window, int id) { return win32ui::text_of(window.item(id)); }

SYSTEMTIME picker(const TfrmMain& window, int id) {
  SYSTEMTIME date{};
  ::SendMessageW(window.item(id), DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&date));
  return date;
}

void set_picker(const TfrmMain& window, int id, WORD year, WORD month, WORD day) {
  SYSTEMTIME date{};
  date.wYear = year;
  date.wMonth = month;
  date.wDay = day;
  ::SendMessageW(window.item(id), DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&date));
}

double day_of(const SYSTEMTIME& date) {
  SYSTEMTIME midnight{};
  midnight.wYear = date.wYear;
  midnight.wMonth = date.wMonth;
  midnight.wDay = date.wDay;
  double value = 0;
  ::SystemTimeToVariantTime(&midnight, &value);
  return value;
}

// The window keeps its own place and size where they fit the monitor's work area; on a
// smaller one it is moved, then shrunk, inside it, and it cannot be dragged smaller than
// its buttons' column.
TEST_F(WindowTest, PlacedInsideTheMonitorsWorkArea) {
  struct Case {
    RECT area;
    RECT expected;
  };
  for (const Case& c : {Case{{0, 0, 1920, 1040}, {589, 293, 589 + 833, 293 + 536}},
                        Case{{0, 0, 1366, 728}, {533, 192, 1366, 728}}, Case{{0, 0, 800, 500}, {0, 0, 817, 500}}}) {
    SCOPED_TRACE(c.area.right);
    host.set_work_area_hook([&c] { return c.area; });
    auto window = start({{L"doc", L"pw"}});
    ASSERT_TRUE(window->signed_in());
    RECT place{};
    ::GetWindowRect(window->hwnd(), &place);
    EXPECT_EQ(place.left, c.expected.left);
    EXPECT_EQ(place.top, c.expected.top);
    EXPECT_EQ(place.right, c.expected.right);
    EXPECT_EQ(place.bottom, c.expected.bottom);
    MINMAXINFO limits{};
    ::SendMessageW(window->hwnd(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_GE(limits.ptMinTrackSize.x, 656 + 137 + 8);
    EXPECT_GE(limits.ptMinTrackSize.y, 160 + 100);
  }
  host.set_work_area_hook({});
}

// On a monitor of 144 dpi (150 %) every control is at 1.5 times its place and size in the
// layout (a label at 1.5 times its place), the report view too, the window's place, size
// and smallest size are scaled, and its icons are of that dpi's sizes. Moved to a monitor
// of 96 dpi (WM_DPICHANGED), it takes the suggested rectangle and its controls go back to
// the layout's own places.
TEST_F(WindowTest, ScaledToTheMonitorsDpi) {
  host.set_dpi_hook([](HWND) { return 144; });
  host.set_work_area_hook([] { return RECT{0, 0, 2880, 1560}; });
  auto window = start({{L"doc", L"pw"}});
  host.set_dpi_hook({});
  host.set_work_area_hook({});
  ASSERT_TRUE(window->signed_in());
  EXPECT_EQ(window->dpi(), 144);
  const auto check_places = [&window](int dpi) {
    const auto s = [dpi](int value) { return main_layout::scale(value, dpi); };
    for (const main_layout::ControlEntry& c : main_layout::controls()) {
      if (c.kind == main_layout::Kind::report_view || c.kind == main_layout::Kind::status_line) continue;
      SCOPED_TRACE(c.name);
      const RECT place = place_of(window->item(TfrmMain::id(c.control)));
      EXPECT_EQ(place.left, s(c.left));
      EXPECT_EQ(place.top, s(c.top));
      if (c.kind != main_layout::Kind::label) {
        EXPECT_EQ(place.right - place.left, s(c.width));
        EXPECT_EQ(place.bottom - place.top, s(c.height));
      }
    }
  };
  {
    SCOPED_TRACE("144 dpi");
    check_places(144);
    EXPECT_EQ(view->placed.left, 12);
    EXPECT_EQ(view->placed.top, 240);
    RECT outer{};
    ::GetWindowRect(window->hwnd(), &outer);
    EXPECT_EQ(outer.left, 884);
    EXPECT_EQ(outer.top, 440);
    // The system keeps a window within its largest tracking size (the test's screen may
    // be smaller than the faked work area), never below the smallest one.
    const auto within = [](int size, int smallest, int metric) {
      return std::max(main_layout::scale(smallest, 144), std::min(size, ::GetSystemMetrics(metric)));
    };
    EXPECT_EQ(outer.right - outer.left, within(1250, main_layout::min_outer_width, SM_CXMAXTRACK));
    EXPECT_EQ(outer.bottom - outer.top, within(804, main_layout::min_outer_height, SM_CYMAXTRACK));
    MINMAXINFO limits{};
    ::SendMessageW(window->hwnd(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, main_layout::scale(main_layout::min_outer_width, 144));
    EXPECT_EQ(limits.ptMinTrackSize.y, main_layout::scale(main_layout::min_outer_height, 144));
    for (const auto& [kind, size] : {std::pair{ICON_SMALL, 24}, std::pair{ICON_BIG, 48}}) {
      const auto icon = reinterpret_cast<HICON>(::SendMessageW(window->hwnd(), WM_GETICON, kind, 0));
      ASSERT_NE(icon, nullptr);
      ICONINFO info{};
      ASSERT_TRUE(::GetIconInfo(icon, &info));
      BITMAP colour{};
      ::GetObjectW(info.hbmColor, sizeof colour, &colour);
      EXPECT_EQ(colour.bmWidth, size);
      EXPECT_EQ(colour.bmBitsPixel, 32) << "the icon has its alpha";
      ::DeleteObject(info.hbmColor);
      ::DeleteObject(info.hbmMask);
    }
  }
  {
    SCOPED_TRACE("moved to 96 dpi");
    RECT suggested{100, 50, 100 + 833, 50 + 536};
    ::SendMessageW(window->hwnd(), WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(window->dpi(), 96);
    check_places(96);
    RECT outer{};
    ::GetWindowRect(window->hwnd(), &outer);
    EXPECT_TRUE(same(outer, suggested));
    EXPECT_EQ(view->placed.left, 8);
    EXPECT_EQ(view->placed.top, 160);
  }
}

// The focused date picker is marked by the window (the picker draws no mark of its own
// under Wine): a frame around it, which follows the focus and goes when it leaves the pickers.
TEST_F(WindowTest, TheFocusedDatePickerIsMarked) {
  auto window = start({{L"doc", L"pw"}});
  ASSERT_TRUE(window->signed_in());
  ::ShowWindow(window->hwnd(), SW_SHOW);
  EXPECT_EQ(window->marked_picker(), 0);
  for (const main_layout::Control picker : {main_layout::DTDal, main_layout::DTAl}) {
    SCOPED_TRACE(main_layout::entry(picker).name);
    HWND control = window->item(TfrmMain::id(picker));
    ::SetFocus(control);
    ASSERT_TRUE(control == ::GetFocus() || ::IsChild(control, ::GetFocus()));
    EXPECT_EQ(window->marked_picker(), TfrmMain::id(picker));
    RECT around = place_of(control);
    ::InflateRect(&around, 2, 2);
    EXPECT_TRUE(same(window->focus_mark(), around));
  }
  ::SetFocus(window->item(TfrmMain::id(main_layout::btnChiudi)));
  EXPECT_EQ(window->marked_picker(), 0);
  const RECT none = window->focus_mark();
  EXPECT_TRUE(::IsRectEmpty(&none));
}

// The program's icon, the first icon group of pivzona12.exe (Explorer, the Start menu and
// the taskbar show it), in every size from 16 to 256 with its alpha; and its manifest,
// which declares per-monitor dpi awareness (v2, with the older forms) and the common
// controls 6.
TEST(ProgramResources, IconAndDpiAwareManifest) {
  const std::wstring exe = widen(std::string(PZ_BIN_DIR) + "/pivzona12.exe");
  HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr) << "cannot read " << narrow(exe);
  const auto resource = [module](LPCWSTR name, LPCWSTR type) -> std::string {
    HRSRC found = ::FindResourceW(module, name, type);
    if (!found) return "";
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(module, found)));
    return bytes ? std::string(bytes, ::SizeofResource(module, found)) : "";
  };
  std::vector<std::wstring> groups;
  ::EnumResourceNamesW(
      module, RT_GROUP_ICON,
      [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) -> BOOL {
        reinterpret_cast<std::vector<std::wstring>*>(found)->push_back(
            IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : name);
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&groups));
  ASSERT_FALSE(groups.empty()) << "no icon";
  EXPECT_EQ(groups.front(), L"#1");
  // GRPICONDIR: 6 bytes, then 14 bytes per picture (width, height, colours, reserved,
  // planes, bits per pixel, size, id).
  const std::string group = resource(MAKEINTRESOURCEW(1), RT_GROUP_ICON);
  ASSERT_GE(group.size(), 6u);
  const int count = static_cast<unsigned char>(group[4]) | (static_cast<unsigned char>(group[5]) << 8);
  ASSERT_EQ(group.size(), 6u + 14u * count);
  std::vector<int> sizes;
  for (int i = 0; i < count; ++i) {
    const auto* entry = reinterpret_cast<const unsigned char*>(group.data() + 6 + 14 * i);
    sizes.push_back(entry[0] == 0 ? 256 : entry[0]);
    EXPECT_EQ(entry[6], 32) << "the picture of " << sizes.back() << " has no alpha";
  }
  for (const int size : {16, 24, 32, 48, 256})
    EXPECT_NE(std::find(sizes.begin(), sizes.end(), size), sizes.end()) << "no picture of " << size;

  const std::string manifest = resource(MAKEINTRESOURCEW(1), RT_MANIFEST);
  ::FreeLibrary(module);
  ASSERT_FALSE(manifest.empty()) << "no manifest";
  for (const char* expected :
       {"<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, "
        "PerMonitor</dpiAwareness>",
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""})
    EXPECT_NE(manifest.find(expected), std::string::npos) << "the manifest lacks " << expected;
}

// The program's version information, as Explorer's "Dettagli" shows it: the product, its
// version and a description in Italian.
TEST(ProgramResources, VersionInformationInItalian) {
  const std::wstring exe = widen(std::string(PZ_BIN_DIR) + "/pivzona12.exe");
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  ASSERT_GT(size, 0u) << "no version information";
  std::vector<char> data(size);
  ASSERT_TRUE(::GetFileVersionInfoW(exe.c_str(), 0, size, data.data()));
  const auto value = [&data](const wchar_t* name) -> std::wstring {
    wchar_t* text = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\041004B0\\") + name;
    if (!::VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&text), &length) || !text) return L"";
    return std::wstring(text, wcsnlen(text, length));
  };
  EXPECT_EQ(value(L"ProductName"), L"PIV ZONA12");
  EXPECT_EQ(value(L"ProductVersion"), widen(PZ_PROJECT_VERSION));
  EXPECT_EQ(value(L"FileVersion"), widen(PZ_PROJECT_VERSION));
  EXPECT_EQ(value(L"FileDescription"), L"Estrazioni ZONA12 per la ASL: diabete, TAO, vaccinazioni");
}

TEST_F(WindowTest, RefusedSignInThenGoodOneFillsTheWindow) {
  auto window = start({{L"doc", L"wrong"}, {L"doc", L"pw"}});
  ASSERT_TRUE(window->signed_in());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, refused_credentials);
  EXPECT_EQ(boxes[0].caption, L"PIV ZONA12");
  EXPECT_EQ(window->controller().user()->get_userid_utente(), "MED1");

  EXPECT_EQ(text(*window, TfrmMain::id(main_layout::edt_NominativoMMG)), L"Mario Rossi");
  EXPECT_EQ(text(*window, TfrmMain::id(main_layout::edt_CodiceRegionale)), L"1234");
  EXPECT_EQ(text(*window, TfrmMain::id(main_layout::edt_CodiceFiscaleMMG)), L"RSSMRA60A01H501U");
  EXPECT_EQ(text(*window, TfrmMain::id(main_layout::edt_ASL)), L"ASL 12");
  EXPECT_EQ(win32ui::text_of(window->hwnd()), L"Estrazioni ZONA12");
  // The controls use the system's message font, which has the letters a name may hold.
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ASSERT_TRUE(::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
  LOGFONTW used{};
  ::GetObjectW(reinterpret_cast<HFONT>(
                   ::SendMessageW(window->item(TfrmMain::id(main_layout::edt_NominativoMMG)), WM_GETFONT, 0, 0)),
               sizeof used, &used);
  EXPECT_STREQ(used.lfFaceName, metrics.lfMessageFont.lfFaceName);

  // The range is [today - 365 days, today], shown as dd/MM/yyyy.
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  EXPECT_EQ(day_of(picker(*window, TfrmMain::id(main_layout::DTAl))), day_of(now));
  EXPECT_EQ(day_of(picker(*window, TfrmMain::id(main_layout::DTDal))), day_of(now) - 365);
  wchar_t shown[16];
  swprintf(shown, 16, L"%02u/%02u/%04u", now.wDay, now.wMonth, now.wYear);
  EXPECT_EQ(text(*window, TfrmMain::id(main_layout::DTAl)), shown);

  for (int hidden : {TfrmMain::id(main_layout::Label5), TfrmMain::id(main_layout::edt_Regione),
                     TfrmMain::id(main_layout::Label8), TfrmMain::id(main_layout::edt_Distretto)})
    EXPECT_FALSE(::GetWindowLongPtrW(window->item(hidden), GWL_STYLE) & WS_VISIBLE) << hidden;
  RECT place{};
  ::GetWindowRect(window->hwnd(), &place);
  EXPECT_EQ(place.right - place.left, main_layout::outer_width);
  EXPECT_EQ(place.bottom - place.top, main_layout::outer_height);

  // Tab goes through the visible controls in their order.
  const std::vector<int> order = {TfrmMain::id(main_layout::btnChiudi),
                                  TfrmMain::id(main_layout::edt_ASL),
                                  TfrmMain::id(main_layout::DTAl),
                                  TfrmMain::id(main_layout::btnCalcola),
                                  TfrmMain::id(main_layout::btnSalva),
                                  TfrmMain::id(main_layout::edt_CodiceRegionale),
                                  TfrmMain::id(main_layout::edt_CodiceFiscaleMMG),
                                  TfrmMain::id(main_layout::edt_NominativoMMG),
                                  TfrmMain::id(main_layout::DTDal),
                                  TfrmMain::id(main_layout::btnVaccinazioni)};
  ::ShowWindow(window->hwnd(), SW_SHOW);
  HWND at = window->item(TfrmMain::id(main_layout::btnChiudi));
  for (std::size_t i = 1; i <= order.size(); ++i) {
    at = ::GetNextDlgTabItem(window->hwnd(), at, FALSE);
    EXPECT_EQ(::GetDlgCtrlID(at), order[i % order.size()]) << "after step " << i;
  }
  EXPECT_NE(log().find("ole_praxipat.get_opzione(macchina, OPZIONI\\regione) = Toscana;"), std::string::npos) << log();
}

TEST_F(WindowTest, BothRefusalsInOrderThenCancelEndsWithoutFilling) {
  auto window = start({{L"nessuno", L"pw"}});
  EXPECT_FALSE(window->signed_in());
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, refused_kind);
  EXPECT_EQ(boxes[1].text, refused_code);
  EXPECT_EQ(text(*window, TfrmMain::id(main_layout::edt_NominativoMMG)), L"");
  EXPECT_EQ(text(*window, TfrmMain::id(main_layout::edt_ASL)), L"");
  EXPECT_EQ(log().find("get_opzione"), std::string::npos);
  EXPECT_FALSE(host.busy());
}

// Checks the timer's condition every 50 ms and, once it holds or after ten seconds, does
// the timer's work once; the window's thread runs it from whatever message loop it is in.
std::function<bool()> timer_condition;
std::function<void()> timer_work;
int timer_ticks = 0;
void CALLBACK fire_timer_when(HWND, UINT, UINT_PTR id, DWORD) {
  if (timer_condition && !timer_condition() && ++timer_ticks < 200) return;
  ::KillTimer(nullptr, id);
  if (auto work = std::move(timer_work)) work();
}

// A sign-in whose attempt waits: every call of the server it starts waits until release().
// Made before the main window, whose sign-in then starts that server.
class HeldSignIn {
 public:
  HeldSignIn() { test_support::write_file(file_, ""); }
  ~HeldSignIn() {
    if (timer_) ::KillTimer(nullptr, timer_);
    timer_condition = {};
    timer_work = {};
    std::error_code ignored;
    fs::remove(file_, ignored);
  }
  HeldSignIn(const HeldSignIn&) = delete;
  HeldSignIn& operator=(const HeldSignIn&) = delete;

  /// Does work from the attempt's message loop once the server is up (its first call then
  /// waits), or after ten seconds; work should release the attempt.
  void when_waiting(std::function<void()> work) {
    timer_condition = [] { return !test_support::live_children("praxilo-server").empty(); };
    timer_work = std::move(work);
    timer_ticks = 0;
    timer_ = ::SetTimer(nullptr, 0, 50, fire_timer_when);
  }
  /// The server's calls go on.
  void release() { fs::remove(file_); }

 private:
  test_support::TempDir dir_;
  std::string file_ = dir_.dir() + "hold";
  test_support::ScopedEnv env_{"PRAXILO_SERVER_HOLD_FILE", file_};  // read by the server as it starts
  UINT_PTR timer_ = 0;
};

// The cursor the window gives when the mouse moves onto target: the window answers
// WM_SETCURSOR, or a control asks its parent first. The arrow is set before, as the
// mouse's last place may have left it.
HCURSOR cursor_over(HWND target) {
  ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
  ::SendMessageW(target, WM_SETCURSOR, reinterpret_cast<WPARAM>(target), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  return ::GetCursor();
}

// While an attempt waits for the records product, the window keeps answering and the
// hourglass stays over it and each of its controls; once the attempt (refused) returns,
// the arrow is back and the controls show their own cursors again.
TEST_F(WindowTest, TheHourglassStaysWhileAnAttemptWaits) {
  ASSERT_TRUE(test_support::wait_until_no_live_children("praxilo-server")) << "a server of an earlier test runs";
  const HCURSOR wait = ::LoadCursorW(nullptr, IDC_WAIT);
  bool waited = false;
  std::vector<std::pair<int, HCURSOR>> during;  // (control, or 0 for the window itself; cursor)
  HCURSOR after = nullptr;
  HCURSOR in_password_after = nullptr;
  HeldSignIn held;
  host.set_modal_hook([&](HWND login) {
    held.when_waiting([&, login] {
      waited = true;
      during.emplace_back(0, cursor_over(login));
      for (int id : {TfrmLogin::id_editUtente, TfrmLogin::id_editPassword, TfrmLogin::id_ButtonOk,
                     TfrmLogin::id_ButtonAnnulla, TfrmLogin::id_PraxiLogo, TfrmLogin::id_StatusBar1})
        during.emplace_back(id, cursor_over(::GetDlgItem(login, id)));
      held.release();
    });
    type_credentials(login, L"doc", L"wrong");
    after = ::GetCursor();
    in_password_after = cursor_over(::GetDlgItem(login, TfrmLogin::id_editPassword));
    win32ui::click(::GetDlgItem(login, TfrmLogin::id_ButtonAnnulla));
  });
  TfrmMain window(host, recording_view());
  host.set_modal_hook({});

  ASSERT_TRUE(waited) << "the attempt ended before the server started";
  for (const auto& [id, cursor] : during) EXPECT_EQ(cursor, wait) << "over control " << id;
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, refused_credentials);
  EXPECT_EQ(after, ::LoadCursorW(nullptr, IDC_ARROW));
  EXPECT_EQ(in_password_after, ::LoadCursorW(nullptr, IDC_IBEAM));
  EXPECT_FALSE(host.busy());
}

// Annulla, or the close box, while a sign-in attempt waits for the records product: the
// window goes at once and ends with Cancel though the attempt then admits the doctor; the
// session that attempt opened ends, and the main window stays empty. A second OK during
// the attempt makes no second one.
struct GiveUpCase {
  const char* name;
  bool close_box;
};
void PrintTo(const GiveUpCase& row, std::ostream* out) { *out << row.name; }

class GiveUpDuringSignInTest : public WindowTest, public testing::WithParamInterface<GiveUpCase> {};

TEST_P(GiveUpDuringSignInTest, EndsWithCancelAndEndsTheSession) {
  ASSERT_TRUE(test_support::wait_until_no_live_children("praxilo-server")) << "a server of an earlier test runs";
  bool server_started = false;
  bool hidden_at_once = false;
  std::optional<HeldSignIn> held(std::in_place);
  host.set_modal_hook([&](HWND login) {
    held->when_waiting([&, login] {
      server_started = !test_support::live_children("praxilo-server").empty();
      win32ui::click(::GetDlgItem(login, TfrmLogin::id_ButtonOk));
      if (GetParam().close_box)
        ::SendMessageW(login, WM_CLOSE, 0, 0);
      else
        win32ui::click(::GetDlgItem(login, TfrmLogin::id_ButtonAnnulla));
      hidden_at_once = !::IsWindowVisible(login);
      held->release();
    });
    type_credentials(login, L"doc", L"pw");
  });
  TfrmMain window(host, recording_view());
  host.set_modal_hook({});
  held.reset();

  ASSERT_TRUE(server_started) << "the attempt ended before the server started";
  EXPECT_TRUE(hidden_at_once);
  EXPECT_FALSE(window.signed_in());
  EXPECT_TRUE(boxes.empty());
  for (int id : {TfrmMain::id(main_layout::edt_NominativoMMG), TfrmMain::id(main_layout::edt_CodiceRegionale),
                 TfrmMain::id(main_layout::edt_CodiceFiscaleMMG), TfrmMain::id(main_layout::edt_ASL)})
    EXPECT_EQ(text(window, id), L"") << id;
  EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_ARROW));
  EXPECT_FALSE(host.busy());
  // The main window still holds the session object: only the sign-in can have ended it.
  EXPECT_TRUE(test_support::wait_until_no_live_children("praxilo-server"));
  const std::string operations = log();
  EXPECT_EQ(operations.find("CreateOleObject"), operations.rfind("CreateOleObject")) << operations;
  EXPECT_NE(operations.find("ole_praxipat.Free();"), std::string::npos) << operations;
  EXPECT_EQ(operations.find("get_opzione"), std::string::npos) << operations;
}

INSTANTIATE_TEST_SUITE_P(How, GiveUpDuringSignInTest,
                         testing::Values(GiveUpCase{"Annulla", false}, GiveUpCase{"CloseBox", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Enter in the sign-in window: in a text box it presses OK, on a button that button.
struct EnterCase {
  const char* name;
  int focus;
  bool admitted;
};

class SignInEnterTest : public WindowTest, public testing::WithParamInterface<EnterCase> {};

TEST_P(SignInEnterTest, EnterPressesTheRightButton) {
  HWND focus_at_start = nullptr;
  HWND password_box = nullptr;
  wchar_t mask = 0;
  const int focus = GetParam().focus;
  host.set_modal_hook([&](HWND login) {
    focus_at_start = ::GetFocus();
    password_box = ::GetDlgItem(login, TfrmLogin::id_editPassword);
    mask = static_cast<wchar_t>(::SendMessageW(password_box, EM_GETPASSWORDCHAR, 0, 0));
    ::SetWindowTextW(::GetDlgItem(login, TfrmLogin::id_editUtente), L"doc");
    ::SetWindowTextW(password_box, L"pw");
    HWND target = ::GetDlgItem(login, focus);
    ::SetFocus(target);
    ::PostMessageW(target, WM_KEYDOWN, VK_RETURN, 0);
    // Enter's work, an attempt included, is done once the queue is empty. The close box
    // then ends a sign-in that Enter left open: during an attempt it would give it up.
    win32ui::pump_pending();
    if (::IsWindowVisible(login)) ::PostMessageW(login, WM_CLOSE, 0, 0);
  });
  TfrmMain window(host, recording_view());
  host.set_modal_hook({});
  EXPECT_EQ(window.signed_in(), GetParam().admitted);
  EXPECT_EQ(focus_at_start, password_box);
  EXPECT_EQ(mask, L'*');
  EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Keys, SignInEnterTest,
                         testing::Values(EnterCase{"InUserName", TfrmLogin::id_editUtente, true},
                                         EnterCase{"InPassword", TfrmLogin::id_editPassword, true},
                                         EnterCase{"OnAnnulla", TfrmLogin::id_ButtonAnnulla, false}),
                         [](const testing::TestParamInfo<EnterCase>& info) { return std::string(info.param.name); });

// "Apri cartella", the button at the right of the status line, reaches Explorer with the
// saved report's folder once a report is saved; a folder that is not there is not handed
// to it, and the window names it in a box.
TEST_F(WindowTest, ApriCartellaOpensTheSavedReportsFolder) {
  auto window = start({{L"doc", L"pw"}});
  ASSERT_TRUE(window->signed_in());
  HWND button = window->item(TfrmMain::id_btnApriCartella);
  ASSERT_NE(button, nullptr);
  EXPECT_FALSE(::IsWindowEnabled(button));
  // Inside the status line, right of the part that holds the path.
  HWND status = window->item(TfrmMain::id(main_layout::StatusBar1));
  RECT bar{}, place{}, path{};
  ::GetWindowRect(status, &bar);
  ::GetWindowRect(button, &place);
  ::SendMessageW(status, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&path));
  ::MapWindowPoints(status, nullptr, reinterpret_cast<POINT*>(&path), 2);
  EXPECT_TRUE(place.left >= path.right && place.right <= bar.right && place.top >= bar.top &&
              place.bottom <= bar.bottom)
      << place.left << "," << place.top << "-" << place.right << "," << place.bottom << " in " << bar.left << ","
      << bar.top << "-" << bar.right << "," << bar.bottom << ", path to " << path.right;
  std::vector<std::wstring> opened;
  host.set_folder_hook([&](const std::wstring& folder) {
    opened.push_back(folder);
    return true;
  });
  const std::string report = work.dir() + "File Diabete ZONA12.xml";
  save_paths = {report};
  win32ui::click(window->item(TfrmMain::id(main_layout::btnCalcola)));
  ASSERT_EQ(window->controller().last_run().outcome, RunOutcome::saved) << window->controller().last_run().message;
  EXPECT_TRUE(::IsWindowEnabled(button));
  win32ui::click(button);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(platform::win::narrow(opened[0]), folder_of(report));
  EXPECT_TRUE(boxes.empty());

  host.set_folder_hook({});
  EXPECT_FALSE(host.open_folder(work.dir() + "non-esiste"));
}

TEST_F(WindowTest, EscClosesTheMainWindow) {
  auto window = start({{L"doc", L"pw"}});
  ASSERT_TRUE(window->signed_in());
  ::ShowWindow(window->hwnd(), SW_SHOW);
  HWND focus = window->item(TfrmMain::id(main_layout::edt_ASL));
  ::SetFocus(focus);
  ::PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 0);
  win32ui::pump_pending();
  EXPECT_FALSE(window->open());
  EXPECT_NE(log().find("ole_praxipat.disconnetti();"), std::string::npos) << log();
}

TEST_F(WindowTest, RunsSaveShowRefreshAndKeepThePageWithoutPatients) {
  auto window = start({{L"doc", L"pw"}});
  ASSERT_TRUE(window->signed_in());
  const std::string diabetes = work.dir() + "File Diabete ZONA12.xml";
  save_paths = {diabetes};
  win32ui::click(window->item(TfrmMain::id(main_layout::btnCalcola)));
  ASSERT_EQ(window->controller().last_run().outcome, RunOutcome::saved) << window->controller().last_run().message;
  EXPECT_TRUE(boxes.empty());
  EXPECT_NE(read_file(diabetes).find("Conti"), std::string::npos);
  ASSERT_EQ(file_dialogs.size(), 1u);
  EXPECT_EQ(file_dialogs[0].filter, L"File XML|*.xml");
  EXPECT_EQ(file_dialogs[0].title, L"Report");
  EXPECT_EQ(file_dialogs[0].offered, L"File Diabete ZONA12.xml");
  EXPECT_EQ(file_dialogs[0].default_extension, nullptr);
  EXPECT_FALSE(file_dialogs[0].flags & OFN_OVERWRITEPROMPT);
  EXPECT_EQ(window->controller().report_url().rfind("file:///", 0), 0u) << window->controller().report_url();
  EXPECT_EQ(view->calls, (std::vector<std::string>{"navigate " + window->controller().report_url(), "show"}));
  EXPECT_EQ(window->status_text(), widen("Salvato: " + diabetes + " – 2 assistiti"));

  // Another programme's run refreshes the page shown.
  save_paths = {work.dir() + "tao.xml"};
  win32ui::click(window->item(TfrmMain::id(main_layout::btnSalva)));
  ASSERT_EQ(window->controller().last_run().outcome, RunOutcome::saved) << window->controller().last_run().message;
  EXPECT_EQ(view->calls,
            (std::vector<std::string>{"navigate " + window->controller().report_url(), "show", "refresh", "show"}));
  const std::size_t shown = view->calls.size();

  // The only vaccination is in October: a range ending in June finds nobody, and the
  // earlier page stays.
  set_picker(*window, TfrmMain::id(main_layout::DTDal), 2024, 1, 1);
  set_picker(*window, TfrmMain::id(main_layout::DTAl), 2024, 6, 30);
  save_paths = {work.dir() + "vac.xml"};
  win32ui::click(window->item(TfrmMain::id(main_layout::btnVaccinazioni)));
  EXPECT_EQ(window->controller().last_run().outcome, RunOutcome::no_patient);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].style & MB_SYSTEMMODAL);
  EXPECT_EQ(boxes[0].style & MB_ICONMASK, static_cast<UINT>(MB_ICONINFORMATION));
  EXPECT_EQ(view->calls.size(), shown);
  EXPECT_FALSE(fs::exists(work.path() / "vac.xml"));
  EXPECT_EQ(window->status_text(), L"Nessun paziente estratto: nessun file salvato.");
}

// While a run works the status line says so, and the progress dialog, whose title is the
// longest for the vaccinations, shows it whole beside its close box.
TEST_F(WindowTest, WhileARunWorksTheStatusSaysSoAndTheProgressTitleFits) {
  auto window = start({{L"doc", L"pw"}});
  ASSERT_TRUE(window->signed_in());
  host.set_progress_delay(0);
  std::wstring status_while_working, title;
  int title_width = 0, room = 0;
  host.set_progress_hook([&](HWND dialog) {
    status_while_working = window->status_text();
    title = win32ui::text_of(dialog);
    title_width = win32ui::caption_text_width(title);
    ASSERT_GT(title_width, 0);
    RECT client{};
    ::GetClientRect(dialog, &client);
    room = client.right - ::GetSystemMetrics(SM_CXSIZE);  // the close box takes a button's width
  });
  set_picker(*window, TfrmMain::id(main_layout::DTDal), 2024, 1, 1);
  set_picker(*window, TfrmMain::id(main_layout::DTAl), 2024, 12, 31);
  save_paths = {work.dir() + "vac.xml"};
  win32ui::click(window->item(TfrmMain::id(main_layout::btnVaccinazioni)));
  host.set_progress_hook({});
  ASSERT_EQ(window->controller().last_run().outcome, RunOutcome::saved) << window->controller().last_run().message;
  EXPECT_EQ(status_while_working, L"Estrazione in corso\u2026");
  EXPECT_EQ(title, L"Estrazione Vaccinazioni AntiInfluenzali in corso");
  EXPECT_LT(title_width, room);
  EXPECT_EQ(window->status_text(), widen("Salvato: " + work.dir() + "vac.xml – 1 assistito"));
}

// The control that opened a dialog has the focus again once the dialog is gone: after the
// save dialog is cancelled Enter opens it again, and after a run's progress dialog the
// button that started the run is focused.
TEST_F(WindowTest, FocusReturnsToTheControlThatOpenedADialog) {
  auto window = start({{L"doc", L"pw"}});
  ASSERT_TRUE(window->signed_in());
  ::ShowWindow(window->hwnd(), SW_SHOW);
  HWND vaccinazioni = window->item(TfrmMain::id(main_layout::btnVaccinazioni));
  ::SetFocus(vaccinazioni);
  ASSERT_EQ(::GetFocus(), vaccinazioni);
  save_paths = {};
  win32ui::click(vaccinazioni);
  EXPECT_EQ(window->controller().last_run().outcome, RunOutcome::save_dialog_cancelled);
  EXPECT_EQ(::GetFocus(), vaccinazioni);
  MSG enter{window->hwnd(), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
  EXPECT_TRUE(window->preview(enter));
  EXPECT_EQ(file_dialogs.size(), 2u) << "Enter pressed the focused button again";

  HWND calcola = window->item(TfrmMain::id(main_layout::btnCalcola));
  ::SetFocus(calcola);
  host.set_progress_delay(0);
  bool dialog_focused = false;
  host.set_progress_hook([&](HWND dialog) { dialog_focused = dialog_focused || ::IsChild(dialog, ::GetFocus()); });
  save_paths = {work.dir() + "d.xml"};
  win32ui::click(calcola);
  host.set_progress_hook({});
  EXPECT_EQ(window->controller().last_run().outcome, RunOutcome::saved);
  EXPECT_TRUE(dialog_focused) << "the progress dialog had the focus while it was up";
  EXPECT_EQ(::GetFocus(), calcola);
}

// A thread timer's work, once: the window's thread runs it from its message loop.
void CALLBACK fire_timer(HWND, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(nullptr, id);
  if (auto work = std::move(timer_work)) work();
}

// Annulla clicked, or Esc pressed on the progress dialog, between two patients or while a
// call to the records product waits for its answer (the window keeps answering then).
struct AnnullaCase {
  const char* name;
  bool while_waiting;
  bool escape;
};
class AnnullaTest : public WindowTest, public testing::WithParamInterface<AnnullaCase> {};

TEST_P(AnnullaTest, StopsTheRunAndSavesNothing) {
  const bool while_waiting = GetParam().while_waiting;
  const bool escape = GetParam().escape;
  test_support::TempDir hold_dir;
  const std::string hold_file = hold_dir.dir() + "hold";
  // A call that Annulla did not end would fail the run at its limit.
  auto window = start_held(hold_file, "60");
  ASSERT_TRUE(window->signed_in());
  const std::string path = work.dir() + "diabete.xml";
  test_support::write_file(path, "an older report");
  save_paths = {path};
  host.set_progress_delay(0);
  std::vector<std::wstring> labels;
  bool owner_disabled = false;
  bool answered_meanwhile = false;
  bool escape_in_dialog = false;
  // Annulla, or Esc where the keyboard is (the dialog's Annulla) through the window's own
  // message loop.
  const auto stop = [&](HWND dialog) {
    if (!escape) {
      win32ui::click(::GetDlgItem(dialog, Win32Host::progress_annulla_id));
      return;
    }
    HWND focus = ::GetFocus();
    escape_in_dialog = focus && (focus == dialog || ::IsChild(dialog, focus));
    ::PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 0);
    win32ui::pump_pending();
  };
  host.set_progress_hook([&](HWND dialog) {
    labels.push_back(win32ui::text_of(::GetDlgItem(dialog, Win32Host::progress_label_id)));
    owner_disabled = owner_disabled || !::IsWindowEnabled(window->hwnd());
    if (!while_waiting && labels.back().ends_with(L"paziente 1 di 2 selezionati")) {
      stop(dialog);
      labels.push_back(win32ui::text_of(::GetDlgItem(dialog, Win32Host::progress_label_id)));
    }
    if (while_waiting && !timer_work && labels.back().ends_with(L"selezione dei pazienti…")) {
      // The run's calls wait while the hold file exists: Annulla comes while one waits.
      timer_work = [&, dialog] {
        answered_meanwhile = true;
        stop(dialog);
        labels.push_back(win32ui::text_of(::GetDlgItem(dialog, Win32Host::progress_label_id)));
      };
      ::SetTimer(nullptr, 0, 300, fire_timer);
    }
  });
  // Held from the start: the worker cannot answer its first call before Annulla comes.
  if (while_waiting) test_support::write_file(hold_file, "");
  win32ui::click(window->item(TfrmMain::id(main_layout::btnCalcola)));
  host.set_progress_hook({});
  fs::remove(hold_file);

  timer_work = {};
  EXPECT_EQ(window->controller().last_run().outcome, RunOutcome::stopped);
  EXPECT_EQ(answered_meanwhile, while_waiting);
  EXPECT_EQ(escape_in_dialog, escape) << "Esc goes to the progress dialog, which has the focus";
  EXPECT_TRUE(owner_disabled);
  ASSERT_FALSE(labels.empty());
  EXPECT_EQ(labels.front(), L"Estrazione diabete in corso\r\nselezione dei pazienti…");
  EXPECT_EQ(labels.back(), L"Estrazione diabete in corso\r\nAnnullamento in corso…");
  EXPECT_EQ(read_file(path), "an older report");
  EXPECT_TRUE(boxes.empty());
  EXPECT_TRUE(view->calls.empty());
  EXPECT_EQ(window->status_text(), L"Estrazione annullata: nessun file salvato.");
  EXPECT_EQ(host.progress_dialog(), nullptr);
  EXPECT_TRUE(::IsWindowEnabled(window->hwnd()));

  // The next run signs in again and is whole.
  save_paths = {path};
  win32ui::click(window->item(TfrmMain::id(main_layout::btnCalcola)));
  EXPECT_EQ(window->controller().last_run().outcome, RunOutcome::saved) << window->controller().last_run().message;
  EXPECT_EQ(window->controller().last_run().patient_count, 2);
}

INSTANTIATE_TEST_SUITE_P(When, AnnullaTest,
                         testing::Values(AnnullaCase{"BetweenTwoPatients", false, false},
                                         AnnullaCase{"WhileACallWaits", true, false},
                                         AnnullaCase{"EscBetweenTwoPatients", false, true},
                                         AnnullaCase{"EscWhileACallWaits", true, true}),
                         [](const testing::TestParamInfo<AnnullaCase>& info) { return std::string(info.param.name); });

// A patient list that does not come within the limit: the system's box asks over the
// progress dialog, with the run's caption, its buttons named "Attendi ancora" (the default)
// and "Interrompi", each wide enough for its text; the doctor clicks one, presses Enter or
// Esc, or presses Annulla of the progress dialog while waiting longer.
struct SlowAnswerCase {
  const char* name;
  std::vector<const wchar_t*> answers;  ///< L"attendi", L"interrompi" clicked, or L"enter", L"esc"
  bool answer_comes;                    ///< the server answers once asked the first time
  bool annulla;                         ///< Annulla pressed during the longer wait
  std::size_t questions;
  const wchar_t* status;  ///< the start of the status line after the run
};
class SlowAnswerTest : public WindowTest, public testing::WithParamInterface<SlowAnswerCase> {};

// The children of a window whose class is kind, in their order.
std::vector<HWND> children_of_kind(HWND parent, const wchar_t* kind) {
  struct Search {
    const wchar_t* kind;
    std::vector<HWND> found;
  } search{kind, {}};
  ::EnumChildWindows(
      parent,
      [](HWND child, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        wchar_t name[32] = {};
        ::GetClassNameW(child, name, 32);
        if (_wcsicmp(name, s->kind) == 0) s->found.push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The width text takes in button's font.
int text_width(HWND button, const std::wstring& text) {
  HDC dc = ::GetDC(button);
  const HGDIOBJ before = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(button, WM_GETFONT, 0, 0)));
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, before);
  ::ReleaseDC(button, dc);
  return size.cx;
}

TEST_P(SlowAnswerTest, IsTheDoctorsChoice) {
  const SlowAnswerCase& c = GetParam();
  test_support::TempDir hold_dir;
  const std::string hold_file = hold_dir.dir() + "hold";
  auto window = start_held(hold_file, "1");
  ASSERT_TRUE(window->signed_in());
  const std::string path = work.dir() + "diabete.xml";
  test_support::write_file(path, "an older report");
  save_paths = {path};
  host.set_progress_delay(0);
  host.set_progress_hook([&](HWND dialog) {
    // The patient list is asked for next; its answer waits while the file exists.
    const std::wstring label = win32ui::text_of(::GetDlgItem(dialog, Win32Host::progress_label_id));
    if (label.ends_with(L"selezione dei pazienti…") && !fs::exists(hold_file)) test_support::write_file(hold_file, "");
  });
  struct Asked {
    std::wstring caption, text, wait, stop;
    bool over_progress = false, wait_focused = false, fits = false, icon = false;
    std::string widths;  ///< the buttons' widths and their texts', when they do not fit
  };
  std::vector<Asked> asked;
  std::size_t next_answer = 0;
  host.set_question_hook([&](HWND box) {
    Asked a;
    a.caption = win32ui::text_of(box);
    for (HWND label : children_of_kind(box, L"Static")) {
      if (::GetWindowLongW(label, GWL_STYLE) & SS_ICON)
        a.icon = a.icon || ::SendMessageW(label, STM_GETICON, 0, 0) != 0;
      else if (a.text.empty())
        a.text = win32ui::text_of(label);
    }
    HWND wait = ::GetDlgItem(box, IDRETRY);
    HWND stop = ::GetDlgItem(box, IDCANCEL);
    a.wait = win32ui::text_of(wait);
    a.stop = win32ui::text_of(stop);
    a.over_progress = host.progress_dialog() && ::GetWindow(box, GW_OWNER) == host.progress_dialog();
    a.wait_focused = ::GetFocus() == wait;
    const int wait_width = place_of(wait).right - place_of(wait).left;
    const int stop_width = place_of(stop).right - place_of(stop).left;
    a.fits = wait_width > text_width(wait, a.wait) && stop_width > text_width(stop, a.stop);
    a.widths = std::to_string(wait_width) + " for " + std::to_string(text_width(wait, a.wait)) + ", " +
               std::to_string(stop_width) + " for " + std::to_string(text_width(stop, a.stop));
    asked.push_back(a);
    if (c.answer_comes) fs::remove(hold_file);
    if (c.annulla && asked.size() == 1) {
      timer_work = [&] {
        if (HWND dialog = host.progress_dialog()) win32ui::click(::GetDlgItem(dialog, Win32Host::progress_annulla_id));
      };
      ::SetTimer(nullptr, 0, 300, fire_timer);
    }
    const std::wstring how = next_answer < c.answers.size() ? c.answers[next_answer++] : L"interrompi";
    if (how == L"enter" || how == L"esc")
      ::PostMessageW(::GetFocus(), WM_KEYDOWN, how == L"enter" ? VK_RETURN : VK_ESCAPE, 0);
    else
      win32ui::click(how == L"attendi" ? wait : stop);
  });
  win32ui::click(window->item(TfrmMain::id(main_layout::btnCalcola)));
  host.set_progress_hook({});
  host.set_question_hook({});
  fs::remove(hold_file);
  timer_work = {};

  ASSERT_EQ(asked.size(), c.questions);
  for (std::size_t i = 0; i < asked.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(asked[i].caption, L"Estrazione diabete");
    EXPECT_EQ(asked[i].text, i == 0 ? L"Praxilo non risponde da 1 secondo." : L"Praxilo non risponde da 2 secondi.");
    EXPECT_EQ(asked[i].wait, L"Attendi ancora");
    EXPECT_EQ(asked[i].stop, L"Interrompi");
    EXPECT_TRUE(asked[i].over_progress);
    EXPECT_TRUE(asked[i].wait_focused) << "Enter waits";
    EXPECT_TRUE(asked[i].fits) << "each button is wider than its text: " << asked[i].widths;
    EXPECT_TRUE(asked[i].icon);
  }
  EXPECT_EQ(window->status_text().rfind(c.status, 0), 0u) << narrow(window->status_text());
  EXPECT_EQ(host.progress_dialog(), nullptr);
  EXPECT_TRUE(::IsWindowEnabled(window->hwnd()));
  if (window->controller().last_run().outcome == RunOutcome::saved) {
    EXPECT_EQ(window->controller().last_run().patient_count, 2);
    EXPECT_TRUE(boxes.empty());
    return;
  }
  EXPECT_EQ(read_file(path), "an older report");
  if (c.annulla) {
    EXPECT_TRUE(boxes.empty());
  } else {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"Estrazione interrotta: Praxilo non risponde.");
    EXPECT_EQ(boxes[0].caption, L"Estrazione diabete");
  }
  // The next run signs in again and is whole.
  save_paths = {path};
  win32ui::click(window->item(TfrmMain::id(main_layout::btnCalcola)));
  EXPECT_EQ(window->controller().last_run().outcome, RunOutcome::saved) << window->controller().last_run().message;
}

INSTANTIATE_TEST_SUITE_P(
    When, SlowAnswerTest,
    testing::Values(
        SlowAnswerCase{"AttendiAndTheAnswerComes", {L"attendi"}, true, false, 1, L"Salvato: "},
        SlowAnswerCase{"EnterWaitsThenInterrompi",
                       {L"enter", L"interrompi"},
                       false,
                       false,
                       2,
                       L"Nessun file salvato: Estrazione interrotta: Praxilo non risponde."},
        SlowAnswerCase{"EscStops",
                       {L"esc"},
                       false,
                       false,
                       1,
                       L"Nessun file salvato: Estrazione interrotta: Praxilo non risponde."},
        SlowAnswerCase{
            "AnnullaDuringTheLongerWait", {L"attendi"}, false, true, 1, L"Estrazione annullata: nessun file salvato."}),
    [](const testing::TestParamInfo<SlowAnswerCase>& info) { return std::string(info.param.name); });

// The report view keeps its top left corner and takes the rest of the window, down to the
// status line, whatever the window's size.
TEST_F(WindowTest, TheBrowserViewGrowsWithTheWindow) {
  auto window = start({}, [](HWND parent, int id) { return std::make_unique<BrowserReportView>(parent, id); });
  HWND view_window = window->item(TfrmMain::id(main_layout::WebBrowser));
  ASSERT_NE(view_window, nullptr);
  wchar_t name[64] = {};
  ::GetClassNameW(view_window, name, 64);
  EXPECT_STREQ(name, L"PIVZONA12ReportBrowser") << "the system's web browser control could not be made";
  const auto rest_of_window = [&] {
    RECT client{};
    ::GetClientRect(window->hwnd(), &client);
    return RECT{8, 160, client.right - 8, place_of(window->item(TfrmMain::id(main_layout::StatusBar1))).top - 4};
  };
  const RECT before = place_of(view_window);
  EXPECT_TRUE(same(before, rest_of_window()));
  EXPECT_EQ(before.right - before.left, 809);

  ::SetWindowPos(window->hwnd(), nullptr, 0, 0, main_layout::outer_width + 150, main_layout::outer_height + 90,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  const RECT after = place_of(view_window);
  EXPECT_TRUE(same(after, rest_of_window()));
  EXPECT_EQ(after.right - before.right, 150);
  EXPECT_EQ(after.bottom - before.bottom, 90);
}

// Ctrl+P prints the report wherever the focus is in the window; P alone, or with Ctrl and
// Alt (AltGr on an Italian keyboard), does not.
struct PrintKeyCase {
  const char* name;
  bool control;
  bool alt;
  bool prints;
};
void PrintTo(const PrintKeyCase& row, std::ostream* out) { *out << row.name; }

class PrintKeyTest : public WindowTest, public testing::WithParamInterface<PrintKeyCase> {};

TEST_P(PrintKeyTest, OnlyCtrlPPrints) {
  auto window = start({{L"doc", L"pw"}});
  ASSERT_TRUE(window->signed_in());
  ::ShowWindow(window->hwnd(), SW_SHOW);
  HWND focus = window->item(TfrmMain::id(main_layout::btnCalcola));
  ::SetFocus(focus);
  BYTE saved[256] = {};
  ::GetKeyboardState(saved);
  BYTE keys[256];
  std::copy(std::begin(saved), std::end(saved), std::begin(keys));
  keys[VK_CONTROL] = GetParam().control ? 0x80 : 0;
  keys[VK_MENU] = GetParam().alt ? 0x80 : 0;
  ::SetKeyboardState(keys);
  ::PostMessageW(focus, WM_KEYDOWN, 'P', 0);
  win32ui::pump_pending();
  ::SetKeyboardState(saved);
  EXPECT_EQ(view->calls, GetParam().prints ? std::vector<std::string>{"print"} : std::vector<std::string>{});
  EXPECT_TRUE(window->open());
}

INSTANTIATE_TEST_SUITE_P(Keys, PrintKeyTest,
                         testing::Values(PrintKeyCase{"CtrlP", true, false, true},
                                         PrintKeyCase{"P", false, false, false},
                                         PrintKeyCase{"CtrlAltP", true, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The program's own view, end to end: the run's page goes to the browser control, which
// shows none here (no browser engine under Wine), so the panel takes over after the
// time-out with the page's address, and the next run's page goes to the panel.
TEST_F(WindowTest, ARunsPageGoesToThePanelWhenTheControlShowsNone) {
  BrowserReportView* browser_view = nullptr;
  auto window = start({{L"doc", L"pw"}}, [&browser_view](HWND parent, int id) {
    auto made = std::make_unique<BrowserReportView>(parent, id, 1000);
    browser_view = made.get();
    return made;
  });
  ASSERT_TRUE(window->signed_in());
  ASSERT_NE(browser_view->browser_window(), nullptr) << "the system's web browser control could not be made";
  const RECT place = place_of(browser_view->browser_window());

  save_paths = {work.dir() + "diabete.xml"};
  win32ui::click(window->item(TfrmMain::id(main_layout::btnCalcola)));
  ASSERT_EQ(window->controller().last_run().outcome, RunOutcome::saved) << window->controller().last_run().message;
  ASSERT_TRUE(
      window_checks::pump_until([&] { return browser_view->browser_window() == nullptr; }, std::chrono::seconds(15)))
      << "the control showed the page: this system has a browser engine";
  HWND panel = browser_view->panel().panel();
  EXPECT_EQ(window->item(TfrmMain::id(main_layout::WebBrowser)), panel);
  EXPECT_TRUE(shown(panel));
  EXPECT_TRUE(same(place_of(panel), place));
  EXPECT_EQ(browser_view->panel().url(), window->controller().report_url());

  save_paths = {work.dir() + "tao.xml"};
  win32ui::click(window->item(TfrmMain::id(main_layout::btnSalva)));
  ASSERT_EQ(window->controller().last_run().outcome, RunOutcome::saved) << window->controller().last_run().message;
  EXPECT_TRUE(shown(panel));
  EXPECT_EQ(browser_view->panel().url(), window->controller().report_url());
}

}  // namespace
