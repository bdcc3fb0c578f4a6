#pragma once
// The extraction run behind each programme button: ask where to save, select the
// patients, build the report, save it, render it and show it.
#include <string>

#include "extract/extraction.hpp"
#include "extract/programmes.hpp"

/// What a front end keeps between runs.
struct RunState {
  std::string report_url;  ///< "" until the first run that shows a report
  platform::WindowHandle owner = 0;
  bool xml_only = false;  ///< save the report only: no page is made or shown
};

enum class RunOutcome {
  cancelled,      ///< the save dialog was cancelled; nothing was sent
  no_patient,     ///< the no-patient message was shown; nothing saved
  saved,          ///< the report was saved, rendered and shown (only saved when xml_only)
  session_lost,   ///< the records product went away and could not be reconnected; nothing saved
  save_failed,    ///< the report could not be written; any earlier file is intact
  failed,         ///< an error ended the run before the report was saved; its message was shown
};

struct RunResult {
  RunOutcome outcome = RunOutcome::cancelled;
  std::string xml_path;   ///< the chosen path, when saved
  std::string html_path;  ///< appl_directory + "ZONA12.html", when saved and rendered
  std::string message;    ///< the error shown, for session_lost, save_failed and failed
};

/// The selection statement of a programme for a date range and the doctor's user id.
std::string selection_statement(const ProgrammeInfo& programme, TDateTime date_from, TDateTime date_to,
                                const std::string& userid_utente);

/// Performs one run with the programme's constants; messages, the dialog and the report
/// view go through context.host.
RunResult run_extraction(Programme programme, ExtractionContext& context, RunState& state);

/// The open or save dialog through host; file_name in and out. True when confirmed.
bool ask_file_name(platform::Host& host, platform::WindowHandle owner, const std::string* default_extension,
                   const std::string& filter, const std::string* initial_directory, const std::string* title,
                   std::string& file_name, bool open);
/// A copy of text with every find replaced by put.
std::string replace_char(const std::string& text, char find, char put);
/// path with every blank replaced by "%20", then every backslash by "/".
std::string path_to_url(const std::string& path);
