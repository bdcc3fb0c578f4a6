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
