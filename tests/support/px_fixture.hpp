#pragma once
// Test pieces for the installation paths, the debug channel and the operation log: a
// registry file written by the test, the logging library, its log lines and the session
// wrapper's trace read back from them.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "praxilo_install.hpp"
#include "recording_host.hpp"
#include "test_support.hpp"

namespace test_support {

/// A registry file in its own temporary directory, named by PIVZONA12_REGISTRY for the
/// lifetime of the object. Sections are whole ".reg" text after the header line.
class RegistryFile {
 public:
  explicit RegistryFile(const std::string& sections = "")
      : env_("PIVZONA12_REGISTRY", (dir_.path() / "registry.reg").string()) {
    write(sections);
  }
  void write(const std::string& sections) {
    write_file(dir_.path() / "registry.reg", "Windows Registry Editor Version 5.00\r\n\r\n" + sections);
  }

 private:
  TempDir dir_;
  ScopedEnv env_;
};

/// A ".reg" string value: in double quotes, backslashes and quotes escaped (as the
/// fixture installations write their registry).
using praxilo_db::reg_string;

/// A ".reg" string value with environment references, hex(2): the text's bytes (ASCII, a
/// NUL included) as UTF-16LE, with the terminating NUL, as the registry editor exports it.
inline std::string reg_expand_string(std::string_view text) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out = "hex(2):";
  for (const char c : std::string(text) + '\0') {
    const auto byte = static_cast<unsigned char>(c);
    out += std::string{digits[byte >> 4], digits[byte & 15]} + ",00,";
  }
  out.pop_back();
  return out;
}

/// The App Paths section with the given "Path" value data (already in .reg form).
inline std::string app_paths_section(const std::string& path_data) {
  return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\PRAXILO.EXE]\r\n\"Path\"=" +
         path_data + "\r\n\r\n";
}

/// The maker's section with the debug switches, and the gate's with the log switch;
/// a value given as "" is left out.
inline std::string switches_section(const std::string& debug, const std::string& debuglog, const std::string& log) {
  std::string text = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvanta-Ferrix]\r\n";
  if (!debug.empty()) text += "\"debug\"=" + debug + "\r\n";
  if (!debuglog.empty()) text += "\"debuglog\"=" + debuglog + "\r\n";
  text += "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvanta-Ferrix\\px_gate]\r\n";
  if (!log.empty()) text += "\"log\"=" + log + "\r\n";
  return text + "\r\n";
}

/// Copies a logging library of the build into dir under its own name: the one in the
/// folder variant under the build's bin directory ("" for the library itself,
/// "testlibs" for the one without LOG_destroy, "testlibs/cdecl" for the one with __cdecl
/// exports). Copied beside and renamed over any earlier copy (copying over an existing
/// file fails in mingw's library).
inline void install_logging_library_variant(const std::filesystem::path& dir, const std::string& variant) {
  const std::filesystem::path part = dir / (logging_library_file + ".part");
  std::filesystem::remove(part);
  std::filesystem::copy_file(std::filesystem::path(PZ_BIN_DIR) / variant / logging_library_file, part);
  std::filesystem::rename(part, dir / logging_library_file);
}

/// Copies the logging library from the build into dir; with without_destroy, the
/// variant that lacks LOG_destroy.
inline void install_logging_library(const std::filesystem::path& dir, bool without_destroy = false) {
  install_logging_library_variant(dir, without_destroy ? "testlibs" : "");
}

/// The lines of a log file written by the logging library, each without its "\n"; a
/// last piece without "\n" is kept as a line of its own so that it shows in a failure.
inline std::vector<std::string> log_lines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t at; (at = content.find('\n', from)) != std::string::npos; from = at + 1)
    lines.push_back(content.substr(from, at - from));
  if (from < content.size()) lines.push_back(content.substr(from));
  return lines;
}

/// The lines of Temp/Log/praxipat.log under the installation directory appdir from the
/// from-th on (none when there are fewer), each without its "\r" and without the logging
/// library's time stamp and tag (the text after the second TAB).
inline std::vector<std::string> praxipat_trace(const std::filesystem::path& appdir, std::size_t from = 0) {
  const auto lines = log_lines(read_file(appdir / "Temp" / "Log" / "praxipat.log"));
  std::vector<std::string> trace;
  for (std::size_t i = from; i < lines.size(); ++i) {
    std::string line = lines[i];
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto first = line.find('\t');
    const auto second = first == std::string::npos ? first : line.find('\t', first + 1);
    trace.push_back(second == std::string::npos ? line : line.substr(second + 1));
  }
  return trace;
}

/// True when line is "yyyy-mm-dd hh:mm:ss.zzz<TAB>tag<TAB>text".
inline bool is_log_line(const std::string& line, const std::string& tag, const std::string& text) {
  const std::string shape = "dddd-dd-dd dd:dd:dd.ddd";
  if (line.size() < shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return false;
  }
  return line.substr(shape.size()) == "\t" + tag + "\t" + text;
}

}  // namespace test_support
