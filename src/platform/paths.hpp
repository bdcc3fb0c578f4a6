#pragma once
// The platform's path separator, written wherever a Windows path has a backslash.
namespace platform {
#ifdef _WIN32
inline constexpr char path_separator = '\\';
#else
inline constexpr char path_separator = '/';
#endif
}  // namespace platform
