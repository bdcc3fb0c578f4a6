// Rendering a saved report into the HTML page shown by the report view.
#include "render/render.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/codepage.hpp"
#include "platform/files.hpp"
#include "platform/paths.hpp"
#include "tools/tools.hpp"
#include "xml/xslt.hpp"

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

/// The declaration of the charset the page is really written in.
std::string ansi_declaration() {
  return "<META http-equiv=\"Content-Type\" content=\"text/html; charset=" + html_charset(platform::ansi_codepage()) +
         "\">";
}

/// The rewrite of the page, applied while the page is being written: line by line, each
/// line ended with CR LF, every line that holds the UTF-16 declaration dropped and the
/// first one dropped replaced by a declaration of the charset the page is really written
/// in, the text converted to the ANSI code page. Takes the page in pieces cut anywhere
/// and writes only whole lines, so that neither a line end nor a character is split.
class PageRewriter {
 public:
  explicit PageRewriter(platform::FileReplacement& file) : file_(file) {}

  /// Takes the next piece of the page (UTF-8); false when the file refused bytes.
  bool write(std::string_view piece) {
    pending_.append(piece);
    const std::size_t last_break = pending_.rfind('\n');
    if (last_break == std::string::npos) return true;
    const bool written = write_lines(std::string_view(pending_).substr(0, last_break + 1));
    pending_.erase(0, last_break + 1);
    return written;
  }
  /// Writes the last line, which had no line break of its own.
  bool finish() { return pending_.empty() || write_lines(pending_); }

 private:
  /// Writes text's lines; a last line without its break counts as a line.
  bool write_lines(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
      // A CR LF ending counts as the line break.
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.find(utf16_declaration) != std::string_view::npos) {
        if (declared_) continue;
        declared_ = true;
        out += ansi_declaration();
      } else {
        out += line;
      }
      out += "\r\n";
    }
    // Line ends and the declarations are the same bytes in the code page, and no character
    // is cut: converting the lines together gives what converting the page whole gives.
    file_.write(platform::to_ansi(out));
    return file_.accepting();
  }

  platform::FileReplacement& file_;
  std::string pending_;
  bool declared_ = false;
};

/// Loads the stylesheet, then the input; nothing when both are loaded, else the message
/// of the one that could not be ("file xslt mal formato", "file xml di input mal formato").
std::optional<std::string> load(platform::XsltProcessor& processor, const std::string& xsl_path,
                                const std::string& xml_path) {
  try {
    processor.load_stylesheet(xsl_path);
    processor.load_input(xml_path);
  } catch (const platform::Failure& failure) {
    return failure.what();
  }
  return std::nullopt;
}

/// Transforms with the loaded processor and writes the page, rewritten, in place of the
/// one at html_path: "" when written, else the reason it is not.
std::string write_page(platform::XsltProcessor& processor, const std::string& html_path,
                       const platform::XsltParameters& parameters) {
  try {
    // As memowrit would: the page's directory is made first.
    if (const std::string_view directory = directory_part(html_path); !directory.empty()) create_dir(directory);
    // The page is the program's own file: a link in its place is replaced, and what it
    // points to left as it is.
    platform::FileReplacement file(html_path, platform::FileReplacement::Link::replaced);
    PageRewriter rewriter(file);
    const bool written =
        processor.transform_to([&rewriter](std::string_view piece) { return rewriter.write(piece); }, parameters) &&
        rewriter.finish();
    file.commit();  // a refused write makes this throw with its reason
    if (!written) return conversion_error;
    return "";
  } catch (const std::runtime_error& error) {
    return error.what();
  }
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
      if (const auto problem = load(processor, xsl_path, xml_path)) return *problem;
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
  // The page that xslt_transform would write goes through the rewrite as it is serialised,
  // straight into the file that replaces the earlier page: the page is never held whole,
  // and a page that cannot be made or written leaves the earlier one as it was.
  std::string message;
  std::string result = conversion_error;
  try {
    if (!file_exists(xsl_path)) {
      message = "file xslt non trovato";
    } else if (!file_exists(xml_path)) {
      message = "file xml di input non trovato";
    } else {
      platform::XsltProcessor processor;
      if (const auto problem = load(processor, xsl_path, xml_path)) {
        message = *problem;
      } else {
        message = write_page(processor, html_path, parameters);
        if (message.empty()) result.clear();
      }
    }
  } catch (...) {
    message = conversion_exception;
  }
  if (reason) *reason = message;
  return result;
}

int message_box(const std::string& text, const std::string& caption, unsigned flags, frontend::Host& host) {
  try {
    return host.message_box(text, caption, flags + frontend::mb_systemmodal);
  } catch (...) {
    return 0;
  }
}

}  // namespace tools
