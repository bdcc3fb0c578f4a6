#include "PIVZONA12Main.hpp"

#include <cmath>
#include <initializer_list>

#include <QApplication>
#include <QCalendarWidget>
#include <QCloseEvent>
#include <QDate>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>

#include "app/login.hpp"
#include "appearance.hpp"
#include "find_bar.hpp"
#include "formLogin.hpp"
#include "qt_host.hpp"
#include "report_printer.hpp"
#include "report_view.hpp"
#include "tools/tools.hpp"

namespace {

using namespace main_layout;

constexpr int status_height = 20;

// A date picker that Tab leaves, as a Windows date picker does; the arrow keys move
// between day, month and year. Focus, by a click or by Tab, selects the day, so that a
// date typed at once ("05122025", "5/12/2025") replaces the one shown.
class DatePicker : public QDateEdit {
 public:
  using QDateEdit::QDateEdit;

 protected:
  bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
  void focusInEvent(QFocusEvent* event) override {
    QDateEdit::focusInEvent(event);
    select_day();
    // A click that gives the focus places the cursor after this: its release selects again.
    select_on_release_ = event->reason() == Qt::MouseFocusReason;
  }
  void keyPressEvent(QKeyEvent* event) override {
    const QString typed = event->text();
    const bool digit = typed.size() == 1 && typed[0].isDigit();
    const bool separator = typed == QStringLiteral("/") || typed == QStringLiteral(".") || typed == QStringLiteral("-");
    if (separator) {
      // After a day or a month of one digit it goes on to the next part; after a part
      // typed whole the picker has gone on by itself, and the separator is spent.
      event->accept();
      if (typed_in_ == currentSection() && currentSection() != QDateTimeEdit::YearSection) {
        const Section next =
            currentSection() == QDateTimeEdit::DaySection ? QDateTimeEdit::MonthSection : QDateTimeEdit::YearSection;
        setCurrentSection(next);
        setSelectedSection(next);
      }
      typed_in_ = QDateTimeEdit::NoSection;
      return;
    }
    typed_in_ = digit ? currentSection() : QDateTimeEdit::NoSection;
    QDateEdit::keyPressEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    QDateEdit::mouseReleaseEvent(event);
    if (select_on_release_ && !calendarWidget()->isVisible()) select_day();
    select_on_release_ = false;
  }

 private:
  void select_day() {
    setCurrentSection(QDateTimeEdit::DaySection);
    setSelectedSection(QDateTimeEdit::DaySection);
  }
  bool select_on_release_ = false;
  Section typed_in_ = QDateTimeEdit::NoSection;  ///< the part the last digit went to
};

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

// The day 1899-12-30 of the date-times, from which they count days.
const QDate day_zero(1899, 12, 30);

}  // namespace

TfrmMain::TfrmMain(QtHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  create_controls();
  controller_ = std::make_unique<MainController>(host_, *this);
  controller_->set_owner(reinterpret_cast<frontend::WindowHandle>(this));
  controller_->start();
}

TfrmMain::~TfrmMain() {
  host_.end_progress();
  // The session ends first: its end waits for the session thread, handling the window's
  // events meanwhile, which still find every control.
  controller_->end_session();
  host_.set_report_view(nullptr);
  // A print in progress stops before the view and the printer go.
  delete printer_job_;
  printer_job_ = nullptr;
  delete view_;
  view_ = nullptr;
  widgets_[main_layout::WebBrowser] = nullptr;
  host_.set_owner(nullptr);
  controller_.reset();
}

void TfrmMain::create_controls() {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QString::fromUtf8(main_layout::title));
  setWindowIcon(application_icon());
  setFont(window_font());
  // Until the window manager tells the frame's size, the client area takes the outer size.
  setGeometry(outer_left, outer_top, outer_width, outer_height);

  for (const ControlEntry& c : controls()) {
    const QString text = QString::fromStdString(text_of(c));
    QWidget* made = nullptr;
    switch (c.kind) {
      case Kind::logo: {
        auto* logo = new QLabel(this);
        logo->setPixmap(praxi_logo());
        made = logo;
        break;
      }
      case Kind::label:
        made = place_label(this, c.name, text, c.left, c.top);
        break;
      case Kind::text_box:
      case Kind::read_only_box: {
        auto* box = new QLineEdit(this);
        box->setReadOnly(c.kind == Kind::read_only_box);
        made = box;
        break;
      }
      case Kind::date_picker: {
        auto* picker = new DatePicker(this);
        picker->setCalendarPopup(true);
        picker->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
        made = picker;
        break;
      }
      case Kind::button: {
        auto* button = new Button(text, this);
        const auto runs = c.runs;
        if (runs)
          connect(button, &QPushButton::clicked, this, [this, runs] { controller_->run(*runs); });
        else
          connect(button, &QPushButton::clicked, this, &QWidget::close);
        made = button;
        break;
      }
      case Kind::report_view:
        view_ = new ReportView(this);
        view_->setFocusPolicy(Qt::StrongFocus);  // in the tab order even before a page is shown
        made = view_;
        break;
      case Kind::status_line: {
        auto* status = new QStatusBar(this);
        status->setSizeGripEnabled(false);
        lblStato = new QLabel(status);
        lblStato->setObjectName(QStringLiteral("lblStato"));
        lblStato->setTextFormat(Qt::PlainText);
        // The saved report's path can be selected and copied (its context menu: "Copia").
        lblStato->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        status->addWidget(lblStato, 1);
        btnApriCartella = new QPushButton(QString::fromUtf8(action_open_folder), status);
        btnApriCartella->setObjectName(QStringLiteral("btnApriCartella"));
        btnApriCartella->setFixedHeight(status_height - 2);
        btnApriCartella->setEnabled(false);  // until a report is saved
        connect(btnApriCartella, &QPushButton::clicked, this, [this] { controller_->open_saved_folder(); });
        status->addPermanentWidget(btnApriCartella);
        made = status;
        break;
      }
    }
    if (c.kind != Kind::label) {
      made->setObjectName(QString::fromLatin1(c.name));
      if (c.kind != Kind::status_line) made->setGeometry(c.left, c.top, c.width, c.height);
    }
    // Hidden controls are never shown, and nothing reads or writes them.
    if (c.hidden) made->hide();
    widgets_[c.control] = made;
  }
  // The controls keep their places: the window is never narrower than its buttons.
  setMinimumSize(min_client_width, view_top + 100 + status_height);

  // Esc presses Chiudi, wherever the focus is in the window.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, static_cast<QPushButton*>(widget(btnChiudi)), &QPushButton::click);
  auto* print = new QShortcut(QKeySequence::Print, this);
  connect(print, &QShortcut::activated, this, &TfrmMain::print_report);
  connect(view_, &ReportView::print_wanted, this, &TfrmMain::print_report);
  find_bar_ = new FindBar(view_, this);
  connect(find_bar_, &FindBar::shown_changed, this, &TfrmMain::place_view);
  // A new report (a run reloads the page) ends the search in the one before.
  connect(view_, &QWebEngineView::loadStarted, this, [this] { find_bar_->close_bar(false); });
  auto* find = new QShortcut(QKeySequence::Find, this);
  connect(find, &QShortcut::activated, this, &TfrmMain::find_in_report);
  connect(view_, &ReportView::find_wanted, this, &TfrmMain::find_in_report);
  connect(view_, &ReportView::open_folder_wanted, this, [this] { controller_->open_saved_folder(); });
  connect(view_, &ReportView::open_failed, this, [this](const QString& url) {
    host_.message_box(open_in_browser_failure(url.toStdString()), application_title,
                      frontend::mb_ok | frontend::mb_iconwarning);
  });
  printer_job_ = new ReportPrinter(this);
  connect(printer_job_, &ReportPrinter::finished, this, [this](ReportPrinter::Outcome outcome, const QString& message) {
    if (outcome == ReportPrinter::Outcome::failed)
      host_.message_box(message.toStdString(), application_title, frontend::mb_ok | frontend::mb_iconwarning);
    emit printed(outcome);
  });

  host_.set_report_view(view_);
  host_.set_owner(this);
}

QDateEdit* TfrmMain::picker(Control control) const { return static_cast<QDateEdit*>(widget(control)); }

void TfrmMain::run_sign_in() {
  TfrmLogin frmLogin(this, *controller_);
  frmLogin.run();
}

void TfrmMain::enable_runs() {
  widget(btnCalcola)->setEnabled(true);
  widget(btnSalva)->setEnabled(true);
}

void TfrmMain::set_range(const DateRange& range) {
  picker(DTDal)->setDate(day_zero.addDays(static_cast<qint64>(std::floor(range.from))));
  picker(DTAl)->setDate(day_zero.addDays(static_cast<qint64>(std::floor(range.to))));
}

DateRange TfrmMain::range() const {
  // Only the date part reaches a run.
  const auto date = [](const QDate& d) { return tools::encode_date(d.year(), d.month(), d.day()); };
  return {date(picker(DTDal)->date()), date(picker(DTAl)->date())};
}

void TfrmMain::show_doctor(const DoctorFields& doctor) {
  const auto fill = [this](Control control, const std::string& text) {
    static_cast<QLineEdit*>(widget(control))->setText(QString::fromStdString(text));
  };
  fill(edt_CodiceFiscaleMMG, doctor.codice_fiscale);
  fill(edt_CodiceRegionale, doctor.codice_regionale);
  fill(edt_NominativoMMG, doctor.nominativo);
  fill(edt_ASL, doctor.asl);
}

void TfrmMain::focus_first_control() { widget(btnChiudi)->setFocus(); }

void TfrmMain::set_status(const std::string& text) {
  const QString shown = QString::fromStdString(text);
  lblStato->setText(shown);
  lblStato->setToolTip(shown);
}

void TfrmMain::enable_open_folder(bool enabled) {
  btnApriCartella->setEnabled(enabled);
  view_->set_folder_available(enabled);
}

void TfrmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (placed_) return;
  placed_ = true;
  // Once the frame is known, the outer rectangle (frame included) is its own place and
  // size where they fit on the screen, else moved and shrunk to fit.
  QTimer::singleShot(0, this, [this] {
    const QSize frame = frameGeometry().size() - geometry().size();
    const QRect area = host_.work_area(*this);
    const Rect place = area.isEmpty() ? Rect{outer_left, outer_top, outer_width, outer_height}
                                      : place_window({area.left(), area.top(), area.width(), area.height()});
    resize(place.width - frame.width(), place.height - frame.height());
    move(place.left, place.top);
  });
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  widget(StatusBar1)->setGeometry(0, height() - status_height, width(), status_height);
  place_view();
}

void TfrmMain::place_view() {
  if (!view_) return;
  const int width_inside = width() - 2 * view_left;
  const int bottom = height() - status_height - view_bottom_gap;
  // The find bar, when shown, takes its room from the bottom of the view.
  const int bar_height = find_bar_ && !find_bar_->isHidden() ? find_bar_->sizeHint().height() : 0;
  view_->setGeometry(view_left, view_top, width_inside, bottom - view_top - bar_height);
  if (bar_height > 0) find_bar_->setGeometry(view_left, bottom - bar_height, width_inside, bar_height);
}

void TfrmMain::find_in_report() {
  if (controller_->running() || controller_->report_url().empty() || !view_->isVisible()) return;
  find_bar_->open();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  // A run owns the session and the document until it returns.
  if (controller_->running()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

bool TfrmMain::focusNextPrevChild(bool next) {
  // Tab follows the layout's tab order itself: the report view and the date pickers are
  // made of inner widgets that a focus chain built with setTabOrder does not keep in place.
  const QWidget* focus = QApplication::focusWidget();
  const int count = tab_stop_count;
  const auto stop = [this](int i) { return widget(controls()[i].control); };
  int current = -1;
  for (int i = 0; i < count && current < 0; ++i)
    if (stop(i) == focus || stop(i)->isAncestorOf(focus)) current = i;
  if (current < 0) return QWidget::focusNextPrevChild(next);
  for (int step = 1; step < count; ++step) {
    QWidget* candidate = stop((current + (next ? step : count - step)) % count);
    if (candidate->isVisible() && candidate->isEnabled() && (candidate->focusPolicy() & Qt::TabFocus)) {
      candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
      return true;
    }
  }
  return false;
}

void TfrmMain::print_report() {
  if (printer_job_->busy() || controller_->running() || controller_->report_url().empty()) return;
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
  // The report is laid out for print in a page of its own, then goes to a PDF file as it
  // is, text and lines, or to the printer as a picture per page.
  printer_job_->start(view_->url(), *printer_);
}
