#pragma once
// Prints a report page: loads it into a page of its own, lays it out for print there
// (sheets of the paper's size with the running header and "Pagina N di M", each patient
// whole) and prints those sheets to a PDF file, text kept, or to a printer page by page.
// A progress dialog with "Annulla" (or Esc) shows how far it is; the window stays usable.
#include <functional>
#include <memory>

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class CancelProgressDialog;
class QPainter;
class QPdfDocument;
class QPrinter;
class QProgressDialog;
class QWebEnginePage;
class QWidget;

class ReportPrinter : public QObject {
  Q_OBJECT

 public:
  /// How a print ended.
  enum class Outcome { printed, cancelled, failed };

  /// owner: the window the progress dialog belongs to; not owned.
  explicit ReportPrinter(QWidget* owner);
  ~ReportPrinter() override;

  /// Starts printing the page at url on printer (its page size, orientation, page ranges;
  /// a PDF file when its output format is PDF and it names a file). The printer must
  /// outlive the print. False, and nothing started, while another print is under way.
  bool start(const QUrl& url, QPrinter& printer);
  bool busy() const { return active_; }
  /// Stops the print under way: a PDF file is then not written at all.
  void cancel();
  /// The progress dialog while a print is under way, else nullptr.
  QProgressDialog* progress_dialog() const;
  /// The sheets of the print under way (0 until they are laid out).
  int sheet_count() const { return sheets_; }

 signals:
  /// The print ended; message is the Italian text for the doctor when it failed.
  void finished(ReportPrinter::Outcome outcome, const QString& message);

 private:
  void lay_out(bool loaded);
  void lay_out_step();
  void print_sheets(int sheets);
  void write_pdf(const QByteArray& pdf);
  void print_next_page();
  void finish(Outcome outcome, const QString& message = {});
  void show_state(const QString& state, int done, int total);

  QWidget* owner_;
  QPrinter* printer_ = nullptr;
  QWebEnginePage* page_ = nullptr;
  QPointer<CancelProgressDialog> dialog_;
  std::unique_ptr<QPdfDocument> pdf_;
  QByteArray pdf_data_;
  std::unique_ptr<QPainter> painter_;
  bool active_ = false;
  int sheets_ = 0;
  int next_page_ = 0;
  int generation_ = 0;  // tells a late answer of an ended print from the current one's
};
