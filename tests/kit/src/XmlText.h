// XML escaping for the DXL writer.
#pragma once

#include <string>
#include <string_view>

namespace tessel::kit::xml {

// Character data of text and rich text: markup characters as entities, CR as a character
// reference (a literal one would be normalised away), '\n' as <break/> when breaks is set, and
// every character XML 1.0 forbids as <nonxmlchar value='HEX'/>. Throws std::invalid_argument on
// invalid UTF-8.
void appendText(std::string &out, std::string_view utf8, bool breaks);
// An attribute value between single quotes. Tab, CR and LF become character references;
// characters XML 1.0 forbids cannot be written in an attribute and throw std::invalid_argument.
void appendAttr(std::string &out, std::string_view utf8);
// " name='value'"
void attr(std::string &out, std::string_view name, std::string_view value);

} // namespace tessel::kit::xml
