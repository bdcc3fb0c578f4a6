#pragma once
// The main window (Qt): draws the controls of the shared layout and shows Qt's dialogs; the
// controller signs the doctor in while the window is created, runs the programmes and
// writes the status line.
#include <array>
#include <memory>
#include <string>

#include <QWidget>

#include "app/main_controller.hpp"
#include "app/main_layout.hpp"
#include "report_printer.hpp"

class FindBar;
class QDateEdit;
class QLabel;
class QPrinter;
class QPushButton;
class QtHost;
class ReportView;

class TfrmMain : public QWidget, public MainView {
  Q_OBJECT

 public:
  /// Makes the controls and runs the start-up with its modal sign-in before returning.
  /// When the sign-in is cancelled signed_in() is false: the caller ends the process
  /// without showing the window. host must outlive the window.
  explicit TfrmMain(QtHost& host, QWidget* parent = nullptr);
  /// Ends the session, which ends the connection with the records product.
  ~TfrmMain() override;

  bool signed_in() const { return controller_->signed_in(); }
  MainController& controller() { return *controller_; }
  const MainController& controller() const { return *controller_; }
  /// The print of the report; its progress dialog while it prints.
  ReportPrinter& report_printer() { return *printer_job_; }

 public slots:
  /// Prints the report shown, after the print dialog (a printer or a PDF file); Ctrl+P
  /// and the view's "Stampa…". Does nothing before a report is shown or while printing.
  void print_report();
  /// Opens the find bar under the report view; Ctrl+F and the view's "Trova…". Does
  /// nothing before a report is shown or while a run rewrites it.
  void find_in_report();

 signals:
  /// A print started by print_report ended (a failure was already told in a message box).
  void printed(ReportPrinter::Outcome outcome);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void create_controls();
  QWidget* widget(main_layout::Control control) const { return widgets_[control]; }
  QDateEdit* picker(main_layout::Control control) const;
  /// Places the report view, and the find bar under it when shown, above the status line.
  void place_view();

  // MainView
  void run_sign_in() override;
  void enable_runs() override;
  void set_range(const DateRange& range) override;
  DateRange range() const override;
  void show_doctor(const DoctorFields& doctor) override;
  void focus_first_control() override;
  void set_status(const std::string& text) override;
  void enable_open_folder(bool enabled) override;

  QtHost& host_;
  std::unique_ptr<MainController> controller_;
  ReportPrinter* printer_job_ = nullptr;
  std::unique_ptr<QPrinter> printer_;
  bool placed_ = false;
  std::array<QWidget*, main_layout::control_count> widgets_{};
  ReportView* view_ = nullptr;
  FindBar* find_bar_ = nullptr;
  QLabel* lblStato = nullptr;
  QPushButton* btnApriCartella = nullptr;
};
