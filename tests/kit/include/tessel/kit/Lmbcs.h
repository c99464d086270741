// UTF-8 <-> LMBCS (optimisation group 1) through ICU's "LMBCS-1" converter.
#pragma once

#include "tessel/kit/Bytes.h"

#include <span>
#include <string>
#include <string_view>

namespace tessel::kit {

// Throws std::runtime_error when ICU cannot convert (invalid UTF-8 included).
Bytes utf8ToLmbcs(std::string_view utf8);
std::string lmbcsToUtf8(std::span<const std::uint8_t> lmbcs);

} // namespace tessel::kit
