#include "report_printer.hpp"

#include <algorithm>

#include <QApplication>
#include <QBuffer>
#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPdfDocument>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QWebEnginePage>

namespace {

// The sheet's margins in millimetres: the running header sits in the top one, the page
// number in the bottom one, and a printer's unprintable edge stays clear.
constexpr double margin_top = 8;
constexpr double margin_side = 10;
constexpr double margin_bottom = 8;

const char* const title = "Stampa del report";

}  // namespace

ReportPrinter::ReportPrinter(QWidget* owner) : QObject(owner), owner_(owner) {}

QProgressDialog* ReportPrinter::progress_dialog() const { return dialog_.data(); }

ReportPrinter::~ReportPrinter() {
  if (busy()) cancel();
}

bool ReportPrinter::start(const QUrl& url, QPrinter& printer) {
  if (busy()) return false;
  active_ = true;
  printer_ = &printer;
  sheets_ = 0;
  next_page_ = 0;
  const int generation = ++generation_;

  auto* dialog = new QProgressDialog(owner_);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setObjectName(QStringLiteral("frmStampaInCorso"));
  dialog->setWindowTitle(QString::fromUtf8(title));
  if (owner_) dialog->setFont(owner_->font());
  dialog->setWindowModality(Qt::WindowModal);
  dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  dialog->setAutoClose(false);
  dialog->setAutoReset(false);
  dialog->setMinimumDuration(0);
  auto* annulla = new QPushButton(QStringLiteral("Annulla"), dialog);
  annulla->setObjectName(QStringLiteral("btnAnnulla"));
  dialog->setCancelButton(annulla);
  // Annulla and the close box (canceled) and Esc (rejected) all stop the print.
  connect(dialog, &QProgressDialog::canceled, this, &ReportPrinter::cancel);
  connect(dialog, &QDialog::rejected, this, &ReportPrinter::cancel);
  dialog_ = dialog;
  show_state(QStringLiteral("impaginazione…"), 0, 0);
  dialog->setMinimumWidth(360);
  dialog->show();

  // A page of its own: the report view keeps showing the report as it is, and the sheets
  // laid out for print go away with this page once printed.
  page_ = new QWebEnginePage(this);
  connect(page_, &QWebEnginePage::loadFinished, this, [this, generation](bool ok) {
    if (generation == generation_) lay_out(ok);
  });
  page_->load(url);
  return true;
}

void ReportPrinter::show_state(const QString& state, int done, int total) {
  if (!dialog_) return;
  dialog_->setLabelText(QStringLiteral("Stampa in corso…\n") + state);
  dialog_->setRange(0, total);
  if (total > 0) dialog_->setValue(done);
}

void ReportPrinter::lay_out(bool loaded) {
  if (!loaded) {
    finish(Outcome::failed, QStringLiteral("Stampa non riuscita: la pagina del report non si apre."));
    return;
  }
  const QPageLayout layout = printer_->pageLayout();
  const QSizeF paper = layout.fullRect(QPageLayout::Millimeter).size();
  const QString call = QStringLiteral(
                           "window.zona12Impagina ? window.zona12Impagina({larghezza: %1, altezza: %2, alto: %3, "
                           "destra: %4, basso: %5, sinistra: %4}) : -1")
                           .arg(paper.width())
                           .arg(paper.height())
                           .arg(margin_top)
                           .arg(margin_side)
                           .arg(margin_bottom);
  const int generation = generation_;
  page_->runJavaScript(call, [this, generation](const QVariant& answer) {
    if (generation != generation_) return;
    bool number = false;
    const int sheets = answer.toInt(&number);
    if (!number || sheets <= 0) {
      finish(Outcome::failed, QStringLiteral("Stampa non riuscita: la pagina del report non si impagina."));
      return;
    }
    print_sheets(sheets);
  });
}

void ReportPrinter::print_sheets(int sheets) {
  sheets_ = sheets;
  show_state(QStringLiteral("%1 pagine: preparazione della stampa…").arg(sheets), 0, 0);
  // The sheets have the paper's size and their own margins.
  const QPageLayout layout = printer_->pageLayout();
  const QPageLayout sheet(layout.pageSize(), layout.orientation(), QMarginsF(0, 0, 0, 0));
  const int generation = generation_;
  page_->printToPdf(
      [this, generation](const QByteArray& pdf) {
        if (generation != generation_) return;
        if (pdf.isEmpty()) {
          finish(Outcome::failed,
                 QStringLiteral("Stampa non riuscita: il motore della pagina non ha prodotto le pagine."));
          return;
        }
        // The sheets are in the PDF: the page and its process can go.
        page_->deleteLater();
        page_ = nullptr;
        write_pdf(pdf);
      },
      sheet, printer_->pageRanges());
}

void ReportPrinter::write_pdf(const QByteArray& pdf) {
  const bool to_file = printer_->outputFormat() == QPrinter::PdfFormat && !printer_->outputFileName().isEmpty();
  if (to_file) {
    // Written beside the file and put in its place only whole: a failure or a cancel
    // leaves no half-written file, and an earlier file stays as it was until then.
    const QString path = printer_->outputFileName();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(pdf) != pdf.size() || !file.commit()) {
      finish(Outcome::failed, QStringLiteral("Stampa non riuscita: impossibile scrivere il file %1 (%2).")
                                  .arg(QFileInfo(path).absoluteFilePath(), file.errorString()));
      return;
    }
    finish(Outcome::printed);
    return;
  }
  // A printer takes each page as a picture, one page at a time, so that the window keeps
  // answering and Annulla stops between two pages.
  pdf_data_ = pdf;
  pdf_ = std::make_unique<QPdfDocument>();
  auto* buffer = new QBuffer(&pdf_data_, pdf_.get());
  buffer->open(QIODevice::ReadOnly);
  pdf_->load(buffer);
  if (pdf_->status() != QPdfDocument::Status::Ready || pdf_->pageCount() <= 0) {
    finish(Outcome::failed, QStringLiteral("Stampa non riuscita: le pagine preparate non si leggono."));
    return;
  }
  painter_ = std::make_unique<QPainter>();
  if (!painter_->begin(printer_)) {
    finish(Outcome::failed, QStringLiteral("Stampa non riuscita: la stampante non accetta il lavoro."));
    return;
  }
  next_page_ = 0;
  print_next_page();
}

void ReportPrinter::print_next_page() {
  const int total = pdf_->pageCount();
  show_state(QStringLiteral("pagina %1 di %2").arg(next_page_ + 1).arg(total), next_page_, total);
  if (next_page_ > 0 && !printer_->newPage()) {
    finish(Outcome::failed,
           QStringLiteral("Stampa non riuscita: la stampante non accetta la pagina %1.").arg(next_page_ + 1));
    return;
  }
  const QRect target = painter_->viewport();
  const QSizeF points = pdf_->pagePointSize(next_page_);
  // The whole sheet on the paper, its proportions kept.
  const double scale = std::min(target.width() / points.width(), target.height() / points.height());
  const QSize size(static_cast<int>(points.width() * scale), static_cast<int>(points.height() * scale));
  const QImage image = pdf_->render(next_page_, size);
  painter_->drawImage(QRect(QPoint(0, 0), size), image);
  ++next_page_;
  if (next_page_ == total) {
    painter_->end();
    finish(Outcome::printed);
    return;
  }
  const int generation = generation_;
  QTimer::singleShot(0, this, [this, generation] {
    if (generation == generation_ && painter_) print_next_page();
  });
}

void ReportPrinter::cancel() {
  if (!busy()) return;
  if (painter_ && painter_->isActive()) {
    // The pages already sent stay with the printer; the rest of the job is withdrawn.
    printer_->abort();
    painter_->end();
  }
  finish(Outcome::cancelled);
}

void ReportPrinter::finish(Outcome outcome, const QString& message) {
  active_ = false;
  ++generation_;  // late answers of this print are ignored
  if (page_) {
    page_->deleteLater();
    page_ = nullptr;
  }
  painter_.reset();
  pdf_.reset();
  pdf_data_.clear();
  if (dialog_) {
    QProgressDialog* dialog = dialog_.data();
    dialog_ = nullptr;
    dialog->disconnect(this);
    dialog->close();
  }
  emit finished(outcome, message);
}
