#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tolvar::testing {

// Whether anything, a dangling link included, stands at the path.
bool exists(const std::string& path);

// A whole file's bytes; throws when it cannot be read.
std::string readFile(const std::string& path);

// Writes exactly these bytes, replacing what was there; throws when it cannot.
void writeFile(const std::string& path, std::string_view bytes);

// The same bytes for the same seed on every run and machine.
std::string randomBytes(std::size_t size, std::uint32_t seed);

} // namespace tolvar::testing
