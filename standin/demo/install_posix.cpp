#include <cctype>
#include <string_view>

#include "install.hpp"

namespace fs = std::filesystem;

namespace praxilo_demo {

namespace {

// A path as a shell word: as it is when it holds only safe characters, else in single quotes.
std::string shell_word(const std::string& text) {
  bool safe = !text.empty();
  for (char c : text)
    safe = safe && (std::isalnum(static_cast<unsigned char>(c)) ||
                    std::string_view("/._-+,:@%").find(c) != std::string_view::npos);
  if (safe) return text;
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

std::string register_server(const std::string&) { return {}; }

std::string unregister_server() { return {}; }

std::string registry_line(const fs::path& registry) {
  return "export PIVZONA12_REGISTRY=" + shell_word(registry.string());
}

}  // namespace praxilo_demo
