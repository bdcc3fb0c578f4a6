// registry-bench: the cost of reading the registry file, first read and repeated reads.
//
//   registry-bench [--values N] [--reads M]
//
// Writes a ".reg" file of N string values (100 per key) into a temporary directory and
// times the first read of the last value (the whole file parsed), then M further reads of
// a switch while the file stays the same, one read after the file changed, and M reads of
// a file changed a moment ago (which are compared byte for byte until it has settled).
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/core.h>

#include "platform/registry.hpp"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// Writes the file; settled: dated an hour back, as a registry that is not being edited.
void write_registry(const std::filesystem::path& file, int values, const std::string& last, bool settled) {
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "Windows Registry Editor Version 5.00\r\n";
    for (int v = 0; v < values; ++v) {
      if (v % 100 == 0) out << "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\K" << v / 100 << "]\r\n";
      out << "\"v" << v << "\"=\"" << (v + 1 == values ? last : std::to_string(v)) << "\"\r\n";
    }
  }
  if (settled)
    std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Times reads of a registry file of many values", "registry-bench"};
  int values = 40000, reads = 10000;
  app.add_option("--values", values, "values in the file")->check(CLI::PositiveNumber);
  app.add_option("--reads", reads, "repeated reads timed")->check(CLI::PositiveNumber);
  CLI11_PARSE(app, argc, argv);

  const auto dir = std::filesystem::temp_directory_path() / fmt::format("registry-bench-{}", ::getpid());
  std::filesystem::create_directories(dir);
  const auto file = dir / "registry.reg";
  write_registry(file, values, "first", true);
  ::setenv("PIVZONA12_REGISTRY", file.c_str(), 1);
  const std::string key = fmt::format("SOFTWARE\\Bench\\K{}", (values - 1) / 100);
  const std::string name = fmt::format("v{}", values - 1);
  using platform::RegistryRoot;

  auto start = std::chrono::steady_clock::now();
  const bool first_ok = platform::registry_read(RegistryRoot::local_machine, key, name).text == "first";
  const double first = seconds_since(start);

  start = std::chrono::steady_clock::now();
  for (int i = 0; i < reads; ++i) platform::registry_read(RegistryRoot::local_machine, "SOFTWARE\\Bench\\K0", "v1");
  const double repeated = seconds_since(start) / reads;

  write_registry(file, values, "second", true);
  start = std::chrono::steady_clock::now();
  const bool changed_ok = platform::registry_read(RegistryRoot::local_machine, key, name).text == "second";
  const double changed = seconds_since(start);

  write_registry(file, values, "third", false);
  platform::registry_read(RegistryRoot::local_machine, key, name);
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < reads; ++i) platform::registry_read(RegistryRoot::local_machine, "SOFTWARE\\Bench\\K0", "v1");
  const double recent = seconds_since(start) / reads;

  std::filesystem::remove_all(dir);
  fmt::print(
      "values={} first_read_s={:.4f} repeated_read_us={:.1f} read_after_change_s={:.4f} "
      "repeated_read_of_a_recent_file_us={:.1f} correct={}\n",
      values, first, repeated * 1e6, changed, recent * 1e6, first_ok && changed_ok ? "yes" : "NO");
  return first_ok && changed_ok ? 0 : 1;
}
