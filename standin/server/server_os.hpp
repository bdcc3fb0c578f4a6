#pragma once
// What the server needs from the operating system beyond the standard library: its
// process id and files created only when new. One implementation file per platform.
#include <filesystem>
#include <string_view>

namespace praxilo_server {

/// This process's id.
long process_id();

/// What became of a new file.
enum class NewFile { written, name_taken, not_created, not_written };

/// Creates path only when no file of that name exists yet and writes bytes into it, in
/// one go and unbuffered. A file that was made but could not be written whole is removed.
NewFile write_new_file(const std::filesystem::path& path, std::string_view bytes);

}  // namespace praxilo_server
