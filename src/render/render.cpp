// Rendering a saved report into the HTML page shown by the report view.
#include "render/render.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/codepage.hpp"
#include "platform/paths.hpp"
#include "platform/xslt.hpp"
#include "tools/tools.hpp"

namespace tools {

namespace {

const char* const conversion_error = "Errore nella conversione xslt";
const char* const conversion_exception = "Eccezione nella conversione xslt";

/// The declaration that the processor puts in every page; the page is not written in
/// that charset, so the line goes.
const std::string utf16_declaration = "<META http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-16\">";

bool file_exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(platform::path_from_utf8(path), error);
}

/// The charset name, as browsers know it, of the ANSI code page the page is written in.
std::string html_charset(std::string codepage) {
  std::string upper = codepage;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  if (upper == "UTF8") return "UTF-8";
  if (upper.starts_with("WINDOWS-")) return "windows-" + codepage.substr(8);
  if (upper.starts_with("CP125") && upper.size() == 6) return "windows-" + codepage.substr(2);
  if (upper.starts_with("ISO8859-")) return "ISO-8859-" + codepage.substr(8);
  return codepage;
}

/// The temporary name of the rewrite: the path without its last four characters, then
/// "_tmp" and the path's extension with its period ("ZONA12.html" -> "ZONA12._tmp.html").
std::string temporary_path(const std::string& html_path) {
  const std::size_t last_separator = html_path.find_last_of("/\\:");
  const std::size_t dot = html_path.find_last_of('.');
  const bool has_extension =
      dot != std::string::npos && (last_separator == std::string::npos || dot > last_separator);
  const std::string extension = has_extension ? html_path.substr(dot) : "";
  // Four characters, not bytes.
  const std::string stem = html_path.substr(0, html_path.size() - last_characters(html_path, 4).size());
  return stem + "_tmp" + extension;
}

/// Copies the page to temp_path line by line, each line ended with CR LF, dropping every
/// line that holds the UTF-16 declaration; the first one dropped is replaced by a
/// declaration of the charset the page is really written in. Throws when a file cannot
/// be read or written.
void rewrite_page(const std::string& html_path, const std::string& temp_path) {
  std::ifstream in(platform::path_from_utf8(html_path), std::ios::binary);
  if (!in) throw std::runtime_error("pagina non leggibile");
  std::ofstream out(platform::path_from_utf8(temp_path), std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("file temporaneo non scrivibile");
  bool declared = false;
  std::string line;
  while (std::getline(in, line)) {
    // Lines are read as text: a CR LF ending counts as the line break.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find(utf16_declaration) != std::string::npos) {
      if (declared) continue;
      declared = true;
      line = "<META http-equiv=\"Content-Type\" content=\"text/html; charset=" +
             html_charset(platform::ansi_codepage()) + "\">";
    }
    out << line << "\r\n";
  }
  if (in.bad()) throw std::runtime_error("pagina non leggibile");
  out.close();
  if (!out) throw std::runtime_error("file temporaneo non scrivibile");
}

}  // namespace

std::string xslt_transform(const std::string& xsl_path, const std::string& xml_path, const std::string& html_path) {
  std::string result = conversion_error;
  try {
    if (!file_exists(xsl_path)) return "file xslt non trovato";
    if (!file_exists(xml_path)) return "file xml di input non trovato";
    platform::XsltProcessor processor;
    if (!processor.load_stylesheet(xsl_path)) return "file xslt mal formato";
    if (!processor.load_input(xml_path)) return "file xml di input mal formato";
    memowrit(html_path, processor.transform());
    result.clear();
  } catch (...) {
    result = conversion_exception;
  }
  return result;
}

std::string xml2html(const std::string& xsl_path, const std::string& xml_path, const std::string& html_path) {
  std::string result = conversion_error;
  std::string temp_path;
  try {
    if (is_empty(xslt_transform(xsl_path, xml_path, html_path)) && file_exists(html_path)) {
      const std::string temp = temporary_path(html_path);
      // A page whose name already ends in "_tmp" would be emptied by its own rewrite.
      if (platform::path_from_utf8(temp) == platform::path_from_utf8(html_path)) throw std::runtime_error("nome temporaneo uguale alla pagina");
      temp_path = temp;
      rewrite_page(html_path, temp_path);
      // Renaming over the page replaces it in one step, so a page is always there.
      std::filesystem::rename(platform::path_from_utf8(temp_path), platform::path_from_utf8(html_path));
      result.clear();
    }
  } catch (...) {
    result = conversion_exception;
    // The page stays as the processor wrote it; a half-written copy is of no use.
    std::error_code ignored;
    if (!temp_path.empty()) std::filesystem::remove(platform::path_from_utf8(temp_path), ignored);
  }
  return result;
}

int message_box(const std::string& text, const std::string& caption, unsigned flags, platform::Host& host) {
  try {
    return host.message_box(text, caption, flags + platform::mb_systemmodal);
  } catch (...) {
    return 0;
  }
}

}  // namespace tools
