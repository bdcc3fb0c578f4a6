#pragma once
// Turning a saved report into the HTML page, and the run's system-modal message box.
#include <string>

#include "app/host.hpp"
#include "xml/xslt.hpp"

namespace tools {

/// Applies the stylesheet to the XML file and writes the page to html_path in the ANSI
/// code page. "" on success, else "file xslt non trovato", "file xml di input non
/// trovato", "file xslt mal formato", "file xml di input mal formato", "Errore nella
/// conversione xslt" or "Eccezione nella conversione xslt". parameters are handed to the
/// stylesheet as text values.
std::string xslt_transform(const std::string& xsl_path, const std::string& xml_path, const std::string& html_path,
                           const platform::XsltParameters& parameters = {});

/// xslt_transform, then rewrites the page with CR LF line ends, dropping every line that
/// holds the processor's UTF-16 charset declaration; the first such line is replaced by a
/// declaration of the ANSI code page the file is written in. The page is the program's own
/// file: a symbolic link at html_path is replaced by the page, and what it points to is
/// left as it is. "" on success, else "Errore nella conversione xslt" or "Eccezione nella conversione xslt".
/// reason, when given, receives xslt_transform's own message ("" when it had none).
std::string xml2html(const std::string& xsl_path, const std::string& xml_path, const std::string& html_path,
                     const platform::XsltParameters& parameters = {}, std::string* reason = nullptr);

/// Shows text in a system-modal box (flags + 4096) through host; returns the button
/// pressed, or 0 when no box can be shown. Never throws.
int message_box(const std::string& text, const std::string& caption, unsigned flags, frontend::Host& host);

}  // namespace tools
