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
#include <QSaveFile>
#include <QTimer>
#include <QWebEnginePage>

#include "cancel_progress_dialog.hpp"

namespace {

// The sheet's margins in millimetres: the running header sits in the top one, the page
// number in the bottom one, and a printer's unprintable edge stays clear.
constexpr double margin_top = 8;
constexpr double margin_side = 10;
constexpr double margin_bottom = 8;

const char* const title = "Stampa del report";

const QString not_laid_out = QStringLiteral("Stampa non riuscita: la pagina del report non si impagina.");

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

  // Annulla, Esc and the close box all stop the print.
  QPointer<ReportPrinter> self(this);
  auto* dialog = new CancelProgressDialog(owner_, QStringLiteral("frmStampaInCorso"), QString::fromUtf8(title), [self] {
    if (self) self->cancel();
  });
  dialog->setWindowModality(Qt::WindowModal);
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
                           "destra: %4, basso: %5, sinistra: %4}) : false")
                           .arg(paper.width())
                           .arg(paper.height())
                           .arg(margin_top)
                           .arg(margin_side)
                           .arg(margin_bottom);
  const int generation = generation_;
  page_->runJavaScript(call, [this, generation](const QVariant& answer) {
    if (generation != generation_) return;
    if (answer.typeId() != QMetaType::Bool || !answer.toBool()) {
      finish(Outcome::failed, not_laid_out);
      return;
    }
    lay_out_step();
  });
}

void ReportPrinter::lay_out_step() {
  // Each step works for a fifth of a second and returns to the window, which shows how
  // far the layout is and answers Annulla; between steps the page engine frees the
  // garbage of the measures, which over a whole large report would run to gigabytes.
  const int generation = generation_;
  page_->runJavaScript(QStringLiteral("window.zona12ImpaginaAvanza(200)"), [this, generation](const QVariant& answer) {
    if (generation != generation_) return;
    const QVariantMap state = answer.toMap();
    const int done = state.value(QStringLiteral("fatti")).toInt();
    const int total = state.value(QStringLiteral("totale")).toInt();
    const int sheets = state.value(QStringLiteral("fogli")).toInt();
    if (state.isEmpty() || sheets <= 0) {
      finish(Outcome::failed, not_laid_out);
      return;
    }
    if (state.value(QStringLiteral("finito")).toBool()) {
      print_sheets(sheets);
      return;
    }
    show_state(QStringLiteral("impaginazione: %1 pagine finora…").arg(sheets), done, total);
    lay_out_step();
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
    CancelProgressDialog* dialog = dialog_.data();
    dialog_ = nullptr;
    dialog->finish();
  }
  emit finished(outcome, message);
}
