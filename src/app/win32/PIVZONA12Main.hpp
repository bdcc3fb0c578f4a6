#pragma once
// The main window: signs the doctor in while it is created, shows the doctor's data and
// the date range, runs the three programmes' extractions and shows their reports.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "automation_thread.hpp"
#include "extract/programmes.hpp"
#include "extract/run.hpp"
#include "records/TUser.hpp"
#include "records/px_wrap_praxipat.hpp"
#include "report_view.hpp"
#include "window.hpp"
#include "xml/xmldoc.hpp"

class Win32Host;

class TfrmMain : public win32ui::Window {
 public:
  enum Control {
    id_PraxiLogo = 10,
    id_Label3,
    id_edt_NominativoMMG,
    id_Label1,
    id_edt_CodiceRegionale,
    id_Label2,
    id_edt_CodiceFiscaleMMG,
    id_Label4,
    id_edt_ASL,
    id_Label5,
    id_edt_Regione,
    id_Label6,
    id_DTDal,
    id_Label7,
    id_DTAl,
    id_Label8,
    id_edt_Distretto,
    id_btnChiudi,
    id_btnCalcola,
    id_btnSalva,
    id_btnVaccinazioni,
    id_lblEcho,
    id_WebBrowser,
    id_StatusBar1
  };
  static constexpr int outer_width = 833;
  static constexpr int outer_height = 536;
  static constexpr int outer_left = 589;
  static constexpr int outer_top = 293;

  /// Makes the report view in the window (parent) as the child id, at its place in the
  /// tab order.
  using ViewMaker = std::function<std::unique_ptr<ReportView>(HWND parent, int id)>;

  /// Creates the window (not shown) and the session, and runs the modal sign-in before
  /// returning. When the sign-in is cancelled nothing else is set up and signed_in() is
  /// false. make_view: the report view's maker (empty: the system's browser control).
  explicit TfrmMain(Win32Host& host, ViewMaker make_view = {});
  ~TfrmMain() override;

  bool signed_in() const { return user_ != nullptr; }
  /// False once the window has been closed.
  bool open() const { return hwnd_ != nullptr; }

  Tpx_wrap_praxipat* get_session() const { return session_.get(); }
  const TUser* get_user() const { return user_.get(); }
  std::int32_t patient_count() const { return patient_count_; }
  const std::string& report_url() const { return run_state_.report_url; }
  const RunResult& last_run() const { return last_run_; }
  /// The status line's text.
  std::wstring status_text() const;

  bool preview(MSG& message) override;

 protected:
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  void create_controls(const ViewMaker& make_view);
  void FormCreate();
  void run(Programme programme);
  void place_view();
  /// Frees the session on its thread, which ends the connection with the records product.
  void end_session();

  Win32Host& host_;
  std::unique_ptr<ReportView> view_;
  /// Makes, uses and frees the session; outlives it.
  AutomationThread automation_;
  std::unique_ptr<Tpx_wrap_praxipat> session_;
  std::unique_ptr<TUser> user_;
  std::int32_t patient_count_ = 0;
  RunState run_state_;
  RunResult last_run_;
  bool running_ = false;
  platform::XmlDocument XMLDoc;
};
