#pragma once
// Collects the messages of libxml2 (and of what reports through it) on this thread for
// the lifetime of the object, instead of letting them go to standard error. Private to
// the platform's libxml2 and libxslt implementations.
#include <cstdarg>
#include <cstdio>
#include <string>

#include <libxml/globals.h>
#include <libxml/xmlerror.h>

namespace platform {

class ErrorCollector {
 public:
  ErrorCollector()
      : old_structured_(xmlStructuredError),
        old_structured_context_(xmlStructuredErrorContext),
        old_generic_(xmlGenericError),
        old_generic_context_(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(this, &ErrorCollector::on_structured);
    xmlSetGenericErrorFunc(this, &ErrorCollector::on_generic);
  }
  ~ErrorCollector() {
    xmlSetStructuredErrorFunc(old_structured_context_, old_structured_);
    xmlSetGenericErrorFunc(old_generic_context_, old_generic_);
  }
  ErrorCollector(const ErrorCollector&) = delete;
  ErrorCollector& operator=(const ErrorCollector&) = delete;

  /// The messages so far, one per line, without a final line break.
  std::string text() const {
    if (pending_.empty()) return text_;
    return text_.empty() ? pending_ : text_ + '\n' + pending_;
  }

  /// Adds a piece of message text; a line break in it ends a message.
  void add_text(const std::string& piece) {
    pending_ += piece;
    std::size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
      add_line(pending_.substr(0, end));
      pending_.erase(0, end + 1);
    }
  }

  /// Adds one whole message.
  void add_line(const std::string& line) {
    if (line.empty()) return;
    if (!text_.empty()) text_ += '\n';
    text_ += line;
  }

  /// A printf-style handler that adds to the collector given as context; it also
  /// serves libxslt's own error channel.
  static void on_generic(void* context, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    static_cast<ErrorCollector*>(context)->add_text(text);
  }

 private:
  static void on_structured(void* context, xmlErrorPtr error) {
    if (error == nullptr || error->message == nullptr) return;
    std::string message = error->message;
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    if (error->line > 0) message = "line " + std::to_string(error->line) + ": " + message;
    static_cast<ErrorCollector*>(context)->add_line(message);
  }

  xmlStructuredErrorFunc old_structured_;
  void* old_structured_context_;
  xmlGenericErrorFunc old_generic_;
  void* old_generic_context_;
  std::string text_;
  std::string pending_;
};

}  // namespace platform
