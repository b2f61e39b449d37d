// Basic types shared by the whole engine.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pagelume {

// PDF data: names, string values, stream data, file text. Any byte value, 0 included.
using Bytes = std::string;
using ByteView = std::string_view;

// User-visible text, UTF-16 in native order.
using Text = std::u16string;
using TextView = std::u16string_view;

// Raised by the engine for the few arithmetic limits it does not absorb itself
// (a number too large to write, a predictor row of zero bytes, ...).
class EPDFError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised when a file cannot be opened or created; its message is always "Error".
class EFileCreateError : public std::runtime_error {
 public:
  EFileCreateError() : std::runtime_error("Error") {}
};

}  // namespace pagelume
