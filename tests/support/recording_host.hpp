#pragma once
// Hosts for the tests that record what the system asks of its front end instead of
// showing anything.
#include <string>
#include <utility>
#include <vector>

#include "platform/host.hpp"

namespace test_support {

/// A host that records what it is asked to do.
class HostRecorder : public platform::Host {
 public:
  struct Box {
    std::string text, caption;
    unsigned flags = 0;
  };
  std::vector<Box> boxes;
  /// "busy" and "idle" for each cursor change, "box" for each message box, in order.
  std::vector<std::string> events;
  std::vector<std::pair<int, int>> progress_calls;

  /// Records the box and answers OK.
  int message_box(const std::string& text, const std::string& caption, unsigned flags) override;
  void set_busy_cursor(bool busy) override;
  void progress(int done, int total) override;
  /// The texts of the boxes shown, in order.
  std::vector<std::string> texts() const;
};

}  // namespace test_support
