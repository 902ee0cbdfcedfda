#pragma once

#include <stdexcept>
#include <string>

namespace kestrova {

// A condition the user has to hear about: a file that cannot be read or written, a
// record that cannot be understood, a setting that makes the output meaningless.
// The message is UTF-8 and complete enough to act on (it names the file and line
// where one is involved); front ends show it as it is.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace kestrova
