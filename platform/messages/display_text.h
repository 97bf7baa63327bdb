#pragma once

#include <string>
#include <string_view>

namespace tolvar {

// A path or field shown to a user: control bytes, DEL, backslash and bytes that are not valid
// UTF-8 escaped as `ls -b` does ("\n", "\t", "\\", "\033"); printable UTF-8 kept. Every
// name in a message passes through here once, where the message is composed, so no name
// reaches a terminal or a window raw.
std::string escapedForDisplay(std::string_view bytes);

} // namespace tolvar
