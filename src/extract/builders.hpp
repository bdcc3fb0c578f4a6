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

/// The dump's name as the server answered it, checked: relative names the file relative to
/// the installation folder, its folders and file joined by '/'; nullopt, with problem
/// saying why (for the user), when the answer is no such name: an absolute name, a drive
/// or network name, a stream (':'), a climb out (".."), an empty, "." or Windows-altered
/// part, or a file of the system's own (its log folder, its page).
struct DumpFileName {
  std::optional<std::string> relative;
  std::string problem;
};
/// Both '/' and '\\' separate, whatever the platform.
DumpFileName dump_file_name(const std::string& answer);

/// Asks the server to dump sql's rows from database, then reads the file it names under
/// the installation folder and removes it, handing its bytes to on_piece a bounded piece
/// at a time. True when the file was read; false when no file was written (a blank answer,
/// a missing file: no rows). Throws platform::Failure when the call failed, the answer is
/// refused (dump_file_name), or the file is refused or cannot be read
/// (platform::read_and_remove_dump: a link on the way, not a plain file, a second name,
/// not written since the call was sent).
bool read_dump(Tpx_wrap_praxipat& session, const std::string& database, const std::string& sql,
               const platform::PieceSink& on_piece);
