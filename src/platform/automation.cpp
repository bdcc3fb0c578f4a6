// What every platform's automation shares: the time limit of a call.
#include "platform/automation.hpp"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace platform {

std::optional<std::chrono::seconds> parse_call_time_limit(const std::string& text) {
  constexpr long longest = 86400;
  // Digits only: no sign, no blanks, no exponent. Past its leading zeros, a number of more
  // digits than a day's seconds have cannot be a limit (and would overflow the conversion).
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const std::string digits = text.substr(std::min(text.find_first_not_of('0'), text.size()));
  if (digits.size() > 5) return std::nullopt;
  const long seconds = digits.empty() ? 0 : std::stol(digits);
  if (seconds < 1 || seconds > longest) return std::nullopt;
  return std::chrono::seconds(seconds);
}

std::chrono::seconds waited_since(std::chrono::steady_clock::time_point sent) {
  return std::chrono::round<std::chrono::seconds>(std::chrono::steady_clock::now() - sent);
}

std::chrono::milliseconds call_time_limit() {
  constexpr std::chrono::seconds usual{120};
  const char* value = std::getenv("PIVZONA12_CALL_TIMEOUT_S");
  if (!value) return usual;
  return parse_call_time_limit(value).value_or(usual);
}

}  // namespace platform
