// The report printed as the doctor prints it to a PDF file: the pages read back with
// pdftotext, one page at a time; and a print stopped with Esc.
#include "report_printer.hpp"

#include <filesystem>
#include <string>

#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QSignalSpy>
#include <QWidget>
#include <QtTest>
#include <fmt/core.h>

#include "render/render.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::TempDir;
using test_support::write_file;

fs::path stylesheet(const std::string& name) { return fs::path(PZ_SOURCE_DIR) / "xsl" / name; }

// The INR value of patient p's consultation c: each patient's values are its own.
std::string inr(int p, int c) { return fmt::format("{}.{:02d}{}", 1 + c % 4, p, c % 10); }

// Patient p's fiscal code: a temporary code of 11 digits, which the page takes as it is
// (its data-quality section then lists nobody).
std::string fiscal_code(int p) { return fmt::format("{}", 90000000000LL + p); }

// A TAO report of patients PAZIENTE001…: patient p has p % 9 consultations, so that the
// cards of a row differ in height and some fall across the foot of a page; patient 7
// has 400, more than a page holds even in columns.
std::string tao_report(int patients) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tao xmlns=\"http://www.zona12.asl.it/asl/tao\">"
      "<dataOraProduzione>20240316091500</dataOraProduzione><medico><codiceRegionale>001234</codiceRegionale>"
      "<codiceFiscale>RSSMRA60A01H501U</codiceFiscale>";
  for (int p = 1; p <= patients; ++p) {
    xml += fmt::format(
        "<assistito><codiceFiscale>{}</codiceFiscale><cognome>PAZIENTE{:03d}</cognome>"
        "<nome>Nome</nome><sesso>F</sesso><dataNascita>19500101</dataNascita><comuneNascita><codiceIstat>001272"
        "</codiceIstat></comuneNascita><monitoraggio>",
        fiscal_code(p), p);
    const int consultations = p == 7 ? 400 : p % 9;
    for (int c = 0; c < consultations; ++c)
      xml +=
          fmt::format("<consulenza><data>202401{:02d}</data><valore>{}</valore></consulenza>", 1 + c % 28, inr(p, c));
    xml += "</monitoraggio></assistito>";
  }
  return xml + "</medico></tao>";
}

// The page made from a report as a run makes it.
fs::path make_page(const TempDir& dir, const std::string& xsl, const std::string& xml) {
  write_file(dir.path() / "report.xml", xml);
  const fs::path html = dir.path() / "ZONA12.html";
  const std::string failure = tools::xml2html(stylesheet(xsl).string(), (dir.path() / "report.xml").string(),
                                              html.string(), {{"dal", "20240101"}, {"al", "20241231"}});
  if (!failure.empty()) qFatal("page not made: %s", failure.c_str());
  return html;
}

// The text of page n (from 1) of a PDF, or of the whole file with n = 0.
QString pdf_text(const fs::path& pdf, int n = 0) {
  QProcess pdftotext;
  QStringList arguments;
  if (n > 0) arguments << "-f" << QString::number(n) << "-l" << QString::number(n);
  arguments << "-layout" << QString::fromStdString(pdf.string()) << "-";
  pdftotext.start("pdftotext", arguments);
  if (!pdftotext.waitForFinished(60000) || pdftotext.exitCode() != 0) qFatal("pdftotext failed");
  return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

int pdf_pages(const fs::path& pdf) { return pdf_text(pdf).count(QChar('\f')); }

// Prints page to pdf as "Stampa su file" does; the outcome.
ReportPrinter::Outcome print(const fs::path& page, const fs::path& pdf,
                             const std::function<void(ReportPrinter&)>& meanwhile = {}) {
  QWidget owner;
  owner.show();
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageSize(QPageSize(QPageSize::A4));
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(pdf.string()));
  ReportPrinter printing(&owner);
  QSignalSpy finished(&printing, &ReportPrinter::finished);
  if (!printing.start(QUrl::fromLocalFile(QString::fromStdString(page.string())), printer)) qFatal("not started");
  if (meanwhile) meanwhile(printing);
  if (finished.isEmpty() && !finished.wait(120000)) qFatal("print never ended");
  return finished.first().at(0).value<ReportPrinter::Outcome>();
}

}  // namespace

class ReportPrinterTest : public QObject {
  Q_OBJECT

 private slots:
  void taoCardsWholeWithHeaderAndPageNumbers();
  void everyPageHasHeaderAndNumber_data();
  void everyPageHasHeaderAndNumber();
  void escStopsWithoutWritingTheFile_data();
  void escStopsWithoutWritingTheFile();
};

void ReportPrinterTest::taoCardsWholeWithHeaderAndPageNumbers() {
  TempDir dir;
  const int patients = 60;
  const fs::path pdf = dir.path() / "tao.pdf";
  QCOMPARE(print(make_page(dir, "Tao_to_HTML.xsl", tao_report(patients)), pdf), ReportPrinter::Outcome::printed);
  const int pages = pdf_pages(pdf);
  QVERIFY2(pages >= 3, qPrintable(QString::number(pages)));
  QString all;
  for (int n = 1; n <= pages; ++n) {
    const QString text = pdf_text(pdf, n);
    all += text;
    // The running header first, the page's number of the whole at its foot.
    QVERIFY2(text.trimmed().startsWith(QStringLiteral("Terapia anticoagulante orale (TAO) · Medico: 001234")),
             qPrintable(QString("page %1:\n%2").arg(n).arg(text)));
    QVERIFY2(text.trimmed().endsWith(QStringLiteral("Pagina %1 di %2").arg(n).arg(pages)),
             qPrintable(QString("page %1:\n%2").arg(n).arg(text)));
    // Each card's fiscal code and values on its name's page.
    for (int p = 1; p <= patients; ++p) {
      if (p == 7 || !text.contains(QString::asprintf("PAZIENTE%03d", p))) continue;
      QVERIFY2(text.contains(QString::fromStdString(fiscal_code(p))), qPrintable(QString("patient %1").arg(p)));
      for (int c = 0; c < p % 9; ++c) {
        const QString value = QString::fromStdString(inr(p, c)).replace('.', ',');
        QVERIFY2(text.contains(value),
                 qPrintable(QString("patient %1 value %2 not on page %3").arg(p).arg(value).arg(n)));
      }
    }
  }
  // Every patient printed once, the card taller than a page too, all its values.
  for (int p = 1; p <= patients; ++p) QCOMPARE(all.count(QString::asprintf("PAZIENTE%03d", p)), 1);
  for (int c = 0; c < 400; ++c) QVERIFY(all.contains(QString::fromStdString(inr(7, c)).replace('.', ',')));
}

void ReportPrinterTest::everyPageHasHeaderAndNumber_data() {
  QTest::addColumn<QString>("xsl");
  QTest::addColumn<QString>("xml");
  QTest::addColumn<QString>("header");
  QTest::newRow("diabete") << "Diabete_to_HTML.xsl"
                           << "sample_diabete.xml"
                           << "Gestione integrata del diabete";
  QTest::newRow("tao") << "Tao_to_HTML.xsl"
                       << "sample_tao.xml"
                       << "Terapia anticoagulante orale (TAO)";
  QTest::newRow("vaccinazioni") << "Vac_to_HTML.xsl"
                                << "sample_vaccinazioni.xml"
                                << "Vaccinazione antinfluenzale";
}

void ReportPrinterTest::everyPageHasHeaderAndNumber() {
  QFETCH(QString, xsl);
  QFETCH(QString, xml);
  QFETCH(QString, header);
  TempDir dir;
  const fs::path pdf = dir.path() / "stampa.pdf";
  const std::string report = read_file(fs::path(PZ_SOURCE_DIR) / "tests" / "fixtures" / xml.toStdString());
  QCOMPARE(print(make_page(dir, xsl.toStdString(), report), pdf), ReportPrinter::Outcome::printed);
  const int pages = pdf_pages(pdf);
  QVERIFY(pages >= 1);
  for (int n = 1; n <= pages; ++n) {
    const QString text = pdf_text(pdf, n).trimmed();
    QVERIFY2(text.startsWith(header), qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("Pagina %1 di %2").arg(n).arg(pages)), qPrintable(text));
  }
}

void ReportPrinterTest::escStopsWithoutWritingTheFile_data() {
  QTest::addColumn<bool>("while_laying_out");
  QTest::newRow("at once") << false;
  // Between two of the layout's steps, once the dialog shows how far it has gone.
  QTest::newRow("while laying out") << true;
}

void ReportPrinterTest::escStopsWithoutWritingTheFile() {
  QFETCH(bool, while_laying_out);
  TempDir dir;
  const fs::path page = make_page(dir, "Tao_to_HTML.xsl", tao_report(while_laying_out ? 2000 : 600));
  const fs::path pdf = dir.path() / "tao.pdf";
  write_file(pdf, "earlier print");
  const auto outcome = print(page, pdf, [&](ReportPrinter& printing) {
    QProgressDialog* dialog = printing.progress_dialog();
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->isVisible());
    QVERIFY(dialog->labelText().startsWith(QStringLiteral("Stampa in corso…")));
    if (while_laying_out) {
      QTRY_VERIFY_WITH_TIMEOUT(dialog->labelText().endsWith(QStringLiteral("pagine finora…")), 60000);
      QVERIFY(dialog->value() > 0 && dialog->value() < dialog->maximum());
    }
    QTest::keyClick(dialog, Qt::Key_Escape);
  });
  QCOMPARE(outcome, ReportPrinter::Outcome::cancelled);
  // The earlier file as it was, and nothing else left beside it.
  QCOMPARE(read_file(pdf), std::string("earlier print"));
  QTest::qWait(200);
  int files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++files;
  QCOMPARE(files, 3);  // report.xml, ZONA12.html, tao.pdf
}

QTEST_MAIN(ReportPrinterTest)
#include "report_printer_test.moc"
