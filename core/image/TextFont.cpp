#include "image/TextFont.h"

namespace kiv {

namespace {

const Glyph& GlyphOf(char c) {
    if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    const Glyph* question = nullptr;
    for (const Glyph& g : kFont) {
        if (g.Char == c)
            return g;
        if (g.Char == '?')
            question = &g;
    }
    return *question;
}

} // namespace

int TextWidth(const std::string& text) {
    return text.empty() ? 0 : static_cast<int>(text.size()) * GlyphAdvance - 1;
}

void DrawText(Image& picture, int x, int y, const std::string& text, TColor color) {
    for (const char c : text) {
        const Glyph& g = GlyphOf(c);
        // A space has no glyph: it only advances.
        if (c != ' ')
            for (int row = 0; row < GlyphHeight; ++row)
                for (int col = 0; col < 5; ++col) {
                    const int px = x + col, py = y + row;
                    if ((g.Rows[static_cast<std::size_t>(row)] & (0x10 >> col)) && px >= 0 &&
                        py >= 0 && px < picture.Width() && py < picture.Height())
                        picture.SetPixel(px, py, color);
                }
        x += GlyphAdvance;
    }
}

} // namespace kiv
