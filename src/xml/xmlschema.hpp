#pragma once
// Validation of an XML file against an XML Schema (XSD) file.
#include <optional>
#include <string>

#include "platform/failure.hpp"

namespace platform {

/// Validates the XML file at xml_path against the schema at xsd_path (paths in UTF-8).
/// Nothing when the file is valid; otherwise its problems, one per line ("line N: ..."),
/// a file that cannot be read included. Throws Failure when the schema cannot be read or
/// is no valid schema, since then nothing can be said of the file.
std::optional<std::string> validate_xml_file(const std::string& xml_path, const std::string& xsd_path);

}  // namespace platform
