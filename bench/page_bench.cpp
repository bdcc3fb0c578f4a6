// page-bench: the page step of a run alone, on a saved report.
//
//   page-bench --xsl Diabete_to_HTML.xsl --xml report.xml --html ZONA12.html [--repeat N]
//
// Turns the report into the page as a run does (xml2html, with a period and a doctor
// given to the stylesheet) and prints one line of key=value figures: wall and processor
// time of the best of the repeats and the size of the page. Peak memory is read from
// outside (GNU time), as for the whole run.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/core.h>

#include "render/render.hpp"

int main(int argc, char** argv) {
  CLI::App app{"The page step of a run alone, timed."};
  std::string xsl;
  std::string xml;
  std::string html;
  int repeat = 1;
  app.add_option("--xsl", xsl, "stylesheet")->required();
  app.add_option("--xml", xml, "saved report")->required();
  app.add_option("--html", html, "page to write")->required();
  app.add_option("--repeat", repeat, "runs; the best is reported")->check(CLI::PositiveNumber);
  CLI11_PARSE(app, argc, argv);

  const platform::XsltParameters parameters = {
      {"dal", "20150101"}, {"al", "20261231"}, {"nominativo", "Mario Rossi"}, {"asl", "ASL 12"}};
  double best_seconds = 0;
  double best_cpu = 0;
  for (int i = 0; i < repeat; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpu_start = std::clock();
    std::string reason;
    if (!tools::xml2html(xsl, xml, html, parameters, &reason).empty()) {
      fmt::print(stderr, "page-bench: page not made: {}\n", reason);
      return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    if (i == 0 || seconds < best_seconds) best_seconds = seconds;
    if (i == 0 || cpu < best_cpu) best_cpu = cpu;
  }
  fmt::print("seconds={:.3f} cpu_seconds={:.3f} page_bytes={}\n", best_seconds, best_cpu,
             std::filesystem::file_size(html));
  return 0;
}
