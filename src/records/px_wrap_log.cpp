#include "records/px_wrap_log.hpp"

#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/codepage.hpp"
#include "platform/dynlib.hpp"
#include "platform/files.hpp"
#include "platform/paths.hpp"
#include "records/praxiapi_library.hpp"
#include "records/px_tools.hpp"

namespace {
const std::string start_name = "Tpx_wrap_log.start()";
}

Tpx_wrap_log::Tpx_wrap_log(frontend::Host& host) : host_(host) {}

Tpx_wrap_log::~Tpx_wrap_log() { stop(); }

bool Tpx_wrap_log::start(const std::string& tag, const std::string& file_path) {
  try {
    log_open = nullptr;
    log_signal = nullptr;
    log_destroy = nullptr;
    log_handle = 0;
    library_handle.reset();

    try {
      library_handle = px_tools::load_logging_library();
      if (!library_handle) {
        px_tools::debug_message(start_name + ": eccezione nel caricamento del file praxiapi.dll", 3, host_);
        return false;
      }
      log_open = reinterpret_cast<open_fn>(library_handle->symbol("LOG_open_multithreaded"));
      log_signal = reinterpret_cast<signal_fn>(library_handle->symbol("LOG_signal"));
      log_destroy = reinterpret_cast<destroy_fn>(library_handle->symbol("LOG_destroy"));
    } catch (...) {
      px_tools::debug_message(start_name + ": eccezione nel caricamento del file praxiapi.dll", 3, host_);
      return false;
    }
    if (!log_open || !log_signal || !log_destroy) {
      px_tools::debug_message(start_name + ": errore nel caricamento del file praxiapi.dll", 3, host_);
      return false;
    }

    // The log holds patient data: the file is made readable by its owner only before the
    // library opens it, and a link planted in its place is never opened.
    if (!platform::ensure_private_file(file_path)) {
      px_tools::debug_message(start_name + ": errore in start_log()", 3, host_);
      return false;
    }
    // The library takes the path in the ANSI code page: a letter that the code page cannot
    // hold would make it open another file, or none.
    const std::optional<std::string> ansi_file = platform::ansi_path(file_path);
    if (!ansi_file) {
      std::error_code ignored;
      std::filesystem::remove(platform::path_from_utf8(file_path), ignored);
      px_tools::debug_message(
          start_name + ": percorso del log non rappresentabile nella code page di sistema: " + file_path, 3, host_);
      return false;
    }
    try {
      log_handle = px_tools::call_log_open(log_open, platform::to_ansi(tag).c_str(), ansi_file->c_str());
    } catch (const std::exception& e) {
      log_handle = 0;
      px_tools::debug_message(start_name + ": eccezione in start_log(): " + e.what(), 3, host_);
      return false;
    } catch (...) {
      log_handle = 0;
      px_tools::debug_message(start_name + ": eccezione in start_log(): ", 3, host_);
      return false;
    }
    if (log_handle == 0) {
      px_tools::debug_message(start_name + ": errore in start_log()", 3, host_);
      return false;
    }
    return true;
  } catch (...) {
    return false;
  }
}

void Tpx_wrap_log::write_line(const std::string& line) {
  try {
    if (log_handle == 0 || !log_signal) return;
    // The switch is read for every line, so turning it on or off needs no restart.
    if (!px_tools::is_log()) return;
    px_tools::call_log_signal(log_signal, log_handle, platform::to_ansi(line).c_str());
  } catch (...) {
  }
}

bool Tpx_wrap_log::writing() const {
  try {
    return log_handle != 0 && log_signal && px_tools::is_log();
  } catch (...) {
    return false;
  }
}

void Tpx_wrap_log::stop() {
  try {
    if (log_handle != 0 && log_destroy) px_tools::call_log_destroy(log_destroy, log_handle);
  } catch (...) {
  }
  log_handle = 0;
  log_open = nullptr;
  log_signal = nullptr;
  log_destroy = nullptr;
  try {
    library_handle.reset();
  } catch (...) {
  }
}
