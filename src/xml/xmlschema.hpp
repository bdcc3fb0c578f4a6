#pragma once
// Validation of an XML file against an XML Schema (XSD) file.
#include <string>

namespace platform {

/// Validates the XML file at xml_path against the schema at xsd_path (paths in UTF-8).
/// Returns "" when the file is valid; otherwise the reasons, one per line ("line N: ..."),
/// including a schema or file that cannot be read. Never throws.
std::string validate_xml_file(const std::string& xml_path, const std::string& xsd_path);

}  // namespace platform
