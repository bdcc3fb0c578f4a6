#include "PIVZONA12Main.hpp"

#include <commctrl.h>
#include <oleauto.h>

#include <cmath>
#include <exception>

#include "app/login.hpp"
#include "appearance.hpp"
#include "formLogin.hpp"
#include "platform/win_text.hpp"
#include "tools/tools.hpp"
#include "win32_host.hpp"

namespace {

using platform::win::widen;

constexpr int view_left = 8;
constexpr int view_top = 160;
constexpr int view_bottom_gap = 4;

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
  create(WS_EX_CONTROLPARENT, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, L"Estrazioni ZONA12", outer_left, outer_top,
         outer_width, outer_height, nullptr);
  create_controls(make_view);
  FormCreate();
}

TfrmMain::~TfrmMain() {
  host_.end_progress();
  host_.set_report_view(nullptr);
  host_.set_owner(nullptr);
  end_session();
}

void TfrmMain::end_session() {
  if (session_) automation_.run([this] { session_.reset(); });
}

void TfrmMain::create_controls(const ViewMaker& make_view) {
  ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(win32ui::application_icon(16)));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(win32ui::application_icon(32)));
  const DWORD edit = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
  const auto caption = [](Programme p) { return widen(programme_info(p).button_caption); };
  // The tab order is the order of creation; hidden controls are made without WS_VISIBLE.
  control(L"BUTTON", L"Chiudi", WS_TABSTOP, id_btnChiudi, 656, 10, 137, 26);
  control(L"EDIT", L"", edit, id_edt_ASL, 241, 83, 161, 21);
  control(L"EDIT", L"", edit, id_edt_Distretto, 480, 59, 161, 21);
  HWND to = control(DATETIMEPICK_CLASSW, L"", WS_TABSTOP | DTS_SHORTDATEFORMAT, id_DTAl, 479, 33, 129, 21);
  control(L"BUTTON", caption(Programme::diabete), WS_TABSTOP, id_btnCalcola, 656, 42, 137, 26);
  control(L"BUTTON", caption(Programme::tao), WS_TABSTOP, id_btnSalva, 656, 74, 137, 26);
  control(L"EDIT", L"", edit, id_edt_CodiceRegionale, 241, 34, 161, 21);
  control(L"EDIT", L"", edit, id_edt_CodiceFiscaleMMG, 241, 59, 161, 21);
  control(L"EDIT", L"", edit, id_edt_NominativoMMG, 241, 10, 161, 21);
  control(L"EDIT", L"", edit | ES_READONLY, id_edt_Regione, 240, 107, 161, 21);
  HWND from = control(DATETIMEPICK_CLASSW, L"", WS_TABSTOP | DTS_SHORTDATEFORMAT, id_DTDal, 480, 10, 129, 21);
  view_ = make_view ? make_view(hwnd_, id_WebBrowser) : std::make_unique<BrowserReportView>(hwnd_, id_WebBrowser);
  control(L"BUTTON", caption(Programme::vaccinazioni), WS_TABSTOP, id_btnVaccinazioni, 656, 106, 137, 26);
  for (HWND picker : {from, to}) ::SendMessageW(picker, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(L"dd/MM/yyyy"));

  control(win32ui::logo_class(), L"", 0, id_PraxiLogo, 8, 8, 106, 142);
  label(L"Nome", id_Label3, 135, 17);
  label(L"Codice Regionale", id_Label1, 135, 42);
  label(L"Codice fiscale", id_Label2, 135, 67);
  label(L"ASL", id_Label4, 135, 90);
  label(L"Regione", id_Label5, 133, 112);
  label(L"Dal", id_Label6, 432, 10);
  label(L"Al", id_Label7, 431, 33);
  label(L"Distretto", id_Label8, 414, 64);
  label(L"", id_lblEcho, 24, 432);
  // What the last run did, on a status line under the report.
  control(STATUSCLASSNAMEW, L"", SBARS_TOOLTIPS, id_StatusBar1, 0, 0, 0, 0);

  // Hidden controls are never shown, and nothing reads or writes them.
  for (int hidden : {id_Label5, id_edt_Regione, id_Label8, id_edt_Distretto}) ::ShowWindow(item(hidden), SW_HIDE);

  place_view();
  host_.set_report_view(view_.get());
  host_.set_owner(hwnd_);
  run_state_.owner = reinterpret_cast<platform::WindowHandle>(hwnd_);
}

void TfrmMain::FormCreate() {
  automation_.run(
      [this] { session_ = std::make_unique<Tpx_wrap_praxipat>(Tpx_wrap_praxipat::ObjectFactory{}, host_); });
  run_state_.report_url.clear();

  std::unique_ptr<TUser> user;
  {
    TfrmLogin frmLogin(hwnd_, host_);
    frmLogin.set_session(session_.get(), &automation_);
    if (!frmLogin.show_modal()) return;  // the caller ends the process
    user = frmLogin.take_user();
  }
  if (!user) return;

  ::EnableWindow(item(id_btnCalcola), TRUE);
  ::EnableWindow(item(id_btnSalva), TRUE);
  patient_count_ = 0;
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  double today = 0;
  ::SystemTimeToVariantTime(&now, &today);
  today = std::floor(today);
  set_picker_date(item(id_DTDal), today - 365);
  set_picker_date(item(id_DTAl), today);

  user_ = std::move(user);
  ::SetWindowTextW(item(id_edt_CodiceFiscaleMMG), widen(user_->get_codice_fiscale()).c_str());
  ::SetWindowTextW(item(id_edt_CodiceRegionale), widen(user_->get_codice_regionale()).c_str());
  ::SetWindowTextW(item(id_edt_NominativoMMG), widen(user_->get_nome() + " " + user_->get_cognome()).c_str());
  ::SetWindowTextW(item(id_edt_ASL), widen(user_->get_asl_di_convenzione()).c_str());

  // The option's value is not used: reading it is part of the start-up conversation.
  automation_.run([this] { session_->get_opzione("macchina", "OPZIONI\\regione"); });
  ::SetFocus(item(id_btnChiudi));
}

std::wstring TfrmMain::status_text() const {
  HWND status = item(id_StatusBar1);
  const auto length = LOWORD(::SendMessageW(status, SB_GETTEXTLENGTHW, 0, 0));
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  ::SendMessageW(status, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text.data()));
  text.resize(length);
  return text;
}

bool TfrmMain::preview(MSG& message) {
  if (message.message == WM_KEYDOWN) {
    // Esc presses Chiudi, wherever the focus is in the window.
    if (message.wParam == VK_ESCAPE) {
      win32ui::click(item(id_btnChiudi));
      return true;
    }
    // Ctrl+P prints the report; not while a run is rewriting it. Ctrl+Alt is AltGr.
    if (message.wParam == 'P' && ::GetKeyState(VK_CONTROL) < 0 && ::GetKeyState(VK_MENU) >= 0) {
      if (!running_ && view_) view_->print();
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
  HWND status = item(id_StatusBar1);
  ::SendMessageW(status, WM_SIZE, 0, 0);
  RECT bar{};
  ::GetWindowRect(status, &bar);
  const int status_height = bar.bottom - bar.top;
  // The view keeps its place and takes the rest of the window, down to the status line.
  const int width = std::max(0L, client.right - 2 * view_left);
  const int height = std::max(0L, client.bottom - view_top - status_height - view_bottom_gap);
  if (view_) view_->place(view_left, view_top, width, height);
}

LRESULT TfrmMain::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_SIZE:
      place_view();
      return 0;
    case WM_GETMINMAXINFO: {
      // The controls keep their places: the window is never narrower than its buttons.
      auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
      info->ptMinTrackSize.x = 656 + 137 + 8 + 16;
      info->ptMinTrackSize.y = view_top + 160;
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
        switch (LOWORD(wparam)) {
          case id_btnChiudi:
            ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
            return 0;
          case id_btnCalcola:
            run(Programme::diabete);
            return 0;
          case id_btnSalva:
            run(Programme::tao);
            return 0;
          case id_btnVaccinazioni:
            run(Programme::vaccinazioni);
            return 0;
          default:
            break;
        }
      }
      break;
    case WM_CLOSE:
      // A run owns the session and the document until it returns.
      if (running_) return 0;
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

void TfrmMain::run(Programme programme) {
  if (running_ || !session_ || !user_) return;
  running_ = true;
  host_.begin_run(programme);
  ExtractionContext context{*session_, *user_, XMLDoc, picker_date(item(id_DTDal)), picker_date(item(id_DTAl)),
                            0,         host_};
  RunResult result;
  std::string error;
  bool raised = false;
  // The run works on the session's thread: the window keeps answering while the records
  // product does, and the host brings every dialog and the view back to this thread.
  automation_.run([&] {
    try {
      result = run_extraction(programme, context, run_state_);
    } catch (const std::exception& failure) {
      raised = true;
      error = failure.what();
    } catch (...) {
      raised = true;
      error = "errore sconosciuto";
    }
  });

  if (raised) {
    // Nothing may escape a message handler; the run has saved nothing.
    result = RunResult{};
    result.outcome = RunOutcome::failed;
    result.message = error;
    host_.message_box(error, application_title, platform::mb_ok | platform::mb_iconerror);
  }
  // A stopped run may have left the records product in the middle of a query: its session
  // ends here, and the next run signs in again with the same credentials.
  if (result.outcome == RunOutcome::stopped) automation_.run([this] { session_->termina_sessione(); });
  last_run_ = result;
  patient_count_ = context.patient_count;
  host_.end_progress();
  const std::wstring summary = widen(run_summary(result));
  ::SendMessageW(item(id_StatusBar1), SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(summary.c_str()));
  running_ = false;
}
