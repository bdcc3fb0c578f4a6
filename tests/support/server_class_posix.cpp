// On POSIX the class lives in the installation's registry.reg: nothing to register.
#include "test_support.hpp"

namespace test_support {

ServerClass::ServerClass(const std::string&) {}

ServerClass::~ServerClass() = default;

}  // namespace test_support
