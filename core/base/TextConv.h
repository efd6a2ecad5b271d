#pragma once
// Integer <-> text conversions used by the grids, the messages and kivtool.

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

// Signed decimal: -12, 0, 614400.
std::string IntToStr(std::int64_t value);

// Uppercase hexadecimal without prefix, zero-padded on the left to at least `digits`
// digits. Negative 32-bit values show as their two's-complement word (8 digits).
std::string IntToHex(std::uint32_t value, int digits);

// Leading blanks are skipped; then either an optional sign and decimal digits within the
// signed 32-bit range, or one to eight hex digits after "$", "x", "X", "0x" or "0X", read as
// a 32-bit word; nothing may follow. Anything else throws EConvertError with `text` quoted.
std::int32_t StrToInt(const std::string& text);

// A name as a message or a line of output shows it: control characters (which could break
// the line apart) become '?', and so does each character that turns the direction of text
// (U+202E and the like).
std::string PrintableName(const std::string& name);

// Text from a file as a message shows it on a terminal: control characters (C0, DEL and the
// C1 range), a newline among them, the characters that turn the direction of text, and bytes that
// are not valid UTF-8 become \xNN, so no byte of a file can move the cursor, clear the screen or
// split the line; valid UTF-8 stays as it is. Applying it twice changes nothing more.
std::string EscapedText(const std::string& text);

// "a", "a and b", "a, b and c": items for a sentence.
std::string JoinedList(const std::vector<std::string>& items);
// Whether JSON text nests arrays and objects more than `depth` deep (brackets inside strings
// do not count), found in one pass before the text is parsed, so a reader can refuse text
// deeper than its own records without building it.
bool JsonNestedDeeperThan(const std::string& text, int depth);

} // namespace kiv
