#include "base/TextConv.h"

#include "base/Errors.h"
#include "base/Utf16.h"

#include <algorithm>

namespace kiv {

std::string IntToStr(std::int64_t value) {
    return std::to_string(value);
}

std::string IntToHex(std::uint32_t value, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    char buffer[8];
    int n = 0;
    do {
        buffer[n++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    std::string text;
    if (digits > n)
        text.assign(static_cast<std::size_t>(digits - n), '0');
    while (n > 0)
        text.push_back(buffer[--n]);
    return text;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

std::int32_t StrToInt(const std::string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && text[i] == ' ')
        ++i;

    std::size_t hexStart = std::string::npos;
    if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X'))
        hexStart = i + 1;
    else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X'))
        hexStart = i + 2;

    if (hexStart != std::string::npos) {
        const std::size_t digits = n - hexStart;
        if (digits < 1 || digits > 8)
            throw EConvertError::NotAnInteger(text);
        std::uint32_t value = 0;
        for (std::size_t k = hexStart; k < n; ++k) {
            const int d = HexDigit(text[k]);
            if (d < 0)
                throw EConvertError::NotAnInteger(text);
            value = (value << 4) | static_cast<std::uint32_t>(d);
        }
        return static_cast<std::int32_t>(value);
    }

    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= n)
        throw EConvertError::NotAnInteger(text);
    std::int64_t value = 0;
    for (; i < n; ++i) {
        if (text[i] < '0' || text[i] > '9')
            throw EConvertError::NotAnInteger(text);
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL)
            throw EConvertError::NotAnInteger(text);
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL)
        throw EConvertError::NotAnInteger(text);
    return static_cast<std::int32_t>(value);
}

namespace {

// The characters that turn the direction of the text after them (a right-to-left override
// makes "exe.txt" of "txt.exe"): shown as text, never acted on.
bool Bidirectional(char32_t value) {
    return value == 0x061C || value == 0x200E || value == 0x200F ||
           (value >= 0x202A && value <= 0x202E) || (value >= 0x2066 && value <= 0x2069);
}

} // namespace

std::string PrintableName(const std::string& name) {
    std::string text;
    text.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        char32_t value = 0;
        const int length = Utf8SequenceAt(name, i, value);
        if (length > 1 && Bidirectional(value)) {
            text += '?';
            i += static_cast<std::size_t>(length);
            continue;
        }
        const auto u = static_cast<unsigned char>(name[i++]);
        text += u < 0x20 || u == 0x7F ? '?' : static_cast<char>(u);
    }
    return text;
}

bool JsonNestedDeeperThan(const std::string& text, int depth) {
    int open = 0;
    bool quoted = false;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const char c = text[k];
        if (quoted) {
            if (c == '\\')
                ++k;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '[' || c == '{') {
            if (++open > depth)
                return true;
        } else if (c == ']' || c == '}') {
            --open;
        }
    }
    return false;
}

std::string EscapedText(const std::string& text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t value = 0;
        const int length = Utf8SequenceAt(text, i, value);
        const bool control =
            value < 0x20 || (value >= 0x7F && value <= 0x9F) || Bidirectional(value);
        if (length > 0 && !control) {
            out.append(text, i, static_cast<std::size_t>(length));
            i += static_cast<std::size_t>(length);
            continue;
        }
        // A control character in two bytes (C1) is written byte by byte, like a stray byte.
        for (int k = 0; k < std::max(length, 1); ++k, ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            out += "\\x";
            out += kDigits[byte >> 4];
            out += kDigits[byte & 0xF];
        }
    }
    return out;
}

std::string JoinedList(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t k = 0; k < items.size(); ++k)
        text += (k == 0 ? "" : k + 1 == items.size() ? " and " : ", ") + items[k];
    return text;
}

} // namespace kiv
