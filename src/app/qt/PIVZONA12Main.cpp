#include "PIVZONA12Main.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QWebEngineView>
#include <exception>

#include "app/login.hpp"
#include "appearance.hpp"
#include "formLogin.hpp"
#include "qt_host.hpp"
#include "tools/tools.hpp"

namespace {

constexpr int outer_width = 833;
constexpr int outer_height = 536;
constexpr int outer_left = 589;
constexpr int outer_top = 293;

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

QPushButton* button(QWidget* parent, const char* name, const QString& caption, int top) {
  return place_control(new QPushButton(caption, parent), name, 656, top, 137, 26);
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
  WebBrowser = place_control(new QWebEngineView(this), "WebBrowser", 8, 160, 809, 321);
  WebBrowser->setFocusPolicy(Qt::StrongFocus);  // in the tab order even before a page is shown

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
  ExtractionContext context{*session_, *user_, XMLDoc, picker_date(DTDal), picker_date(DTAl), 0, host_};
  try {
    last_run_ = run_extraction(programme, context, run_state_);
  } catch (const std::exception& error) {
    // Nothing may escape an event handler; the run has saved nothing.
    last_run_ = RunResult{};
    last_run_.outcome = RunOutcome::failed;
    last_run_.message = error.what();
    host_.message_box(error.what(), application_title, platform::mb_ok);
  }
  patient_count_ = context.patient_count;
  host_.end_progress();
  running_ = false;
}
