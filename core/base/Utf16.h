#pragma once
// UTF-8 sequences, and UTF-8 to UTF-16 and back for systems whose file names are UTF-16.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kiv {

// The length (1 to 4) of the valid UTF-8 sequence at text[at], with its value in `value`; 0
// when the bytes there are not one (a stray or missing continuation byte, an overlong form,
// a surrogate, a value past U+10FFFF).
int Utf8SequenceAt(std::string_view text, std::size_t at, char32_t& value);

// The UTF-16 form of a UTF-8 text; nothing when the text is not valid UTF-8, so a damaged
// name is refused rather than turned into the name of another file.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);
// The UTF-8 form of a UTF-16 text; nothing when a surrogate stands unpaired.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);

} // namespace kiv
