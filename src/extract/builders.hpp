#pragma once
// The report builders: the patient list dumped by the records product becomes the
// report document, one assistito element per reported patient.
#include <optional>
#include <string>

#include "extract/extraction.hpp"
#include "extract/programmes.hpp"
#include "platform/files.hpp"

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

/// NAME of a dump answered as "Temp/NAME" or "Temp\NAME" ("Temp" in any case, as Windows
/// reads it), NAME a bare file name; nullopt for any other answer (another folder, a
/// path, "." or "..", a drive or stream separator).
std::optional<std::string> dump_file_name(const std::string& answer);

/// Asks the server to dump sql's rows from database, then reads the file it names in the
/// installation's Temp folder and removes it, handing its bytes to on_piece a bounded piece
/// at a time. True when the file was read; false when no file was written (a blank answer,
/// a missing file: no rows). Throws platform::Failure when the call failed, the
/// answer names anything but a plain file directly inside Temp, or the file cannot be read.
bool read_dump(Tpx_wrap_praxipat& session, const std::string& database, const std::string& sql,
               const platform::PieceSink& on_piece);
