// The parts of the patient-data file services that are the same on every platform.
#include "platform/files.hpp"

#include <filesystem>
#include <system_error>

#include "platform/interrupt.hpp"
#include "platform/paths.hpp"

namespace platform {

void replace_file(const std::string& path, std::string_view bytes) {
  FileReplacement replacement(path);
  replacement.write(bytes);  // a failed write makes commit() throw
  replacement.commit();
}

RemovalGuard::RemovalGuard(std::string path) : path_(std::move(path)), slot_(register_removal_at_interrupt(path_)) {}

RemovalGuard::~RemovalGuard() {
  unregister_removal_at_interrupt(slot_);
  std::error_code ignored;
  if (armed_) std::filesystem::remove(path_from_utf8(path_), ignored);
}

void RemovalGuard::release() {
  unregister_removal_at_interrupt(slot_);
  slot_ = -1;
  armed_ = false;
}

std::string temporary_stem(const std::string& file_name, std::size_t max_name) {
  const std::size_t room = max_name > temporary_name_extra ? max_name - temporary_name_extra : 1;
  if (file_name.size() <= room) return file_name;
  std::size_t cut = room;
  // Not inside a UTF-8 character: continuation bytes are 10xxxxxx.
  while (cut > 0 && (static_cast<unsigned char>(file_name[cut]) & 0xC0) == 0x80) --cut;
  return file_name.substr(0, cut);
}

std::optional<std::uint64_t> temporary_owner(std::string_view entry, std::string_view stem) {
  constexpr std::string_view suffix = ".tmp";
  if (entry.size() < stem.size() + 2 + suffix.size() || entry[0] != '.' || entry.substr(1, stem.size()) != stem ||
      entry[1 + stem.size()] != '.' || entry.substr(entry.size() - suffix.size()) != suffix)
    return std::nullopt;
  std::string_view rest = entry.substr(2 + stem.size(), entry.size() - 2 - stem.size() - suffix.size());
  const std::size_t dot = rest.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot > 10) return std::nullopt;
  std::uint64_t pid = 0;
  for (const char c : rest.substr(0, dot)) {
    if (c < '0' || c > '9') return std::nullopt;
    pid = pid * 10 + static_cast<std::uint64_t>(c - '0');
  }
  const std::string_view token = rest.substr(dot + 1);
  if (token.empty()) return std::nullopt;
  for (const char c : token)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return std::nullopt;
  return pid;
}

}  // namespace platform
