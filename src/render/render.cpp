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
#include "platform/files.hpp"
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

/// Rewrites the page line by line, each line ended with CR LF, dropping every line that
/// holds the UTF-16 declaration; the first one dropped is replaced by a declaration of
/// the charset the page is really written in. The new page replaces the old in one step,
/// through a temporary file of this run's own, so that two runs at once never leave a
/// page empty or cut. Throws when the page cannot be read or written.
void rewrite_page(const std::string& html_path) {
  std::ifstream in(platform::path_from_utf8(html_path), std::ios::binary);
  if (!in) throw std::runtime_error("pagina non leggibile");
  std::string out;
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
    out += line;
    out += "\r\n";
  }
  if (in.bad()) throw std::runtime_error("pagina non leggibile");
  platform::replace_file(html_path, out);
}

}  // namespace

std::string xslt_transform(const std::string& xsl_path, const std::string& xml_path, const std::string& html_path,
                           const platform::XsltParameters& parameters) {
  std::string result = conversion_error;
  try {
    if (!file_exists(xsl_path)) return "file xslt non trovato";
    if (!file_exists(xml_path)) return "file xml di input non trovato";
    std::string page;
    {
      // The processor and its documents go before the page is converted and written.
      platform::XsltProcessor processor;
      if (!processor.load_stylesheet(xsl_path)) return "file xslt mal formato";
      if (!processor.load_input(xml_path)) return "file xml di input mal formato";
      page = processor.transform(parameters);
    }
    memowrit(html_path, page);
    result.clear();
  } catch (...) {
    result = conversion_exception;
  }
  return result;
}

std::string xml2html(const std::string& xsl_path, const std::string& xml_path, const std::string& html_path,
                     const platform::XsltParameters& parameters, std::string* reason) {
  std::string result = conversion_error;
  try {
    const std::string transform_message = xslt_transform(xsl_path, xml_path, html_path, parameters);
    if (reason) *reason = transform_message;
    if (is_empty(transform_message) && file_exists(html_path)) {
      rewrite_page(html_path);
      result.clear();
    }
  } catch (...) {
    // The page stays as the processor wrote it.
    result = conversion_exception;
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
