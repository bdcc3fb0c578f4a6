#pragma once
// Reading back the session wrapper's trace from an installation's operation log.
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace test_support {

/// The lines of Temp/Log/praxipat.log under the installation directory appdir, each
/// without the logging library's time stamp and tag (the text after the second TAB).
inline std::vector<std::string> praxipat_trace(const std::filesystem::path& appdir) {
  std::istringstream in(read_file(appdir / "Temp" / "Log" / "praxipat.log"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto first = line.find('\t');
    const auto second = first == std::string::npos ? first : line.find('\t', first + 1);
    lines.push_back(second == std::string::npos ? line : line.substr(second + 1));
  }
  return lines;
}

}  // namespace test_support
