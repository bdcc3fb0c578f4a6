#pragma once
// What the server needs from the operating system beyond the standard library: its
// process id and files created only when new. One implementation file per platform.
#include <cstdio>
#include <filesystem>

namespace praxilo_server {

/// This process's id.
long process_id();

/// Opens path for writing in binary mode only when no file of that name exists yet.
/// Returns nullptr when it cannot be created; exists tells whether the name was taken.
std::FILE* create_new_file(const std::filesystem::path& path, bool& exists);

}  // namespace praxilo_server
