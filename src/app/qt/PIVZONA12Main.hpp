#pragma once
// The main window: signs the doctor in while it is created, shows the doctor's data and
// the date range, runs the three programmes' extractions and shows their reports.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QWidget>

#include "extract/programmes.hpp"
#include "extract/run.hpp"
#include "records/TUser.hpp"
#include "records/px_wrap_praxipat.hpp"
#include "xml/xmldoc.hpp"

class QDateEdit;
class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;
class QStatusBar;
class QtHost;
class ReportView;

class TfrmMain : public QWidget {
  Q_OBJECT

 public:
  /// Creates the session and runs the modal sign-in before returning. When the sign-in is
  /// cancelled nothing else is set up and signed_in() is false: the caller ends the
  /// process without showing the window. host must outlive the window.
  explicit TfrmMain(QtHost& host, QWidget* parent = nullptr);
  /// Frees the session, which ends the connection with the records product.
  ~TfrmMain() override;

  bool signed_in() const { return user_ != nullptr; }

  Tpx_wrap_praxipat* get_session() const { return session_.get(); }
  void set_session(std::unique_ptr<Tpx_wrap_praxipat> session) { session_ = std::move(session); }
  const TUser* get_user() const { return user_.get(); }
  void set_user(std::unique_ptr<TUser> user) { user_ = std::move(user); }

  /// The patients written by the last run.
  std::int32_t patient_count() const { return patient_count_; }
  /// The address of the report shown; "" until a run has shown one.
  const std::string& report_url() const { return run_state_.report_url; }
  /// What the last run did.
  const RunResult& last_run() const { return last_run_; }

 public slots:
  /// Prints the report shown, after the print dialog (a printer or a PDF file); Ctrl+P
  /// and the view's "Stampa…". Does nothing before a report is shown or while printing.
  void print_report();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void resizeEvent(QResizeEvent* event) override;

 private slots:
  void btnChiudiClick();
  void btnCalcolaClick();
  void btnSalvaClick();
  void btnVaccinazioniClick();

 private:
  void create_controls();
  void FormCreate();
  void run(Programme programme);
  void set_status(const QString& text);

  QtHost& host_;
  std::unique_ptr<Tpx_wrap_praxipat> session_;
  std::unique_ptr<TUser> user_;
  std::int32_t patient_count_ = 0;
  RunState run_state_;
  RunResult last_run_;
  bool running_ = false;
  bool printing_ = false;
  std::unique_ptr<QPrinter> printer_;
  bool placed_ = false;
  platform::XmlDocument XMLDoc;
  std::vector<QWidget*> tab_order_;

  QLabel* PraxiLogo;
  QLabel* Label3;
  QLineEdit* edt_NominativoMMG;
  QLabel* Label1;
  QLineEdit* edt_CodiceRegionale;
  QLabel* Label2;
  QLineEdit* edt_CodiceFiscaleMMG;
  QLabel* Label4;
  QLineEdit* edt_ASL;
  QLabel* Label5;
  QLineEdit* edt_Regione;
  QLabel* Label6;
  QDateEdit* DTDal;
  QLabel* Label7;
  QDateEdit* DTAl;
  QLabel* Label8;
  QLineEdit* edt_Distretto;
  QPushButton* btnChiudi;
  QPushButton* btnCalcola;
  QPushButton* btnSalva;
  QPushButton* btnVaccinazioni;
  QLabel* lblEcho;
  ReportView* WebBrowser;
  QStatusBar* StatusBar1;
  QLabel* lblStato;
};
