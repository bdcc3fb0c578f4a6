#pragma once
// The main window's controls in one table: their names, kinds, texts and places, in tab
// order, and the window's own geometry. Both windows build themselves from it.
#include <array>
#include <optional>
#include <string>

#include "extract/programmes.hpp"

namespace main_layout {

/// The window's title (the sign-in window has it too).
inline constexpr const char* title = "Estrazioni ZONA12";

/// The report view's actions (context menu, buttons of the view without a browser).
inline constexpr const char* action_print = "Stampa\u2026";
inline constexpr const char* action_open_in_browser = "Apri nel browser";
inline constexpr const char* action_copy = "Copia";
/// Opens the folder of the last saved report: beside the status line and in the context menu.
inline constexpr const char* action_open_folder = "Apri cartella";
/// Opens the find bar under the report view (Ctrl+F, and in the context menu).
inline constexpr const char* action_find = "Trova\u2026";
/// The find bar's texts: its field's label, its buttons, the count without a match.
inline constexpr const char* find_label = "Trova:";
inline constexpr const char* find_previous = "Precedente";
inline constexpr const char* find_next = "Successivo";
inline constexpr const char* find_close = "Chiudi la ricerca";
inline constexpr const char* find_none = "Nessun risultato";

/// The message when "Apri nel browser" could not hand the page at url to a browser: it
/// says where the page is, to open it by hand.
std::string open_in_browser_failure(const std::string& url);

/// The message when "Apri cartella" could not hand folder to the file manager: it says
/// which folder, to open it by hand.
std::string open_folder_failure(const std::string& folder);

/// The window's place and outer size, frame included.
inline constexpr int outer_left = 589;
inline constexpr int outer_top = 293;
inline constexpr int outer_width = 833;
inline constexpr int outer_height = 536;
/// The report view keeps its place and takes the rest of the window, down to the status
/// line, less a gap.
inline constexpr int view_left = 8;
inline constexpr int view_top = 160;
inline constexpr int view_bottom_gap = 4;
/// The buttons' column: the client area is never narrower than it.
inline constexpr int buttons_left = 656;
inline constexpr int buttons_width = 137;
inline constexpr int min_client_width = buttons_left + buttons_width + 8;
/// The smallest outer size a window may be dragged to: every control stays visible.
inline constexpr int min_outer_width = min_client_width + 16;
inline constexpr int min_outer_height = view_top + 160;

/// A rectangle on the screen: its top left corner and its size.
struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};
/// The places and sizes here are in pixels of a 96-dpi screen. On a screen of dpi dots per
/// inch a length of value such pixels takes value × dpi / 96 pixels, rounded to the nearest
/// (halves away from zero), as the system's MulDiv rounds.
int scale(int value, int dpi);
/// Each of the rectangle's place and size scaled as scale(value, dpi) does.
Rect scale(const Rect& rect, int dpi);
/// The window's outer rectangle on a monitor of dpi dots per inch whose work area (the
/// screen less the taskbar, in the screen's pixels) is area: its own place and size, scaled
/// to the dpi, when they fit there; else moved inside the area, and shrunk to it when it is
/// larger, never below the smallest outer size at that dpi (the area's top left corner then).
Rect place_window(const Rect& area, int dpi = 96);

enum Control {
  PraxiLogo,
  Label3,
  edt_NominativoMMG,
  Label1,
  edt_CodiceRegionale,
  Label2,
  edt_CodiceFiscaleMMG,
  Label4,
  edt_ASL,
  Label5,
  edt_Regione,
  Label6,
  DTDal,
  Label7,
  DTAl,
  Label8,
  edt_Distretto,
  btnChiudi,
  btnCalcola,
  btnSalva,
  btnVaccinazioni,
  lblEcho,
  WebBrowser,
  StatusBar1,
  control_count
};

enum class Kind { logo, label, text_box, read_only_box, date_picker, button, report_view, status_line };

struct ControlEntry {
  Control control;
  const char* name;  ///< the object's name
  Kind kind;
  const char* text;               ///< a label's or a button's text; a programme's button takes its caption
  int left, top, width, height;   ///< a label's size follows its text (0 here)
  bool hidden;                    ///< never shown, never read or written
  std::optional<Programme> runs;  ///< the programme a button runs
};

/// Every control, those in the tab order first, in that order (a window made in this order
/// has it), then those outside it.
const std::array<ControlEntry, control_count>& controls();
/// The controls in the tab order: the first tab_stop_count of controls().
inline constexpr int tab_stop_count = 13;
/// The table's entry for control.
const ControlEntry& entry(Control control);
/// The text a control shows when made (UTF-8): a programme button's caption, else text.
std::string text_of(const ControlEntry& control);

}  // namespace main_layout
