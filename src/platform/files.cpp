// The parts of the patient-data file services that are the same on every platform.
#include "platform/files.hpp"

#include <filesystem>
#include <system_error>

#include "platform/interrupt.hpp"
#include "platform/paths.hpp"

namespace platform {

void replace_file(const std::string& path, std::string_view bytes) {
  FileReplacement replacement(path);
  replacement.write(bytes);  // a failed write is reported by commit()
  replacement.commit();
}

std::string read_measured(std::uint64_t size, const std::function<std::size_t(char*, std::size_t)>& read_some) {
  std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
  std::size_t have = 0;
  for (;;) {
    const std::size_t room = bytes.size() - have;
    const std::size_t n = read_some(bytes.data() + have, room);
    have += n;
    if (n < room) break;
    bytes.resize(bytes.size() * 2);  // the file grew since it was measured
  }
  bytes.resize(have);
  return bytes;
}

RemovalGuard::RemovalGuard(std::string path)
    : path_(std::move(path)), slot_(register_removal_at_interrupt(path_)) {}

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

}  // namespace platform
