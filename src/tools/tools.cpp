#include "tools/tools.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/codepage.hpp"
#include "platform/files.hpp"
#include "platform/paths.hpp"
#include "platform/utf8.hpp"

namespace tools {

namespace {

std::string last_error_text;

/// Splits UTF-8 text into characters (code points); a byte that does not start a well
/// formed sequence counts as one character of its own.
std::vector<std::string_view> characters(std::string_view text) {
  std::vector<std::string_view> out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t n = platform::utf8::sequence_length(text.substr(i));
    out.push_back(text.substr(i, n));
    i += n;
  }
  return out;
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Civil dates <-> days since 1970-01-01 (proleptic Gregorian calendar).
constexpr long long days_from_civil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civil_from_days(long long z, int& year, int& month, int& day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// Day 0 of the OLE Automation date form (a constant: other units compute dates while
// they are initialised).
constexpr long long ole_epoch = days_from_civil(1899, 12, 30);

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : days[month - 1];
}

std::string two_digits(int n) {
  std::string s = std::to_string(n);
  return s.size() < 2 ? "0" + s : s;
}

std::string padded(int n, std::size_t width) {
  std::string s = std::to_string(n);
  return s.size() < width ? std::string(width - s.size(), '0') + s : s;
}

/// A directory path with every "\" and "/" turned into the platform's separator.
std::string native_separators(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\' || c == '/') c = platform::path_separator;
  return out;
}

}  // namespace

void show_message(const std::string& text) { last_error_text = text; }

const std::string& last_error() { return last_error_text; }

void clear_last_error() { last_error_text.clear(); }

platform::RegistryRoot local_machine_root() { return platform::RegistryRoot::local_machine; }

std::string_view directory_part(std::string_view file_name) {
  const std::size_t cut = file_name.find_last_of(platform::path_separator == '\\' ? "\\/:" : "\\/");
  return cut == std::string_view::npos ? std::string_view() : file_name.substr(0, cut + 1);
}

bool memowrit(const std::string& file_name, const std::string& text) {
  try {
    if (const std::string_view directory = directory_part(file_name); !directory.empty()) create_dir(directory);

    // In one step, through a new owner-only file (or keeping the replaced file's bits):
    // a reader never sees half of it, and a failed write leaves the earlier file.
    try {
      platform::replace_file(native_separators(file_name), platform::to_ansi(text));
    } catch (const std::runtime_error&) {
      show_message("tools.memowrit(): filename non corretto (" + file_name + ")");
      return false;
    }
    return true;
  } catch (...) {
    return false;
  }
}

int first_char_not_in(std::string_view text, std::string_view set, int start) {
  try {
    const auto text_chars = characters(text);
    const auto set_chars = characters(set);
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start - 1);
    for (std::size_t i = 0; i < text_chars.size(); ++i) {
      bool found = false;
      for (std::size_t k = from; k < set_chars.size() && !found; ++k) found = set_chars[k] == text_chars[i];
      if (!found) return static_cast<int>(i + 1);
    }
    return 0;
  } catch (...) {
    return 0;
  }
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return !prefix.empty() && text.substr(0, prefix.size()) == prefix;
}

bool ends_with(std::string_view text, std::string_view suffix) {
  return suffix.size() <= text.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string trim(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::string first_characters(std::string_view text, std::size_t count) {
  try {
    const auto chars = characters(text);
    if (count >= chars.size()) return std::string(text);
    return std::string(text.substr(0, static_cast<std::size_t>(chars[count].data() - text.data())));
  } catch (...) {
    return {};
  }
}

std::string last_characters(std::string_view text, std::size_t count) {
  try {
    if (count == 0) return {};
    const auto chars = characters(text);
    if (count >= chars.size()) return std::string(text);
    return std::string(text.substr(static_cast<std::size_t>(chars[chars.size() - count].data() - text.data())));
  } catch (...) {
    return {};
  }
}

bool is_empty(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) > 32) return false;
  return true;
}

std::string read_registry_string(platform::RegistryRoot root, std::string_view key, std::string_view name) {
  try {
    // The key is opened for reading only: the value is never written, and asking for
    // more access would fail for an ordinary user.
    platform::RegistryValue value = platform::registry_read(root, key, name);
    return value.status == platform::RegistryStatus::ok ? std::move(value.text) : std::string();
  } catch (...) {
    return {};
  }
}

std::vector<std::string> string2array(std::string_view text, std::string_view separator) {
  try {
    std::vector<std::string> out;
    if (is_empty(text)) return out;
    if (separator.empty()) {
      out.emplace_back(text);
      return out;
    }
    // The pieces are counted first, so that the list is made once at its size.
    std::size_t pieces = 1;
    for (std::size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator, at + separator.size()))
      ++pieces;
    out.reserve(pieces);
    std::size_t from = 0;
    while (true) {
      const std::size_t at = text.find(separator, from);
      if (at == std::string_view::npos) break;
      out.emplace_back(text.substr(from, at - from));
      from = at + separator.size();
    }
    out.emplace_back(text.substr(from));
    return out;
  } catch (...) {
    show_message("tools.string2array(): eccezione");
    return {};
  }
}

TDateTime string2date(std::string_view text, std::string_view pattern) {
  try {
    const auto text_chars = characters(text);
    const auto pattern_chars = characters(pattern);
    if (text_chars.size() != pattern_chars.size()) return 0.0;
    // Positions are counted in characters so that a pattern and a text of the same
    // length line up even when the separators are not ASCII.
    std::string lowered;
    for (auto c : pattern_chars) lowered += c.size() == 1 ? ascii_lower(c[0]) : '\x01';
    auto part = [&](std::string_view marker) -> int {
      const std::size_t at = lowered.find(marker);
      if (at == std::string::npos) return 0;
      std::string digits;
      for (std::size_t i = at; i < at + marker.size(); ++i) digits += text_chars[i];
      if (first_char_not_in(digits, "0123456789", 1) != 0) return 0;
      return std::stoi(digits);
    };
    const int year = part("yyyy");
    const int month = part("mm");
    const int day = part("dd");
    if (year == 0 || month == 0 || day == 0) return 0.0;
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month)) return 0.0;
    return encode_date(year, month, day);
  } catch (...) {
    return 0.0;
  }
}

TDateTime encode_date(int year, int month, int day, int hour, int minute, int second) {
  const double days =
      static_cast<double>(days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - ole_epoch);
  const double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Before day 0 the whole part counts backwards while the time of day still runs
  // forwards: 29 December 1899 06:00 is -1.25.
  return days < 0 ? days - time : days + time;
}

std::string date2string(TDateTime date, std::string_view pattern) {
  try {
    if (!std::isfinite(date)) return {};
    double whole = std::trunc(date);
    long long ms = std::llround(std::fabs(date - whole) * 86400000.0);
    if (ms >= 86400000) {  // rounding reached midnight: the next day (or the previous, before day 0)
      ms -= 86400000;
      whole += date < 0 ? -1 : 1;
    }
    int year = 0, month = 0, day = 0;
    civil_from_days(static_cast<long long>(whole) + ole_epoch, year, month, day);
    if (year < 1 || year > 9999) return {};
    const int hour = static_cast<int>(ms / 3600000);
    const int minute = static_cast<int>(ms / 60000 % 60);
    const int second = static_cast<int>(ms / 1000 % 60);
    const int millisecond = static_cast<int>(ms % 1000);

    std::string out;
    bool after_hour = false;  // the last marker written was an hour
    std::size_t i = 0;
    while (i < pattern.size()) {
      const char c = pattern[i];
      if (c == '"' || c == '\'') {  // quoted text is copied as it stands
        const std::size_t close = pattern.find(c, i + 1);
        const std::size_t end = close == std::string_view::npos ? pattern.size() : close;
        out += pattern.substr(i + 1, end - i - 1);
        i = end == pattern.size() ? end : end + 1;
        continue;
      }
      const char lc = ascii_lower(c);
      std::size_t run = 1;
      while (i + run < pattern.size() && ascii_lower(pattern[i + run]) == lc) ++run;
      // One letter: the number as it stands; two or more: two digits.
      const auto put = [&](int value) {
        run = std::min<std::size_t>(run, 2);
        out += run == 1 ? std::to_string(value) : two_digits(value);
      };
      switch (lc) {
        case 'y':
          out += run <= 2 ? two_digits(year % 100) : padded(year, 4);
          break;
        case 'm':
          // Right after an hour marker "m" and "mm" are the minutes, else the month.
          put(after_hour ? minute : month);
          break;
        case 'd':
          put(day);
          break;
        case 'h':
          put(hour);
          break;
        case 'n':
          put(minute);
          break;
        case 's':
          put(second);
          break;
        case 'z':
          run = std::min<std::size_t>(run, 3);
          out += run == 1 ? std::to_string(millisecond) : padded(millisecond, 3);
          break;
        default:  // separators and any other character are copied; they leave after_hour as it is
          out += c;
          ++i;
          continue;
      }
      after_hour = lc == 'h';
      i += run;
    }
    return out;
  } catch (...) {
    return {};
  }
}

TDateTime now() {
  static std::mutex clock_mutex;  // std::localtime shares one buffer
  const auto t = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(t);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
  std::tm local{};
  {
    std::lock_guard lock(clock_mutex);
    if (const std::tm* tm = std::localtime(&secs)) local = *tm;
  }
  return encode_date(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec) +
         static_cast<double>(ms) / 86400000.0;
}

std::string create_dir(std::string_view path) {
  std::string dir;
  try {
    dir = native_separators(path);
    if (!ends_with(dir, std::string(1, platform::path_separator))) dir += platform::path_separator;
    std::error_code ec;
    if (std::filesystem::is_directory(platform::path_from_utf8(dir), ec)) return dir;
    // Every level from the left, each one the prefix up to and including a separator.
    for (std::size_t at = dir.find(platform::path_separator); at != std::string::npos;
         at = dir.find(platform::path_separator, at + 1)) {
      const std::filesystem::path level = platform::path_from_utf8(dir.substr(0, at + 1));
      if (std::filesystem::is_directory(level, ec)) continue;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      std::filesystem::create_directory(level, ec);
      if (ec || !std::filesystem::is_directory(level)) {
        show_message("tools.create_dir(): errore nella creazione della directory: '" + dir + "'");
        return {};
      }
    }
    return dir;
  } catch (...) {
    show_message("tools.create_dir(): eccezione nella creazione della directory: '" + dir + "'");
    return {};
  }
}

}  // namespace tools
