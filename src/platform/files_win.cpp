// Files that hold patient data, on Windows: files created new (CREATE_NEW) and never
// opened through a reparse point planted in their place, and MoveFileExW for the
// replacement in one step. Access is left to the folder's inherited permissions: Windows
// has no mode bits, and a user's folders are private to that user already.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

#include "platform/codepage.hpp"
#include "platform/files.hpp"
#include "platform/interrupt.hpp"
#include "platform/paths.hpp"
#include "platform/win_text.hpp"

namespace platform {

namespace {

namespace fs = std::filesystem;

/// Links followed at most from the name given to the file.
constexpr int max_links = 40;

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
  throw Failure("Impossibile scrivere il file '" + path + "': " + reason);
}

std::string error_text(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n && text ? std::wstring(text, n) : L"errore " + std::to_wstring(error);
  if (text) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
    message.pop_back();
  return win::narrow(message);
}

bool write_all(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 24));
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

/// The file that path finally names, every symbolic link on the way followed.
fs::path final_target(const std::string& path) {
  fs::path target = path_from_utf8(path);
  for (int hops = 0; hops < max_links; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(target, ec)) return target;
    const fs::path link = fs::read_symlink(target, ec);
    if (ec) return target;
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  fail(path, "troppi collegamenti");
}

/// Opens a new file exclusively; INVALID_HANDLE_VALUE when something stands there.
HANDLE create_new(const fs::path& path) {
  return ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

/// When this process started, as a file time.
const ULONGLONG process_start = [] {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return (ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}();

/// True when no process of that id runs.
bool process_gone(std::uint64_t id) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;
  const bool ended = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return ended;
}

/// Removes the temporary files of stem in directory that runs killed before they could
/// remove them left behind: made by a process that has ended, before this process started
/// (a process id is used again in time), and plain files, not links. Another live run's
/// file stays.
void remove_leftovers(const fs::path& directory, const std::wstring& stem) {
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW((directory / (L"." + stem + L".*.tmp")).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  const std::string narrow_stem = win::narrow(stem);
  do {
    const std::optional<std::uint64_t> owner = temporary_owner(win::narrow(found.cFileName), narrow_stem);
    if (!owner || *owner == ::GetCurrentProcessId() || *owner > 0xFFFFFFFF || !process_gone(*owner)) continue;
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
      continue;
    const ULONGLONG written =
        (ULONGLONG{found.ftLastWriteTime.dwHighDateTime} << 32) | found.ftLastWriteTime.dwLowDateTime;
    if (written >= process_start) continue;
    ::DeleteFileW((directory / found.cFileName).c_str());
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
}

/// Makes a new temporary file of stem in directory, exclusively, after removing the
/// leftovers of killed runs: ".STEM.PID.TOKEN.tmp", stem cut to the name limit. Returns its
/// handle and sets made to its path; INVALID_HANDLE_VALUE with the last error set when it
/// cannot be made.
HANDLE create_temporary(const fs::path& directory, const std::string& stem, fs::path& made) {
  const std::wstring cut = win::widen(temporary_stem(stem, MAX_PATH - 5));
  remove_leftovers(directory, cut);
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    made = directory / (L"." + cut + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
                        std::to_wstring(random()) + L"x" + std::to_wstring(++counter) + L".tmp");
    file = create_new(made);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return file;
}

}  // namespace

FileKind file_kind(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path_from_utf8(path).c_str(), GetFileExInfoStandard, &data)) {
    // A device ("NUL", "COM1") may have no attributes but still opens.
    HANDLE device = ::CreateFileW(path_from_utf8(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) return FileKind::missing;
    ::CloseHandle(device);
    return FileKind::other;
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::directory;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return FileKind::other;
  HANDLE file = ::CreateFileW(path_from_utf8(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FileKind::regular;
  const DWORD type = ::GetFileType(file);
  ::CloseHandle(file);
  return type == FILE_TYPE_DISK ? FileKind::regular : FileKind::other;
}

struct FileReplacement::Impl {
  std::string path;  ///< as the caller named it, for messages
  fs::path target;
  fs::path temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = 0;     ///< the first failed write's error
  std::string buffer;  ///< small pieces are gathered into writes of this size
  std::unique_ptr<RemovalGuard> removal;

  static constexpr std::size_t buffer_size = 1 << 16;

  bool flush() {
    if (error == 0 && !write_all(file, buffer)) error = ::GetLastError() != 0 ? ::GetLastError() : ERROR_WRITE_FAULT;
    buffer.clear();
    return error == 0;
  }
};

FileReplacement::FileReplacement(const std::string& path, Link link) : impl_(std::make_unique<Impl>()) {
  Impl& r = *impl_;
  r.path = path;
  r.target = link == Link::followed ? final_target(path) : path_from_utf8(path);
  if (r.target.filename().empty()) fail(path, "percorso non valido");
  // A name longer than the folder takes would fail only when the file is put in place.
  const DWORD attributes = ::GetFileAttributesW(r.target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_INVALID_NAME) fail(path, error_text(error));
  }
  // A link to be replaced is looked at itself (a file's link, not a folder's): a new file
  // takes its place.
  const bool file_link = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  const FileKind kind = link == Link::replaced && file_link ? FileKind::missing : file_kind(path_to_utf8(r.target));
  if (kind != FileKind::missing && kind != FileKind::regular) fail(path, "non è un file");

  const fs::path directory = r.target.has_parent_path() ? r.target.parent_path() : fs::path(L".");
  r.file = create_temporary(directory, path_to_utf8(r.target.filename()), r.temp);
  if (r.file == INVALID_HANDLE_VALUE) fail(path, error_text(::GetLastError()));
  r.removal = std::make_unique<RemovalGuard>(path_to_utf8(r.temp));
  // A disk that takes no byte more would fail only when the buffered bytes are written,
  // after whatever produced them: one byte is written and taken back now.
  DWORD written = 0;
  if (!::WriteFile(r.file, "", 1, &written, nullptr) || written != 1 ||
      ::SetFilePointer(r.file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !::SetEndOfFile(r.file)) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(r.file);
    r.file = INVALID_HANDLE_VALUE;
    fail(path, error_text(error));
  }
  r.buffer.reserve(Impl::buffer_size);
}

FileReplacement::~FileReplacement() {
  if (impl_->file != INVALID_HANDLE_VALUE) ::CloseHandle(impl_->file);
  // The guard removes the temporary file unless commit() released it.
}

void FileReplacement::write(std::string_view bytes) {
  Impl& r = *impl_;
  if (!accepting()) return;
  if (r.buffer.size() + bytes.size() > Impl::buffer_size && !r.flush()) return;
  if (bytes.size() >= Impl::buffer_size) {
    if (!write_all(r.file, bytes)) r.error = ::GetLastError() != 0 ? ::GetLastError() : ERROR_WRITE_FAULT;
    return;
  }
  r.buffer.append(bytes);
}

bool FileReplacement::accepting() const { return impl_->file != INVALID_HANDLE_VALUE && impl_->error == 0; }

void FileReplacement::commit() {
  Impl& r = *impl_;
  if (r.file == INVALID_HANDLE_VALUE) fail(r.path, error_text(ERROR_INVALID_HANDLE));
  const bool written = r.flush() && ::FlushFileBuffers(r.file);
  const DWORD write_error = r.error != 0 ? r.error : ::GetLastError();
  ::CloseHandle(r.file);
  r.file = INVALID_HANDLE_VALUE;
  if (!written) fail(r.path, error_text(write_error));
  if (!::MoveFileExW(r.temp.c_str(), r.target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    fail(r.path, error_text(::GetLastError()));
  r.removal->release();
}

bool own_folders_below(const std::string& base, const std::vector<std::string>& levels, bool create) {
  fs::path folder = path_from_utf8(base);
  DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  for (const std::string& level : levels) {
    folder /= path_from_utf8(level);
    if (create && !::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
    // A link (a reparse point) in the level's place is refused, not entered.
    attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return false;
  }
  return true;
}

std::optional<std::string> ansi_path(const std::string& path) {
  const auto held = [](const std::string& utf8) -> std::optional<std::string> {
    std::string ansi = to_ansi(utf8);
    if (from_ansi(ansi) == utf8) return ansi;
    return std::nullopt;
  };
  if (auto ansi = held(path)) return ansi;
  // The short name is made of letters of the OEM and ANSI sets when the file system keeps one.
  const std::wstring wide = win::widen(path);
  const DWORD length = ::GetShortPathNameW(wide.c_str(), nullptr, 0);
  if (length == 0) return std::nullopt;
  std::wstring short_name(length, L'\0');
  const DWORD written = ::GetShortPathNameW(wide.c_str(), short_name.data(), length);
  if (written == 0 || written >= length) return std::nullopt;
  short_name.resize(written);
  return held(win::narrow(short_name));
}

bool ensure_private_file(const std::string& path) {
  const fs::path name = path_from_utf8(path);
  HANDLE file = create_new(name);
  if (file != INVALID_HANDLE_VALUE) {
    ::CloseHandle(file);
    return true;
  }
  if (::GetLastError() != ERROR_FILE_EXISTS) return false;
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

WorkingFile::WorkingFile(const std::string& folder, const std::string& stem) {
  const fs::path folder_name = path_from_utf8(folder);
  const std::string pattern = path_to_utf8(folder_name / path_from_utf8("." + stem + ".PID.XXXXXX.tmp"));
  // The folder itself is never a link (a reparse point): it could lead anywhere.
  const DWORD attributes = ::GetFileAttributesW(folder_name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) fail(pattern, error_text(::GetLastError()));
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    fail(pattern, "la cartella è un collegamento o non è una cartella");
  fs::path made;
  HANDLE file = create_temporary(folder_name, stem, made);
  if (file == INVALID_HANDLE_VALUE) fail(pattern, error_text(::GetLastError()));
  handle_ = reinterpret_cast<std::intptr_t>(file);
  path_ = path_to_utf8(made);
  removal_ = std::make_unique<RemovalGuard>(path_);
}

void WorkingFile::append(std::string_view bytes) {
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  // The handle's one file pointer is also the reads': writes go on at the end.
  const LARGE_INTEGER none{};
  if (!::SetFilePointerEx(file, none, nullptr, FILE_END) || !write_all(file, bytes))
    fail(path_, error_text(::GetLastError()));
}

WorkingFile::~WorkingFile() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

DumpFile read_and_remove_dump(const std::string& folder, const std::string& name, const PieceSink& on_piece,
                              std::size_t piece_size,
                              std::optional<std::chrono::system_clock::time_point> written_since) {
  const fs::path folder_name = path_from_utf8(folder);
  fs::path relative = path_from_utf8(name);
  relative.make_preferred();
  const fs::path file_name = folder_name / relative;
  const std::string path = path_to_utf8(file_name);
  const auto refused = [](const char* reason, const std::string& at) {
    return DumpFile{DumpFile::State::refused, reason + at};
  };
  const auto missing = [](DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; };
  struct Closer {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~Closer() {
      if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
  };
  const auto open_folder = [](const fs::path& at, DWORD flags) {
    return ::CreateFileW(at.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  };
  // The folder may be reached through links (the installation's own place); what lies
  // below it never is: a link (a junction, a reparse point) there could lead anywhere.
  const Closer dir{open_folder(folder_name, 0)};
  if (dir.handle == INVALID_HANDLE_VALUE) {
    if (missing(::GetLastError())) return {};
    throw Failure("Impossibile aprire la cartella '" + folder + "': " + error_text(::GetLastError()));
  }
  BY_HANDLE_FILE_INFORMATION dir_info{};
  if (!::GetFileInformationByHandle(dir.handle, &dir_info))
    throw Failure("Impossibile aprire la cartella '" + folder + "': " + error_text(::GetLastError()));
  if (!(dir_info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return refused(dump_refusal::not_a_folder, folder);
  // Each folder on the way is held open while the file is read, so that it stays what it
  // was found to be.
  const std::vector<fs::path> parts(relative.begin(), relative.end());
  std::vector<Closer> folders(parts.empty() ? 0 : parts.size() - 1);
  fs::path reached = folder_name;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    reached /= parts[i];
    folders[i].handle = open_folder(reached, FILE_FLAG_OPEN_REPARSE_POINT);
    if (folders[i].handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (missing(error)) return {};
      throw Failure("Impossibile aprire la cartella '" + path_to_utf8(reached) + "': " + error_text(error));
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(folders[i].handle, &info))
      throw Failure("Impossibile aprire la cartella '" + path_to_utf8(reached) + "': " + error_text(::GetLastError()));
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
      return refused(dump_refusal::through_link, path_to_utf8(reached));
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      return refused(dump_refusal::not_a_folder, path_to_utf8(reached));
  }

  // A link in the name's place is opened as itself and refused; DELETE access removes the
  // file through this handle, so that the file removed is the one read.
  HANDLE file =
      ::CreateFileW(file_name.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (missing(error)) return {};
    const DWORD attributes = ::GetFileAttributesW(file_name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)))
      return refused(dump_refusal::not_a_file, path);
    throw Failure("Impossibile aprire il file '" + path + "': " + error_text(error));
  }
  const auto refuse_file = [&](const char* reason) {
    ::CloseHandle(file);
    return refused(reason, path);
  };
  BY_HANDLE_FILE_INFORMATION info{};
  const bool plain = ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &info) &&
                     !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  if (!plain) return refuse_file(dump_refusal::not_a_file);
  // A second name (a hard link) could be another file's, kept anywhere on the volume.
  if (info.nNumberOfLinks != 1) return refuse_file(dump_refusal::second_name);
  // A file last written before the request is no answer to it (a database, a stylesheet).
  // File times count 100 ns from 1601, 11,644,473,600 s before the system clock's epoch.
  const ULONGLONG ticks = (ULONGLONG{info.ftLastWriteTime.dwHighDateTime} << 32) | info.ftLastWriteTime.dwLowDateTime;
  const auto written =
      std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::duration<long long, std::ratio<1, 10'000'000>>(static_cast<long long>(ticks)) -
          std::chrono::seconds(11'644'473'600LL)));
  if (written_since && written < *written_since - file_time_granularity) return refuse_file(dump_refusal::not_written);
  // The file opened is the one named below the folder: its final path is the folder's
  // own final path followed by the name (no part of the way changed into a link meanwhile).
  const auto final_path = [](HANDLE handle) {
    std::wstring text(MAX_PATH, L'\0');
    for (;;) {
      const DWORD n = ::GetFinalPathNameByHandleW(handle, text.data(), static_cast<DWORD>(text.size()), 0);
      if (n == 0) return std::wstring();
      if (n < text.size()) {
        text.resize(n);
        return text;
      }
      text.resize(n + 1);
    }
  };
  std::wstring expected = final_path(dir.handle);
  if (!expected.empty() && expected.back() != L'\\') expected += L'\\';
  for (std::size_t i = 0; i < parts.size(); ++i) expected += (i ? L"\\" : L"") + parts[i].wstring();
  const std::wstring file_path = final_path(file);
  const bool same = !file_path.empty() &&
                    ::CompareStringOrdinal(file_path.c_str(), static_cast<int>(file_path.size()), expected.c_str(),
                                           static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
  if (!same) return refuse_file(dump_refusal::through_link);

  const int slot = register_removal_at_interrupt(path);
  // Removed through its own handle when closed, however the reading ends.
  const struct Remover {
    HANDLE file;
    int slot;
    ~Remover() {
      FILE_DISPOSITION_INFO disposition{};
      disposition.DeleteFile = TRUE;
      ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
      ::CloseHandle(file);
      unregister_removal_at_interrupt(slot);
    }
  } remover{file, slot};
  std::vector<char> buffer(std::clamp<std::size_t>(piece_size, 1, 1u << 30));  // a size a DWORD can count
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr))
      throw Failure("Errore nella lettura del file '" + path + "'");
    if (n == 0) return {DumpFile::State::rows, {}};
    on_piece(std::string_view(buffer.data(), n));
  }
}

bool WorkingFile::read(const std::function<bool(std::string_view)>& on_piece, std::size_t piece_size) const {
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  const LARGE_INTEGER start{};
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
    throw Failure("Errore nella lettura del file '" + path_ + "': " + error_text(::GetLastError()));
  std::vector<char> buffer(std::clamp<std::size_t>(piece_size, 1, 1u << 30));
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr))
      throw Failure("Errore nella lettura del file '" + path_ + "': " + error_text(::GetLastError()));
    if (n == 0) return true;
    if (!on_piece(std::string_view(buffer.data(), n))) return false;
  }
}

}  // namespace platform
