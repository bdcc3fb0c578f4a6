#pragma once
// The main window (Win32): draws the controls of the shared layout and shows the system's
// dialogs; the controller signs the doctor in while the window is created, runs the
// programmes and writes the status line.
#include <functional>
#include <memory>
#include <string>

#include "app/main_controller.hpp"
#include "app/main_layout.hpp"
#include "report_view.hpp"
#include "window.hpp"
#include "xml/xmldoc.hpp"

class Win32Host;

class TfrmMain : public win32ui::Window, public MainView {
 public:
  /// The child window id of a control of the layout.
  static constexpr int id(main_layout::Control control) { return 10 + control; }
  /// "Apri cartella" at the right of the status line: outside the shared layout, as it
  /// moves with the window's width.
  static constexpr int id_btnApriCartella = 9;

  /// Makes the report view in the window (parent) as the child id, at its place in the
  /// tab order.
  using ViewMaker = std::function<std::unique_ptr<ReportView>(HWND parent, int id)>;

  /// Creates the window (not shown) and runs the start-up with its modal sign-in before
  /// returning. When the sign-in is cancelled signed_in() is false. make_view: the report
  /// view's maker (empty: the system's browser control).
  explicit TfrmMain(Win32Host& host, ViewMaker make_view = {});
  ~TfrmMain() override;

  bool signed_in() const { return controller_->signed_in(); }
  /// False once the window has been closed.
  bool open() const { return hwnd_ != nullptr; }
  MainController& controller() { return *controller_; }
  const MainController& controller() const { return *controller_; }
  /// The status line's text.
  std::wstring status_text() const;

  bool preview(MSG& message) override;

  /// The date picker that shows the focus mark (its id), 0 when none does.
  int marked_picker() const { return marked_picker_; }
  /// Where the focus mark is drawn, in the window's client coordinates (empty when none).
  RECT focus_mark() const;

 protected:
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  void create_controls(const ViewMaker& make_view);
  void place_view();
  /// Moves every control to its place at the window's dpi, with that dpi's font.
  void layout_controls();
  /// Marks the date picker picker (its id; 0: none) as the one with the focus.
  void mark_focused_picker(int picker);
  void paint_focus_mark(HDC dc) const;
  /// Ends the session, which ends the connection with the records product.
  void end_session();

  // MainView
  void run_sign_in() override;
  void enable_runs() override;
  void set_range(const DateRange& range) override;
  DateRange range() const override;
  void show_doctor(const DoctorFields& doctor) override;
  void focus_first_control() override;
  void set_status(const std::string& text) override;
  void enable_open_folder(bool enabled) override;
  /// The status line's menu: "Copia percorso" (the saved report's path to the clipboard)
  /// and "Apri cartella", both once a report was saved.
  void status_menu(POINT at);

  Win32Host& host_;
  std::unique_ptr<ReportView> view_;
  std::unique_ptr<MainController> controller_;
  bool folder_available_ = false;
  int marked_picker_ = 0;
};
