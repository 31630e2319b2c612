#pragma once

#include <string>
#include <string_view>

namespace tallyport {

// Puts `pad` in front of a shorter text until it has `width` characters; a longer text stays
// whole (output fields are never cut).
std::string PadLeft(std::string_view text, std::size_t width, char pad);

// Puts `pad` behind a shorter text until it has `width` characters; a longer text stays whole.
std::string PadRight(std::string_view text, std::size_t width, char pad);

}  // namespace tallyport
