// dump-bench: the peak memory of reading a patient list dumped by the records server, by
// the size of the dump.
//
//   dump-bench [--sizes 50,200] [--dir DIR] [--whole]
//
// For each size (in MB) writes a patient list as the server dumps it (quoted text fields,
// TAB between them, CR LF after each row) into DIR/Temp, then reads it in a child process
// of its own as a run reads its patient list: the dump into the working file, then the
// working file line by line twice (the patients counted, then each patient's fields). It
// prints the child's peak resident memory (VmHWM) when it starts and when it is done, and
// the ratio of the largest dump's peak to the smallest's: near 1 when memory does not grow
// with the dump. --whole reads each dump whole and keeps all its lines instead, as runs
// once did, for comparison. Numbers to read, not a test: nothing here passes or fails.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <fmt/core.h>

#include "extract/builders.hpp"
#include "extract/text_file.hpp"
#include "platform/files.hpp"
#include "tools/tools.hpp"

namespace fs = std::filesystem;

namespace {

/// The process's peak resident memory in kB, from /proc/self/status (0 when unknown).
long peak_kb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

/// Writes a patient list of at least megabytes MB to path, a bounded buffer at a time.
/// Gives the number of rows.
long write_dump(const fs::path& path, long megabytes) {
  std::ofstream out(path, std::ios::binary);
  const long bytes = megabytes << 20;
  std::string buffer;
  long rows = 0;
  for (long written = 0; written < bytes;) {
    buffer +=
        fmt::format("\"P{:07}\"\t\"D'Alò {}\"\t\"Niccolò\"\t\"M\"\t\"DLANCC50A01H501{}\"\t\"19500101\"\t\"058091\"\r\n",
                    rows, rows % 997, rows % 10);
    ++rows;
    if (buffer.size() >= (1u << 20)) {
      out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      written += static_cast<long>(buffer.size());
      buffer.clear();
    }
  }
  out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
  return rows;
}

/// Reads the dump as a run reads its patient list; gives the patients counted and the
/// bytes of their surnames (so that the second reading is not optimised away).
std::pair<long, long> read_as_a_run(const fs::path& dir, const std::string& name) {
  platform::WorkingFile working(dir.string(), "Tao.txt");
  const platform::DumpFile dump = platform::read_and_remove_dump(
      (dir / "Temp").string(), name, [&working](std::string_view piece) { working.append(piece); });
  if (dump.state != platform::DumpFile::State::rows) throw std::runtime_error("dump not read: " + dump.reason);
  long patients = 0;
  AnsiLines counted([&patients](std::string_view line) {
    if (tools::string2array(line, "\t").size() >= 7) ++patients;
    return true;
  });
  working.read([&counted](std::string_view piece) { return counted.add(piece); });
  counted.finish();
  long surname_bytes = 0;
  AnsiLines built([&surname_bytes](std::string_view line) {
    const std::vector<std::string> fields = tools::string2array(line, "\t");
    if (fields.size() >= 7) surname_bytes += static_cast<long>(unquote_field(fields[1]).size());
    return true;
  });
  working.read([&built](std::string_view piece) { return built.add(piece); });
  built.finish();
  return {patients, surname_bytes};
}

/// Reads the dump whole and keeps all its lines, as runs once did.
std::pair<long, long> read_whole(const fs::path& dir, const std::string& name) {
  std::string bytes;
  platform::read_and_remove_dump((dir / "Temp").string(), name,
                                 [&bytes](std::string_view piece) { bytes.append(piece); });
  std::vector<std::string> lines;
  AnsiLines all([&lines](std::string_view line) {
    lines.emplace_back(line);
    return true;
  });
  all.add(bytes);
  all.finish();
  long patients = 0, surname_bytes = 0;
  for (const auto& line : lines) {
    const std::vector<std::string> fields = tools::string2array(line, "\t");
    if (fields.size() < 7) continue;
    ++patients;
    surname_bytes += static_cast<long>(unquote_field(fields[1]).size());
  }
  return {patients, surname_bytes};
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Peak memory of reading a patient-list dump, by its size."};
  std::vector<long> sizes = {50, 200};
  fs::path dir;
  bool whole = false;
  app.add_option("--sizes", sizes, "dump sizes in MB")->delimiter(',')->check(CLI::PositiveNumber);
  app.add_option("--dir", dir, "where the dumps are written (a new temporary folder unless given)");
  app.add_flag("--whole", whole, "read each dump whole and keep its lines, for comparison");
  CLI11_PARSE(app, argc, argv);

  const bool own_dir = dir.empty();
  if (own_dir) dir = fs::temp_directory_path() / fmt::format("dump-bench-{}", ::getpid());
  fs::create_directories(dir / "Temp");
  std::vector<long> peaks;
  for (const long megabytes : sizes) {
    const std::string name = fmt::format("dump_{}.txt", megabytes);
    const long rows = write_dump(dir / "Temp" / name, megabytes);
    std::fflush(stdout);
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return 1;
    const pid_t child = ::fork();
    if (child == 0) {
      // The child measures its own peak: the parent's dump writing never counts.
      ::close(pipe_fds[0]);
      const long start_kb = peak_kb();
      const auto start = std::chrono::steady_clock::now();
      long figures[4] = {start_kb, 0, 0, 0};
      try {
        const auto [patients, surname_bytes] = whole ? read_whole(dir, name) : read_as_a_run(dir, name);
        figures[2] = patients;
        figures[3] = surname_bytes;
      } catch (const std::exception& e) {
        fmt::print(stderr, "dump-bench: {}\n", e.what());
        ::_exit(1);
      }
      figures[1] = peak_kb();
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      fmt::print("dump {} MB ({} rows): {} patients, peak {:.1f} MB (at start {:.1f} MB), {:.2f} s\n", megabytes, rows,
                 figures[2], figures[1] / 1024.0, start_kb / 1024.0, seconds);
      std::fflush(stdout);
      const ssize_t ignored = ::write(pipe_fds[1], figures, sizeof figures);
      (void)ignored;
      ::_exit(0);
    }
    ::close(pipe_fds[1]);
    long figures[4] = {};
    const bool got = ::read(pipe_fds[0], figures, sizeof figures) == static_cast<ssize_t>(sizeof figures);
    ::close(pipe_fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::error_code ignored;
    fs::remove(dir / "Temp" / name, ignored);
    if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    peaks.push_back(figures[1]);
  }
  if (own_dir) fs::remove_all(dir);
  if (peaks.size() >= 2 && peaks.front() > 0)
    fmt::print("peak at {} MB / peak at {} MB: {:.2f} ({})\n", sizes.back(), sizes.front(),
               static_cast<double>(peaks.back()) / static_cast<double>(peaks.front()),
               whole ? "whole dump in memory" : "read in pieces");
  return 0;
}
