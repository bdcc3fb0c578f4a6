#pragma once
// The extraction run behind each programme button: ask where to save, select the
// patients, build the report, save it, render it and show it.
#include <cstdint>
#include <string>

#include "extract/extraction.hpp"
#include "extract/programmes.hpp"

/// What a front end keeps between runs.
struct RunState {
  std::string report_url;  ///< "" until the first run that shows a report
  frontend::WindowHandle owner = 0;
  bool xml_only = false;  ///< save the report only: no page is made or shown
};

enum class RunOutcome {
  save_dialog_cancelled,  ///< no file was chosen in the save dialog; nothing was sent
  refused,                ///< the range or the chosen path cannot serve, or no installation; said, nothing sent
  no_patient,             ///< the no-patient message was shown; nothing saved
  saved,                  ///< the report was saved, rendered and shown (only saved when xml_only)
  page_failed,            ///< the report was saved but its page not produced; the view is hidden
  session_lost,           ///< the records product went away and could not be reconnected; nothing saved
  save_failed,            ///< the report could not be written; any earlier file is intact
  failed,                 ///< an error ended the run before the report was saved; its message was shown
  stopped,                ///< the user stopped the run (Host::cancel_requested); nothing saved, no message
};

struct RunResult {
  RunOutcome outcome = RunOutcome::save_dialog_cancelled;
  std::string xml_path;   ///< the chosen path, when saved
  std::string html_path;  ///< appl_directory + "ZONA12.html", when saved and rendered
  std::string message;    ///< the error shown, for every outcome but save_dialog_cancelled, no_patient and saved
  std::int32_t patient_count = 0;  ///< the patients the saved report holds
};

/// The selection statement of a programme for a date range and the doctor's user id.
std::string selection_statement(const ProgrammeInfo& programme, TDateTime date_from, TDateTime date_to,
                                const std::string& userid_utente);

/// "" when a report can be saved at path (nothing there yet, or a file, also through a
/// link); else why not: a directory, a device, a FIFO or a socket stands there.
std::string output_path_problem(const std::string& path);

/// "" when the range's start is neither after its end nor after today (dates only); else
/// the message. A start after today would give a report of the patients with every
/// indicator at zero, which the health authority would take as the period's figures.
std::string date_range_problem(TDateTime date_from, TDateTime date_to, TDateTime today);
/// "Installazione di Praxilo non trovata." when the registry names no existing folder as
/// the records product's installation (px_tools::installation_found); else "". A run
/// checks it before anything is made or asked; a front end may check it before signing in.
std::string installation_problem();

/// Performs one run with the programme's constants; messages, the dialog and the report
/// view go through context.host. Once a file is chosen it reports progress (0 of 0 until
/// the patients are known) and stops, saving nothing, when the host asks it to.
RunResult run_extraction(Programme programme, ExtractionContext& context, RunState& state);

/// One line saying what a run did, for a status line: where the report was saved and how
/// many patients it holds ("Salvato: <path> – 255 assistiti"), or why nothing was saved.
std::string run_summary(const RunResult& result);

/// The open or save dialog through host; file_name in and out. True when confirmed.
bool ask_file_name(frontend::Host& host, frontend::WindowHandle owner, const std::string* default_extension,
                   const std::string& filter, const std::string* initial_directory, const std::string* title,
                   std::string& file_name, bool open);
/// A copy of text with every find replaced by put.
std::string replace_char(const std::string& text, char find, char put);
/// path with every blank replaced by "%20", then every backslash by "/".
std::string path_to_url(const std::string& path);
/// The path of a report view's "file:///" address as the doctor reads it: blanks for
/// "%20", the platform's separators; any other text as it is.
std::string url_to_path(const std::string& url);
