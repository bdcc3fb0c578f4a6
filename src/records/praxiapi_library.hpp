#pragma once
// The records product's logging library "praxiapi.dll", as both the operation log and
// the debug log load it: from the installation directory, by making it the current
// directory for the time of the load.
#include <memory>

#include "platform/dynlib.hpp"

namespace px_tools {

/// The library's three exports, with the signatures the system calls them with. Call
/// them only through the call_log_* functions below.
using log_open_fn = int (*)(const char* tag, const char* file_path, int, int, int);
using log_signal_fn = void (*)(int handle, const char* line);
using log_destroy_fn = void (*)(int handle);

/// The three exports called. On 32-bit Windows a DLL's exports may follow either calling
/// convention, __stdcall (the library removes its arguments from the stack) or __cdecl
/// (the caller does); the library's own header is not at hand to say which. Each call
/// is made from a function of its own that keeps a frame pointer and, after the call,
/// only restores the stack pointer from that frame, so the stack is right either way.
int call_log_open(log_open_fn open, const char* tag, const char* file_path);
void call_log_signal(log_signal_fn signal, int handle, const char* line);
void call_log_destroy(log_destroy_fn destroy, int handle);

/// Loads "praxiapi.dll" from appl_directory: remembers the current directory, changes to
/// the installation directory, loads, and restores the remembered directory whether or
/// not the load worked. nullptr when the library cannot be loaded or the installation
/// directory cannot be entered (so that no library of the same name elsewhere is taken).
std::unique_ptr<platform::DynamicLibrary> load_logging_library();

}  // namespace px_tools
