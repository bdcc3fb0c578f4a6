#include "app/main_layout.hpp"

#include <algorithm>

#include "extract/run.hpp"

namespace main_layout {

namespace {

constexpr auto none = std::nullopt;

const std::array<ControlEntry, control_count> table{{
    // The tab order.
    {btnChiudi, "btnChiudi", Kind::button, "Chiudi", buttons_left, 10, buttons_width, 26, false, none},
    {edt_ASL, "edt_ASL", Kind::text_box, "", 241, 83, 161, 21, false, none},
    {edt_Distretto, "edt_Distretto", Kind::text_box, "", 480, 59, 161, 21, true, none},
    {DTAl, "DTAl", Kind::date_picker, "", 479, 33, 129, 21, false, none},
    {btnCalcola, "btnCalcola", Kind::button, "", buttons_left, 42, buttons_width, 26, false, Programme::diabete},
    {btnSalva, "btnSalva", Kind::button, "", buttons_left, 74, buttons_width, 26, false, Programme::tao},
    {edt_CodiceRegionale, "edt_CodiceRegionale", Kind::text_box, "", 241, 34, 161, 21, false, none},
    {edt_CodiceFiscaleMMG, "edt_CodiceFiscaleMMG", Kind::text_box, "", 241, 59, 161, 21, false, none},
    {edt_NominativoMMG, "edt_NominativoMMG", Kind::text_box, "", 241, 10, 161, 21, false, none},
    {edt_Regione, "edt_Regione", Kind::read_only_box, "", 240, 107, 161, 21, true, none},
    {DTDal, "DTDal", Kind::date_picker, "", 480, 10, 129, 21, false, none},
    {WebBrowser, "WebBrowser", Kind::report_view, "", view_left, view_top, 809, 321, false, none},
    {btnVaccinazioni, "btnVaccinazioni", Kind::button, "", buttons_left, 106, buttons_width, 26, false,
     Programme::vaccinazioni},
    // Outside it.
    {PraxiLogo, "PraxiLogo", Kind::logo, "", 8, 8, 106, 142, false, none},
    {Label3, "Label3", Kind::label, "Nome", 135, 17, 0, 0, false, none},
    {Label1, "Label1", Kind::label, "Codice Regionale", 135, 42, 0, 0, false, none},
    {Label2, "Label2", Kind::label, "Codice fiscale", 135, 67, 0, 0, false, none},
    {Label4, "Label4", Kind::label, "ASL", 135, 90, 0, 0, false, none},
    {Label5, "Label5", Kind::label, "Regione", 133, 112, 0, 0, true, none},
    {Label6, "Label6", Kind::label, "Dal", 432, 10, 0, 0, false, none},
    {Label7, "Label7", Kind::label, "Al", 431, 33, 0, 0, false, none},
    {Label8, "Label8", Kind::label, "Distretto", 414, 64, 0, 0, true, none},
    {lblEcho, "lblEcho", Kind::label, "", 24, 432, 0, 0, false, none},
    // What the last run did, under the report; its place follows the window's size.
    {StatusBar1, "StatusBar1", Kind::status_line, "", 0, 0, 0, 0, false, none},
}};

const std::array<const ControlEntry*, control_count> by_control = [] {
  std::array<const ControlEntry*, control_count> index{};
  for (const ControlEntry& s : table) index[s.control] = &s;
  return index;
}();

}  // namespace

const std::array<ControlEntry, control_count>& controls() { return table; }

const ControlEntry& entry(Control control) { return *by_control[control]; }

int scale(int value, int dpi) {
  const long long product = static_cast<long long>(value) * dpi;
  const long long half = product < 0 ? -48 : 48;
  return static_cast<int>((product + half) / 96);
}

Rect scale(const Rect& rect, int dpi) {
  return {scale(rect.left, dpi), scale(rect.top, dpi), scale(rect.width, dpi), scale(rect.height, dpi)};
}

Rect place_window(const Rect& area, int dpi) {
  Rect r = scale(Rect{outer_left, outer_top, outer_width, outer_height}, dpi);
  r.width = std::min(r.width, std::max(area.width, scale(min_outer_width, dpi)));
  r.height = std::min(r.height, std::max(area.height, scale(min_outer_height, dpi)));
  r.left = std::max(area.left, std::min(r.left, area.left + area.width - r.width));
  r.top = std::max(area.top, std::min(r.top, area.top + area.height - r.height));
  return r;
}

std::string open_in_browser_failure(const std::string& url) {
  return "Impossibile aprire la pagina nel browser: nessun browser l'ha accettata.\r\n\r\nLa pagina \u00e8 in:\r\n" +
         url_to_path(url);
}

std::string open_folder_failure(const std::string& folder) {
  return "Impossibile aprire la cartella con il gestore dei file.\r\n\r\nLa cartella \u00e8:\r\n" + folder;
}

std::string text_of(const ControlEntry& control) {
  return control.runs ? programme_info(*control.runs).button_caption : control.text;
}

}  // namespace main_layout
