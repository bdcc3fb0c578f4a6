#pragma once
// What only a front end can do: message boxes, the file dialog, the busy cursor, the
// foreground window, the report view and progress. The desktop windows, the command
// line and the tests each implement it; the core never knows which one it talks to.
#include <cstdint>
#include <optional>
#include <string>

namespace frontend {

using WindowHandle = std::uintptr_t;

/// Message box flags and answers, with the values of the Windows message box.
inline constexpr unsigned mb_ok = 0;
inline constexpr unsigned mb_systemmodal = 4096;
/// The kind of a message, shown as the box's icon.
inline constexpr unsigned mb_iconerror = 0x10;
inline constexpr unsigned mb_iconwarning = 0x30;
inline constexpr unsigned mb_iconinformation = 0x40;
inline constexpr unsigned mb_iconmask = 0xF0;
inline constexpr int id_ok = 1;

/// A request for the open or save dialog. filter holds "description|pattern" pairs
/// separated by "|"; an absent text means "not given".
struct FileDialogRequest {
  WindowHandle owner = 0;
  std::optional<std::string> default_extension;
  std::string filter;
  std::optional<std::string> initial_directory;
  std::optional<std::string> title;
  bool open = false;  ///< true: open dialog; false: save dialog
};

class Host {
 public:
  virtual ~Host() = default;

  /// Shows a modal message box and waits for it to close. Returns the button pressed
  /// (id_ok for OK), or 0 when no box can be shown. The headless host shows nothing.
  virtual int message_box(const std::string& text, const std::string& caption, unsigned flags);

  /// Shows the open or save dialog; file_name holds the name offered and, when the user
  /// confirms, the full path chosen. False when cancelled or when there is no dialog.
  virtual bool ask_file_name(const FileDialogRequest& request, std::string& file_name);

  /// Turns the busy cursor on or off.
  virtual void set_busy_cursor(bool busy);

  /// The window in the foreground, and making a window the foreground one again.
  virtual WindowHandle foreground_window();
  virtual void set_foreground_window(WindowHandle window);

  /// The report view: go to an address, reload the address shown, show or hide it.
  virtual void navigate_report(const std::string& url);
  virtual void refresh_report();
  virtual void set_report_visible(bool visible);

  /// Opens folder (a UTF-8 path) in the system's file manager. False when it could not be
  /// opened, and always for the headless host, which opens nothing.
  virtual bool open_folder(const std::string& folder);

  /// Progress of a run: done of total patients (total 0 when not known yet).
  virtual void progress(int done, int total);

  /// True once the user has asked to stop the run in progress: the run then stops before
  /// its next patient and saves nothing. Asked from the thread that performs the run.
  virtual bool cancel_requested();

  /// A call to the records product has waited seconds without its answer: true to wait
  /// once more as long, false to give it up (the session then ends, and the run fails as
  /// for a server that does not answer). Asked from the thread that makes the call. The
  /// headless host gives it up: without windows nobody is there to choose.
  virtual bool keep_waiting(int seconds);
};

/// A host that shows nothing and answers as a front end without windows would: the
/// default of what is made before, or without, a front end. Holds no state.
Host& headless_host();

}  // namespace frontend
