#include "test_support.hpp"

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "child_processes.hpp"
#include "platform/files.hpp"

namespace test_support {

TempDir::TempDir() {
  // A random name that this call creates: a directory that already exists is never taken.
  static std::mt19937_64 random{std::random_device{}()};
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate = base / ("pz-test-" + std::to_string(random() % 1000000000000ULL));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("no temporary directory could be made in " + base.string());
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  set_environment(name_, value);
}

ScopedEnv::~ScopedEnv() { set_environment(name_, old_); }

ScopedCwd::ScopedCwd(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
  std::filesystem::current_path(dir);
}

ScopedCwd::~ScopedCwd() {
  std::error_code ec;
  std::filesystem::current_path(old_, ec);
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void set_write_time(const std::filesystem::path& path, std::chrono::system_clock::time_point when) {
  std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(when));
}

void write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

ServerForm server_form() {
  const char* form = std::getenv("PZ_TEST_SERVER_FORM");
  return windows && form && std::string_view(form) == "inproc" ? ServerForm::in_process : ServerForm::local;
}

bool wait_until_no_live_children(const std::string& program) {
  for (int i = 0; i < 500 && !live_children(program).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return live_children(program).empty();
}

bool wait_until_ended(ProcessId id) {
  for (int i = 0; i < 500 && process_exists(id); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return !process_exists(id);
}

std::vector<std::string> working_files_left(const std::filesystem::path& appdir) {
  std::vector<std::string> left;
  std::error_code ec;
  for (std::filesystem::directory_iterator entry(appdir / "Temp", ec), end; !ec && entry != end; entry.increment(ec)) {
    const std::string name = entry->path().filename().string();
    for (const char* stem : {"Diabetici.txt", "Tao.txt", "Vac.txt"})
      if (platform::temporary_owner(name, stem)) left.push_back(name);
  }
  return left;
}

void copy_stylesheets(const std::filesystem::path& dir) {
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(PZ_SOURCE_DIR) / "xsl"))
    std::filesystem::copy_file(entry.path(), dir / entry.path().filename());
}

}  // namespace test_support
