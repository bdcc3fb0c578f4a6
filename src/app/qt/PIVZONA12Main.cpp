#include "PIVZONA12Main.hpp"

#include <exception>

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDateEdit>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include "app/login.hpp"
#include "appearance.hpp"
#include "formLogin.hpp"
#include "qt_host.hpp"
#include "report_view.hpp"
#include "tools/tools.hpp"

namespace {

constexpr int outer_width = 833;
constexpr int outer_height = 536;
constexpr int outer_left = 589;
constexpr int outer_top = 293;
// The report view keeps its place and takes the rest of the window, down to the status line.
constexpr int view_left = 8;
constexpr int view_top = 160;
constexpr int status_height = 20;
constexpr int view_bottom_gap = 4;

QLineEdit* text_box(QWidget* parent, const char* name, int left, int top) {
  return place_control(new QLineEdit(parent), name, left, top, 161, 21);
}

// A date picker that Tab leaves, as a Windows date picker does; the arrow keys move
// between day, month and year.
class DatePicker : public QDateEdit {
 public:
  using QDateEdit::QDateEdit;

 protected:
  bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
};

QDateEdit* date_picker(QWidget* parent, const char* name, int left, int top) {
  auto* picker = place_control(new DatePicker(parent), name, left, top, 129, 21);
  picker->setCalendarPopup(true);
  picker->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
  return picker;
}

// A button that Enter presses when it has the focus, as on Windows; outside a dialog a Qt
// button answers only to Space.
class Button : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
      event->accept();
      click();
      return;
    }
    QPushButton::keyPressEvent(event);
  }
};

QPushButton* button(QWidget* parent, const char* name, const QString& caption, int top) {
  return place_control(new Button(caption, parent), name, 656, top, 137, 26);
}

// The date of a picker as a date-time at midnight: only the date part reaches a run.
TDateTime picker_date(const QDateEdit* picker) {
  const QDate date = picker->date();
  return tools::encode_date(date.year(), date.month(), date.day());
}

}  // namespace

TfrmMain::TfrmMain(QtHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  create_controls();
  FormCreate();
}

TfrmMain::~TfrmMain() {
  host_.end_progress();
  host_.set_report_view(nullptr);
  // The view goes before the printer that a print in progress may still be using.
  delete WebBrowser;
  host_.set_owner(nullptr);
  session_.reset();
}

void TfrmMain::create_controls() {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Estrazioni ZONA12"));
  setWindowIcon(application_icon());
  setFont(window_font());
  // Until the window manager tells the frame's size, the client area takes the outer size.
  setGeometry(outer_left, outer_top, outer_width, outer_height);

  PraxiLogo = place_control(new QLabel(this), "PraxiLogo", 8, 8, 106, 142);
  PraxiLogo->setPixmap(praxi_logo());

  Label3 = place_label(this, "Label3", QStringLiteral("Nome"), 135, 17);
  edt_NominativoMMG = text_box(this, "edt_NominativoMMG", 241, 10);
  Label1 = place_label(this, "Label1", QStringLiteral("Codice Regionale"), 135, 42);
  edt_CodiceRegionale = text_box(this, "edt_CodiceRegionale", 241, 34);
  Label2 = place_label(this, "Label2", QStringLiteral("Codice fiscale"), 135, 67);
  edt_CodiceFiscaleMMG = text_box(this, "edt_CodiceFiscaleMMG", 241, 59);
  Label4 = place_label(this, "Label4", QStringLiteral("ASL"), 135, 90);
  edt_ASL = text_box(this, "edt_ASL", 241, 83);
  Label5 = place_label(this, "Label5", QStringLiteral("Regione"), 133, 112);
  edt_Regione = place_control(new QLineEdit(this), "edt_Regione", 240, 107, 161, 21);
  edt_Regione->setReadOnly(true);
  Label6 = place_label(this, "Label6", QStringLiteral("Dal"), 432, 10);
  DTDal = date_picker(this, "DTDal", 480, 10);
  Label7 = place_label(this, "Label7", QStringLiteral("Al"), 431, 33);
  DTAl = date_picker(this, "DTAl", 479, 33);
  Label8 = place_label(this, "Label8", QStringLiteral("Distretto"), 414, 64);
  edt_Distretto = text_box(this, "edt_Distretto", 480, 59);

  btnChiudi = button(this, "btnChiudi", QStringLiteral("Chiudi"), 10);
  // The programme table gives the captions.
  const auto caption = [](Programme p) { return QString::fromUtf8(programme_info(p).button_caption); };
  btnCalcola = button(this, "btnCalcola", caption(Programme::diabete), 42);
  btnSalva = button(this, "btnSalva", caption(Programme::tao), 74);
  btnVaccinazioni = button(this, "btnVaccinazioni", caption(Programme::vaccinazioni), 106);

  lblEcho = place_label(this, "lblEcho", QString(), 24, 432);
  WebBrowser = place_control(new ReportView(this), "WebBrowser", view_left, view_top, 809, 321);
  WebBrowser->setFocusPolicy(Qt::StrongFocus);  // in the tab order even before a page is shown

  // What the last run did, on a status line under the report.
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  lblStato = new QLabel(StatusBar1);
  lblStato->setObjectName(QStringLiteral("lblStato"));
  lblStato->setTextFormat(Qt::PlainText);
  StatusBar1->addWidget(lblStato, 1);
  // The controls keep their places: the window is never narrower than its buttons.
  setMinimumSize(656 + 137 + 8, view_top + 100 + status_height);

  // Hidden controls are never shown, and nothing reads or writes them.
  for (QWidget* hidden : std::initializer_list<QWidget*>{Label5, edt_Regione, Label8, edt_Distretto}) hidden->hide();

  tab_order_ = {btnChiudi,
                edt_ASL,
                edt_Distretto,
                DTAl,
                btnCalcola,
                btnSalva,
                edt_CodiceRegionale,
                edt_CodiceFiscaleMMG,
                edt_NominativoMMG,
                edt_Regione,
                DTDal,
                WebBrowser,
                btnVaccinazioni};

  connect(btnChiudi, &QPushButton::clicked, this, &TfrmMain::btnChiudiClick);
  connect(btnCalcola, &QPushButton::clicked, this, &TfrmMain::btnCalcolaClick);
  connect(btnSalva, &QPushButton::clicked, this, &TfrmMain::btnSalvaClick);
  connect(btnVaccinazioni, &QPushButton::clicked, this, &TfrmMain::btnVaccinazioniClick);
  // Esc presses Chiudi, wherever the focus is in the window.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, btnChiudi, &QPushButton::click);
  auto* print = new QShortcut(QKeySequence::Print, this);
  connect(print, &QShortcut::activated, this, &TfrmMain::print_report);
  connect(WebBrowser, &ReportView::print_wanted, this, &TfrmMain::print_report);
  auto printed = [this](bool success) {
    printing_ = false;
    if (!success)
      host_.message_box("Stampa non riuscita.", application_title, platform::mb_ok | platform::mb_iconwarning);
  };
  connect(WebBrowser, &QWebEngineView::printFinished, this, printed);
  connect(WebBrowser, &QWebEngineView::pdfPrintingFinished, this,
          [printed](const QString&, bool success) { printed(success); });

  host_.set_report_view(WebBrowser);
  host_.set_owner(this);
  run_state_.owner = reinterpret_cast<platform::WindowHandle>(this);
}

void TfrmMain::FormCreate() {
  session_ = std::make_unique<Tpx_wrap_praxipat>(Tpx_wrap_praxipat::ObjectFactory{}, host_);
  run_state_.report_url.clear();

  auto frmLogin = std::make_unique<TfrmLogin>(this, host_);
  frmLogin->set_session(session_.get());
  if (frmLogin->exec() != QDialog::Accepted) return;  // the caller ends the process

  btnCalcola->setEnabled(true);
  btnSalva->setEnabled(true);
  patient_count_ = 0;
  const QDate today = QDate::currentDate();
  DTDal->setDate(today.addDays(-365));
  DTAl->setDate(today);

  user_ = frmLogin->take_user();
  frmLogin.reset();

  edt_CodiceFiscaleMMG->setText(QString::fromStdString(user_->get_codice_fiscale()));
  edt_CodiceRegionale->setText(QString::fromStdString(user_->get_codice_regionale()));
  edt_NominativoMMG->setText(QString::fromStdString(user_->get_nome() + " " + user_->get_cognome()));
  edt_ASL->setText(QString::fromStdString(user_->get_asl_di_convenzione()));

  // The option's value is not used: reading it is part of the start-up conversation.
  session_->get_opzione("macchina", "OPZIONI\\regione");
  btnChiudi->setFocus();
}

void TfrmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (placed_) return;
  placed_ = true;
  // Once the frame is known, the outer size (frame included) becomes 833 x 536.
  QTimer::singleShot(0, this, [this] {
    const QSize frame = frameGeometry().size() - geometry().size();
    if (frame.width() > 0 || frame.height() > 0) {
      resize(outer_width - frame.width(), outer_height - frame.height());
      move(outer_left, outer_top);
    }
  });
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  StatusBar1->setGeometry(0, height() - status_height, width(), status_height);
  WebBrowser->setGeometry(view_left, view_top, width() - 2 * view_left,
                          height() - view_top - status_height - view_bottom_gap);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  // A run owns the session and the document until it returns.
  if (running_) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

bool TfrmMain::focusNextPrevChild(bool next) {
  // Tab follows tab_order_ itself: the report view and the date pickers are made of inner
  // widgets that a focus chain built with setTabOrder does not keep in place.
  const QWidget* focus = QApplication::focusWidget();
  const int count = static_cast<int>(tab_order_.size());
  int current = -1;
  for (int i = 0; i < count && current < 0; ++i)
    if (tab_order_[i] == focus || tab_order_[i]->isAncestorOf(focus)) current = i;
  if (current < 0) return QWidget::focusNextPrevChild(next);
  for (int step = 1; step < count; ++step) {
    QWidget* candidate = tab_order_[(current + (next ? step : count - step)) % count];
    if (candidate->isVisible() && candidate->isEnabled() && (candidate->focusPolicy() & Qt::TabFocus)) {
      candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
      return true;
    }
  }
  return false;
}

void TfrmMain::btnChiudiClick() { close(); }
void TfrmMain::btnCalcolaClick() { run(Programme::diabete); }
void TfrmMain::btnSalvaClick() { run(Programme::tao); }
void TfrmMain::btnVaccinazioniClick() { run(Programme::vaccinazioni); }

void TfrmMain::run(Programme programme) {
  if (running_ || !session_ || !user_) return;
  running_ = true;
  host_.begin_run(programme);
  ExtractionContext context{*session_, *user_, XMLDoc, picker_date(DTDal), picker_date(DTAl), 0, host_};
  RunResult result;
  std::string error;
  bool raised = false;
  // The run works on a thread of its own: the window keeps answering while the records
  // product does, and the host brings every dialog and the view back to this thread.
  QEventLoop loop;
  QThread* worker = QThread::create([&] {
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
  connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
  worker->start();
  loop.exec();
  if (!worker->isFinished()) {
    // The application is quitting, which ends every event loop: the run is asked to stop,
    // and its calls to this thread are still answered until it has.
    host_.request_cancel();
    while (!worker->wait(QDeadlineTimer(20))) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  delete worker;

  if (raised) {
    // Nothing may escape an event handler; the run has saved nothing.
    result = RunResult{};
    result.outcome = RunOutcome::failed;
    result.message = error;
    host_.message_box(error, application_title, platform::mb_ok | platform::mb_iconerror);
  }
  // A stopped run may have left the records product in the middle of a query: its session
  // ends here, and the next run signs in again with the same credentials.
  if (result.outcome == RunOutcome::stopped) session_->termina_sessione();
  last_run_ = result;
  patient_count_ = context.patient_count;
  host_.end_progress();
  set_status(QString::fromStdString(run_summary(result)));
  running_ = false;
}

void TfrmMain::set_status(const QString& text) {
  lblStato->setText(text);
  lblStato->setToolTip(text);
}

void TfrmMain::print_report() {
  if (printing_ || running_ || run_state_.report_url.empty()) return;
  if (!printer_) {
    printer_ = std::make_unique<QPrinter>(QPrinter::PrinterResolution);
    // A printer receives each page as a picture: 300 dpi is sharp on paper and keeps a
    // long report's pictures small enough.
    printer_->setResolution(300);
    printer_->setPageSize(QPageSize(QPageSize::A4));
    printer_->setDocName(QStringLiteral("ZONA12"));
  }
  QPrintDialog dialog(printer_.get(), this);
  dialog.setObjectName(QStringLiteral("frmStampa"));
  if (host_.exec_dialog(dialog) != QDialog::Accepted) return;
  printing_ = true;
  // To a PDF file the page goes as it is, text and lines, instead of a picture per page.
  if (printer_->outputFormat() == QPrinter::PdfFormat && !printer_->outputFileName().isEmpty())
    WebBrowser->printToPdf(printer_->outputFileName(), printer_->pageLayout(), printer_->pageRanges());
  else
    WebBrowser->print(printer_.get());
}
