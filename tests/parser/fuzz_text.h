// Turns fuzzer bytes into a parameter text. An input of at least eleven bytes
// that starts with 0x01 describes a number instead: a double's bit pattern, a
// notation, a unit letter or other tail, and optionally a binary exponent
// pinned next to the guard bounds of that unit, which raw bytes almost never
// reach. Any other input is the text itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace parsertest {

constexpr uint8_t kStructuredInput = 0x01;
constexpr size_t kStructuredSize = 11;

std::string textFromFuzzInput(const uint8_t* data, size_t size);

}  // namespace parsertest
