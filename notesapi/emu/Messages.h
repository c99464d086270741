// The message texts of the runtime's STATUS codes, as OSLoadString returns them.
#pragma once

#include <notes/global.h>

#include <string_view>

namespace notesemu {

// The text of a status code (ERR(status)), or an empty view for a code without one.
std::string_view statusText(STATUS code);

} // namespace notesemu
