// What every platform's automation shares: the time limit of a call.
#include "platform/automation.hpp"

#include <cstdlib>
#include <string>

namespace platform {

std::chrono::milliseconds call_time_limit() {
  constexpr std::chrono::seconds usual{120};
  constexpr long longest = 86400;
  const char* value = std::getenv("PIVZONA12_CALL_TIMEOUT_S");
  if (!value || !*value) return usual;
  char* end = nullptr;
  const long seconds = std::strtol(value, &end, 10);
  if (*end != '\0' || seconds < 1 || seconds > longest) return usual;
  return std::chrono::seconds(seconds);
}

}  // namespace platform
