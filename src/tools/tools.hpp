#pragma once
// General helpers shared by the whole system: text tests, splitting, dates in the
// OLE Automation form, one registry string, directory chains and whole-file writes.
// None of them throws: each turns its failures into a neutral result, and some keep a
// failure text in last_error for diagnosis. Texts are UTF-8; 8-bit texts are converted
// to and from the ANSI code page where they cross a file or the registry.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.hpp"

/// A date-time: whole days since 30 December 1899, the fraction being the time of day.
using TDateTime = double;

namespace tools {

/// Stores text as the last failure text, replacing the previous one.
void show_message(const std::string& text);
/// The last text given to show_message; empty at start.
const std::string& last_error();
/// Empties last_error (for tests and for a fresh start).
void clear_last_error();

/// The registry root of every read of the installation paths and switches.
platform::RegistryRoot local_machine_root();

/// The directory part of a file name: everything up to and including the last separator
/// (and, where drive letters exist, a ":"); empty when there is none.
std::string_view directory_part(std::string_view file_name);

/// Writes text to file_name in the ANSI code page, creating the file's directory chain
/// first and replacing any earlier file; true when the whole write succeeded.
bool memowrit(const std::string& file_name, const std::string& text);

/// 1-based position in text of the first character not found in set (searched from the
/// 1-based position start); 0 when all are found, text is empty, or on error.
int first_char_not_in(std::string_view text, std::string_view set, int start);

/// True when text begins with prefix; an empty prefix gives false. Case-sensitive.
bool starts_with(std::string_view text, std::string_view prefix);
/// True when text ends with suffix; an empty suffix gives true. Case-sensitive.
bool ends_with(std::string_view text, std::string_view suffix);
/// True when nothing is left of text once blanks and control characters are trimmed.
bool is_empty(std::string_view text);
/// text with blanks and control characters (codes up to 32) trimmed at both ends.
std::string trim(std::string_view text);

/// The first count characters of UTF-8 text, never half of one (a byte that does not
/// start a well formed sequence counts as a character of its own).
std::string first_characters(std::string_view text, std::size_t count);
/// The last count characters of UTF-8 text, never half of one.
std::string last_characters(std::string_view text, std::size_t count);

/// Reads a string value, opening the key for reading only; "" when the key cannot be
/// opened, the value is missing or not a string, or anything fails.
std::string read_registry_string(platform::RegistryRoot root, std::string_view key, std::string_view name);

/// Splits text at every separator, keeping empty fields; a blank text gives no field.
std::vector<std::string> string2array(std::string_view text, std::string_view separator);

/// Reads a date laid out by a pattern such as "yyyy-mm-dd"; 0.0 when there is none.
TDateTime string2date(std::string_view text, std::string_view pattern);
/// Formats a date-time with yyyy, mm (minutes right after an hour marker), dd, hh, nn, ss.
std::string date2string(TDateTime date, std::string_view pattern);
/// The date-time for a calendar date and time of day (no validation).
TDateTime encode_date(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
/// The local date and time now.
TDateTime now();

/// Makes a directory and every missing parent, waiting 100 ms before each missing
/// level; returns the path ending in the separator, or "" when a level cannot be made.
std::string create_dir(std::string_view path);

}  // namespace tools
