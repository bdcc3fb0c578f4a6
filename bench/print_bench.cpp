// print-bench: printing a report page to a PDF file, the way the window printed it before
// (the page as shown, printed by the browser engine's own page breaks) and the way it
// prints now (ReportPrinter: the page laid out for print in a page of its own), in one
// run, one after the other.
//
//   QT_QPA_PLATFORM=offscreen print-bench --html ZONA12.html [--out DIR]
//
// For each way: the wall time, the pages, and the peak memory of the page engine's
// processes (the sum of the resident sizes of this program's QtWebEngineProcess
// children, sampled every 50 ms, plus their highest own peak VmHWM). Then the ratios,
// now / before. Figures to read, not a test: nothing here passes or fails.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPrinter>
#include <QTimer>
#include <QWebEnginePage>
#include <QWidget>
#include <fmt/core.h>

#include "report_printer.hpp"

namespace {

namespace fs = std::filesystem;

// The processes whose parent is pid, and theirs, below.
void descendants(long pid, std::vector<long>& out) {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) != 2) continue;
    if (parent == pid) {
      const long child = std::stol(name);
      out.push_back(child);
      descendants(child, out);
    }
  }
}

// A field of /proc/PID/status in kB (0 when the process has gone).
long status_kib(long pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  return 0;
}

// Samples the page engine's processes while a print runs.
struct Sampler {
  long peak_sum_kib = 0;
  long peak_hwm_kib = 0;
  void sample() {
    std::vector<long> children;
    descendants(::getpid(), children);
    long sum = 0;
    for (long pid : children) {
      std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
      std::string name;
      std::getline(comm, name);
      if (name.rfind("QtWebEngine", 0) != 0) continue;
      sum += status_kib(pid, "VmRSS");
      peak_hwm_kib = std::max(peak_hwm_kib, status_kib(pid, "VmHWM"));
    }
    peak_sum_kib = std::max(peak_sum_kib, sum);
  }
};

struct Figures {
  double seconds = 0;
  long peak_sum_kib = 0;
  long peak_hwm_kib = 0;
  std::uintmax_t pdf_bytes = 0;
};

// Runs print (which calls done when the PDF is written) while sampling.
template <typename Print>
Figures measure(const fs::path& pdf, Print print) {
  Sampler sampler;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { sampler.sample(); });
  timer.start(50);
  QEventLoop loop;
  QElapsedTimer clock;
  clock.start();
  print([&] { loop.quit(); });
  loop.exec();
  Figures f;
  f.seconds = clock.elapsed() / 1000.0;
  sampler.sample();
  f.peak_sum_kib = sampler.peak_sum_kib;
  f.peak_hwm_kib = sampler.peak_hwm_kib;
  std::error_code ignored;
  f.pdf_bytes = fs::file_size(pdf, ignored);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  CLI::App app{"Printing a report page to PDF, before and now."};
  std::string html;
  std::string out = QDir::tempPath().toStdString();
  app.add_option("--html", html, "report page")->required()->check(CLI::ExistingFile);
  app.add_option("--out", out, "folder of the PDF files")->check(CLI::ExistingDirectory);
  CLI11_PARSE(app, argc, argv);
  const QUrl url = QUrl::fromLocalFile(QString::fromStdString(fs::absolute(html).string()));
  const fs::path before_pdf = fs::path(out) / "print-bench-before.pdf";
  const fs::path now_pdf = fs::path(out) / "print-bench-now.pdf";
  QPageLayout a4(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0));

  // Before: the page as shown, printed whole by the engine.
  const Figures before = measure(before_pdf, [&](const std::function<void()>& done) {
    auto* page = new QWebEnginePage;
    QObject::connect(page, &QWebEnginePage::loadFinished,
                     [=](bool) { page->printToPdf(QString::fromStdString(before_pdf.string()), a4); });
    QObject::connect(page, &QWebEnginePage::pdfPrintingFinished, [=](const QString&, bool) {
      page->deleteLater();
      done();
    });
    page->load(url);
  });
  // Let the first page's process go before the second way starts.
  QEventLoop settle;
  QTimer::singleShot(3000, &settle, &QEventLoop::quit);
  settle.exec();

  QWidget owner;
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageSize(QPageSize(QPageSize::A4));
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(now_pdf.string()));
  ReportPrinter printing(&owner);
  const Figures now = measure(now_pdf, [&](const std::function<void()>& done) {
    QObject::connect(&printing, &ReportPrinter::finished, [=](ReportPrinter::Outcome outcome, const QString& message) {
      if (outcome != ReportPrinter::Outcome::printed) fmt::print(stderr, "print-bench: {}\n", message.toStdString());
      done();
    });
    printing.start(url, printer);
  });

  const auto row = [](const char* way, const Figures& f) {
    fmt::print("{:<7} seconds={:.1f} engine_peak_rss_sum_mib={:.0f} engine_peak_hwm_mib={:.0f} pdf_bytes={}\n", way,
               f.seconds, f.peak_sum_kib / 1024.0, f.peak_hwm_kib / 1024.0, f.pdf_bytes);
  };
  row("before", before);
  row("now", now);
  fmt::print("ratio   seconds={:.2f} engine_peak_rss_sum={:.2f} engine_peak_hwm={:.2f}\n", now.seconds / before.seconds,
             double(now.peak_sum_kib) / before.peak_sum_kib, double(now.peak_hwm_kib) / before.peak_hwm_kib);
  return 0;
}
