#pragma once
// The one exception of the project's own interfaces: an operation that could not be done
// throws it, with the message for the user (Italian) as what().
#include <stdexcept>

namespace platform {

class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace platform
