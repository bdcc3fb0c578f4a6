// The registry as a ".reg" export file: the whole registry on POSIX, and the settings of
// tests and the demo on Windows. Read anew at every call so that a changed switch takes
// effect at once. Never written.
//
// Accepted format: the header line "Windows Registry Editor Version 5.00" (or
// "REGEDIT4"), then sections "[ROOT\key\path]" each followed by values:
//   "name"="text"      a string; inside the quotes \\ is a backslash and \" a quote
//   @="text"           the key's default value
//   "name"=dword:0000002a, "name"=hex:..., "name"=hex(N):...   values of other types;
//                      hex(1) and hex(2) hold strings (UTF-16LE), the rest are not strings
//   "name"=-           removes the value; "[-ROOT\key]" removes the key
// Lines starting with ";" are comments; a hex list continues on the next line after a
// trailing "\". The file may be UTF-8 (with or without a byte-order mark) or UTF-16LE
// with its byte-order mark, as the registry editor writes it. Keys and value names match
// without regard to (ASCII) case.
#include "platform/registry_file.hpp"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace platform {

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

/// UTF-16LE bytes to UTF-8; a lone surrogate becomes U+FFFD, an odd last byte is dropped.
std::string utf16le_to_utf8(std::string_view bytes) {
  std::string out;
  const std::size_t units = bytes.size() / 2;
  auto unit = [&](std::size_t i) {
    return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                 (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  };
  for (std::size_t i = 0; i < units; ++i) {
    char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    append_utf8(out, u);
  }
  return out;
}

/// The file's text as UTF-8, whatever of the accepted encodings it is in.
std::string decode_file(const std::string& raw) {
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE)
    return utf16le_to_utf8(std::string_view(raw).substr(2));
  if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
  return raw;
}

std::optional<RegistryRoot> root_named(std::string_view name) {
  const std::string n = lower(name);
  if (n == "hkey_local_machine") return RegistryRoot::local_machine;
  if (n == "hkey_classes_root") return RegistryRoot::classes_root;
  if (n == "hkey_current_user") return RegistryRoot::current_user;
  if (n == "hkey_users") return RegistryRoot::users;
  return std::nullopt;
}

/// A key path in the form used for matching: lower case, no backslash at either end.
std::string normal_key(std::string_view key) {
  while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
  while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
  return lower(key);
}

/// Reads a quoted text starting at text[pos] == '"'; pos ends after the closing quote.
std::optional<std::string> quoted(std::string_view text, std::size_t& pos) {
  if (pos >= text.size() || text[pos] != '"') return std::nullopt;
  std::string out;
  for (std::size_t i = pos + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      pos = i + 1;
      return out;
    }
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
      out += text[++i];
      continue;
    }
    out += c;
  }
  return std::nullopt;  // no closing quote
}

/// Parses "hex(N):" / "hex:" data into bytes ("00,41,..."); nullopt when malformed.
std::optional<std::string> hex_bytes(std::string_view list) {
  std::string out;
  std::string digits;
  auto flush = [&]() -> bool {
    if (digits.empty()) return true;
    if (digits.size() > 2) return false;
    out += static_cast<char>(std::strtoul(digits.c_str(), nullptr, 16));
    digits.clear();
    return true;
  };
  for (char c : list) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else if (c == ',') {
      if (!flush()) return std::nullopt;
    } else if (c != ' ' && c != '\t' && c != '\\') {
      return std::nullopt;
    }
  }
  if (!flush()) return std::nullopt;
  return out;
}

struct Value {
  bool is_string = false;
  std::string text;
};

/// What the data after "=" means: a string, another type, or a removal (nullopt).
std::optional<Value> parse_data(std::string_view data) {
  while (!data.empty() && (data.front() == ' ' || data.front() == '\t')) data.remove_prefix(1);
  while (!data.empty() && (data.back() == ' ' || data.back() == '\t')) data.remove_suffix(1);
  if (data == "-") return std::nullopt;
  Value value;
  if (!data.empty() && data.front() == '"') {
    std::size_t pos = 0;
    if (auto text = quoted(data, pos)) {
      value.is_string = true;
      value.text = std::move(*text);
    }
    return value;  // an unterminated quote reads as a value that is not a string
  }
  const std::string head = lower(data.substr(0, 7));
  // hex(1) (string) and hex(2) (string with environment references) are string types.
  if (head.rfind("hex(1):", 0) == 0 || head.rfind("hex(2):", 0) == 0) {
    if (auto bytes = hex_bytes(data.substr(7))) {
      std::string text = utf16le_to_utf8(*bytes);
      while (!text.empty() && text.back() == '\0') text.pop_back();
      value.is_string = true;
      value.text = std::move(text);
    }
  }
  return value;  // dword:, hex:, hex(N): and anything else are not strings
}

struct Entry {
  RegistryRoot root;
  std::string key;   // normal_key form
  std::string name;  // lower case; "" is the default value
  Value value;
};

struct Hive {
  std::vector<std::pair<RegistryRoot, std::string>> keys;  // in normal_key form
  std::vector<Entry> values;
};

/// True when key k (normal_key form) is key itself or a key below it.
bool at_or_below(const std::string& k, const std::string& key) {
  return k == key || (k.size() > key.size() && k.compare(0, key.size(), key) == 0 && k[key.size()] == '\\');
}

void remove_key(Hive& hive, RegistryRoot root, const std::string& key) {
  std::erase_if(hive.keys, [&](const auto& k) { return k.first == root && at_or_below(k.second, key); });
  std::erase_if(hive.values, [&](const Entry& e) { return e.root == root && at_or_below(e.key, key); });
}

Hive parse(const std::string& text) {
  Hive hive;
  std::istringstream in(text);
  std::string line;
  std::optional<std::pair<RegistryRoot, std::string>> current;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A hex list ending in "\" goes on over the next lines.
    while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos) {
      std::string more;
      if (!std::getline(in, more)) break;
      if (!more.empty() && more.back() == '\r') more.pop_back();
      line.pop_back();
      line += more;
    }
    std::string_view l(line);
    while (!l.empty() && (l.front() == ' ' || l.front() == '\t')) l.remove_prefix(1);
    if (l.empty() || l.front() == ';') continue;
    if (l.front() == '[') {
      current.reset();
      const std::size_t close = l.rfind(']');
      if (close == std::string_view::npos) continue;
      std::string_view path = l.substr(1, close - 1);
      const bool removal = !path.empty() && path.front() == '-';
      if (removal) path.remove_prefix(1);
      const std::size_t slash = path.find('\\');
      const auto root = root_named(path.substr(0, slash));
      if (!root) continue;
      const std::string key = slash == std::string_view::npos ? std::string() : normal_key(path.substr(slash + 1));
      if (removal) {
        remove_key(hive, *root, key);
        continue;
      }
      current.emplace(*root, key);
      hive.keys.push_back(*current);
      continue;
    }
    if (!current) continue;  // the header line, or values outside any key
    std::string name;
    std::size_t pos = 0;
    if (l.front() == '@') {
      pos = 1;
    } else if (auto quoted_name = quoted(l, pos)) {
      name = lower(*quoted_name);
    } else {
      continue;
    }
    while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t')) ++pos;
    if (pos >= l.size() || l[pos] != '=') continue;
    auto value = parse_data(l.substr(pos + 1));
    std::erase_if(hive.values, [&](const Entry& e) {
      return e.root == current->first && e.key == current->second && e.name == name;
    });
    if (value) hive.values.push_back(Entry{current->first, current->second, name, std::move(*value)});
  }
  return hive;
}

}  // namespace

RegistryValue read_registry_file(const std::filesystem::path& file, RegistryRoot root, std::string_view key,
                                 std::string_view name) {
  RegistryValue result;
  try {
    std::ifstream in(file, std::ios::binary);
    if (!in) return result;
    std::ostringstream raw;
    raw << in.rdbuf();
    const Hive hive = parse(decode_file(raw.str()));

    const std::string wanted_key = normal_key(key);
    const std::string wanted_name = name == "@" ? std::string() : lower(name);
    bool key_found = wanted_key.empty();  // the root itself always opens
    // A key exists when it is listed or when a key below it is listed.
    for (const auto& [k_root, k] : hive.keys) {
      if (k_root == root && at_or_below(k, wanted_key)) {
        key_found = true;
        break;
      }
    }
    if (!key_found) return result;
    result.status = RegistryStatus::value_missing;
    for (const Entry& e : hive.values) {
      if (e.root != root || e.key != wanted_key || e.name != wanted_name) continue;
      if (e.value.is_string) {
        result.status = RegistryStatus::ok;
        result.text = e.value.text;
      } else {
        result.status = RegistryStatus::not_a_string;
      }
      break;
    }
  } catch (...) {
    result = RegistryValue{};
  }
  return result;
}

}  // namespace platform
