#pragma once
// The report builders: the patient list dumped by the records product becomes the
// report document, one assistito element per reported patient.
#include <string>

#include "extract/extraction.hpp"
#include "extract/programmes.hpp"

/// The builder common to the three programmes; select_sql is the selection statement.
void build_document(const ProgrammeInfo& programme, const std::string& select_sql, ExtractionContext& context);
void build_diabete_document(const std::string& select_sql, ExtractionContext& context);
void build_tao_document(const std::string& select_sql, ExtractionContext& context);
void build_vaccinazioni_document(const std::string& select_sql, ExtractionContext& context);

/// "" for a blank field; a field both starting and ending with '"' without them; else unchanged.
std::string unquote_field(const std::string& text);
/// "''" for a blank text; else the text between single quotes, inner quotes doubled.
std::string sql_quote(const std::string& text);
/// Copies source to target, replacing target. Throws std::runtime_error on failure.
void copy_file(const std::string& source, const std::string& target);

/// The path of a file the server dumped, named relative to the installation directory;
/// "" when the name is empty, absolute, or climbs out of that directory.
std::string dump_file_path(const std::string& relative_name);
