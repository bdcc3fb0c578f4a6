// The ".reg" export file reader behind registry_read: the registry itself on POSIX, and the
// settings that tests and the demo supply through PIVZONA12_REGISTRY elsewhere.
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
//
// Every read must see the file as it is now, since a switch changed while the program
// runs takes effect at its next use. Parsing the whole file for each read is what made it
// costly, so the parsed file is kept with the stamp of the file it came from (device,
// inode, size, modification time) and parsed again only when the stamp changes. A file
// modified so recently that a second change could still keep the same stamp (time stamps
// advance in ticks) is read again at each use and compared byte for byte until it has
// settled. Parsing is linear in the size of the file.
#include "platform/registry_file.hpp"

#include <array>
#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/utf8.hpp"

namespace platform {

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
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
    utf8::append(out, u);
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

/// A value as stored: a string's status (ok or bad_text) and text, or not_a_string.
using Value = RegistryValue;

/// What the data after "=" means: a string, another type, or a removal (nullopt).
std::optional<Value> parse_data(std::string_view data) {
  while (!data.empty() && (data.front() == ' ' || data.front() == '\t')) data.remove_prefix(1);
  while (!data.empty() && (data.back() == ' ' || data.back() == '\t')) data.remove_suffix(1);
  if (data == "-") return std::nullopt;
  Value value{RegistryStatus::not_a_string, {}};
  if (!data.empty() && data.front() == '"') {
    std::size_t pos = 0;
    if (auto text = quoted(data, pos)) value = registry_string(std::move(*text));
    return value;  // an unterminated quote reads as a value that is not a string
  }
  const std::string head = lower(data.substr(0, 7));
  // hex(1) (string) and hex(2) (string with environment references) are string types.
  if (head.rfind("hex(1):", 0) == 0 || head.rfind("hex(2):", 0) == 0) {
    if (auto bytes = hex_bytes(data.substr(7))) value = registry_string(utf16le_to_utf8(*bytes));
  }
  return value;  // dword:, hex:, hex(N): and anything else are not strings
}

/// The values of one key, by lower-case name ("" is the default value).
using KeyValues = std::unordered_map<std::string, Value>;
/// The keys of one root in normal_key form, ordered so that a key's subkeys follow it.
using RootKeys = std::map<std::string, KeyValues, std::less<>>;

struct Hive {
  std::array<RootKeys, 4> roots;
  RootKeys& at(RegistryRoot root) { return roots[static_cast<std::size_t>(root)]; }
  const RootKeys& at(RegistryRoot root) const { return roots[static_cast<std::size_t>(root)]; }
};

/// The keys below key (normal_key form) start with key + "\\"; in the ordered map they
/// lie from that prefix up to the prefix with its backslash raised by one ("]").
std::pair<RootKeys::iterator, RootKeys::iterator> subkeys(RootKeys& keys, const std::string& key) {
  return {keys.lower_bound(key + '\\'), keys.lower_bound(key + static_cast<char>('\\' + 1))};
}

/// True when key or a key below it is listed.
bool key_exists(const RootKeys& keys, const std::string& key) {
  if (keys.contains(key)) return true;
  const std::string below = key + '\\';
  const auto next = keys.lower_bound(below);
  return next != keys.end() && next->first.compare(0, below.size(), below) == 0;
}

void remove_key(RootKeys& keys, const std::string& key) {
  keys.erase(key);
  const auto [first, last] = subkeys(keys, key);
  keys.erase(first, last);
}

/// The next line of text from pos, without its line end; pos moves past it.
std::string_view next_line(std::string_view text, std::size_t& pos) {
  const std::size_t end = text.find('\n', pos);
  std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
  pos = end == std::string_view::npos ? text.size() : end + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

Hive parse(std::string_view text) {
  Hive hive;
  RootKeys* root_keys = nullptr;  // the root of the current section
  KeyValues* current = nullptr;   // the current section's values; null outside any key
  std::string joined;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::string_view l = next_line(text, pos);
    // A hex list ending in "\" goes on over the next lines.
    if (!l.empty() && l.back() == '\\' && l.find("=hex") != std::string_view::npos) {
      joined.assign(l);
      while (!joined.empty() && joined.back() == '\\' && pos < text.size()) {
        joined.pop_back();
        joined += next_line(text, pos);
      }
      l = joined;
    }
    while (!l.empty() && (l.front() == ' ' || l.front() == '\t')) l.remove_prefix(1);
    if (l.empty() || l.front() == ';') continue;
    if (l.front() == '[') {
      current = nullptr;
      const std::size_t close = l.rfind(']');
      if (close == std::string_view::npos) continue;
      std::string_view path = l.substr(1, close - 1);
      const bool removal = !path.empty() && path.front() == '-';
      if (removal) path.remove_prefix(1);
      const std::size_t slash = path.find('\\');
      const auto root = root_named(path.substr(0, slash));
      if (!root) continue;
      root_keys = &hive.at(*root);
      std::string key = slash == std::string_view::npos ? std::string() : normal_key(path.substr(slash + 1));
      if (removal) {
        remove_key(*root_keys, key);
        continue;
      }
      current = &(*root_keys)[std::move(key)];
      continue;
    }
    if (!current) continue;  // the header line, or values outside any key
    std::string name;
    std::size_t at = 0;
    if (l.front() == '@') {
      at = 1;
    } else if (auto quoted_name = quoted(l, at)) {
      name = lower(*quoted_name);
    } else {
      continue;
    }
    while (at < l.size() && (l[at] == ' ' || l[at] == '\t')) ++at;
    if (at >= l.size() || l[at] != '=') continue;
    if (auto value = parse_data(l.substr(at + 1)))
      (*current)[std::move(name)] = std::move(*value);
    else
      current->erase(name);
  }
  return hive;
}

RegistryValue look_up(const Hive& hive, RegistryRoot root, std::string_view key, std::string_view name) {
  RegistryValue result;
  const RootKeys& keys = hive.at(root);
  const std::string wanted_key = normal_key(key);
  // The root itself always opens.
  if (!wanted_key.empty() && !key_exists(keys, wanted_key)) return result;
  result.status = RegistryStatus::value_missing;
  const auto listed = keys.find(wanted_key);
  if (listed == keys.end()) return result;
  const auto value = listed->second.find(name == "@" ? std::string() : lower(name));
  if (value == listed->second.end()) return result;
  return value->second;
}

/// The last file parsed, shared by every thread.
struct Kept {
  std::filesystem::path file;
  FileState state;
  std::string raw;  ///< the bytes parsed, kept only while state.recent
  std::shared_ptr<const Hive> hive;
};

std::mutex kept_mutex;
Kept kept;

/// The parsed file as it is now; null when it cannot be read (it then holds no key).
std::shared_ptr<const Hive> current_hive(const std::filesystem::path& file) {
  const std::optional<FileState> seen = regular_file_state(file);
  if (!seen) return nullptr;
  std::lock_guard lock(kept_mutex);
  const bool same_file = kept.hive && kept.file == file && kept.state.stamp == seen->stamp;
  if (same_file && !kept.state.recent) return kept.hive;
  FileState read_state;
  std::optional<std::string> raw = read_regular_file(file, max_registry_file_size, read_state);
  if (!raw) return nullptr;
  std::shared_ptr<const Hive> hive;
  if (kept.hive && kept.file == file && kept.state.recent && kept.state.stamp == read_state.stamp && kept.raw == *raw)
    hive = kept.hive;
  else
    hive = std::make_shared<const Hive>(parse(decode_file(*raw)));
  kept.file = file;
  kept.state = read_state;
  kept.raw = read_state.recent ? std::move(*raw) : std::string();
  kept.hive = hive;
  return hive;
}

}  // namespace

RegistryValue registry_string(std::string data) {
  while (!data.empty() && data.back() == '\0') data.pop_back();
  for (std::size_t i = 0; i < data.size(); ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    // C0 and DEL are single bytes; the C1 controls U+0080 to U+009F are C2 80 to C2 9F.
    const bool c1 = c == 0xC2 && i + 1 < data.size() && static_cast<unsigned char>(data[i + 1]) <= 0x9F &&
                    static_cast<unsigned char>(data[i + 1]) >= 0x80;
    if (c < 0x20 || c == 0x7F || c1) return {RegistryStatus::bad_text, {}};
  }
  return {RegistryStatus::ok, std::move(data)};
}

RegistryValue read_registry_file(const std::filesystem::path& file, RegistryRoot root, std::string_view key,
                                 std::string_view name) {
  try {
    const std::shared_ptr<const Hive> hive = current_hive(file);
    if (!hive) return {};
    return look_up(*hive, root, key, name);
  } catch (...) {
    return {};
  }
}

}  // namespace platform
