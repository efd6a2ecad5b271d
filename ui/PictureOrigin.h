#pragma once
// Where the editor's picture came from, and whether it holds paint not yet written: what the
// editor shows beside the picture, asks before a Replace into another icon, and asks about
// before the program ends.

#include "image/Image.h"

#include <QString>
#include <cstdint>
#include <optional>

struct PictureOrigin {
    enum class Kind {
        None,    // nothing shown yet
        Icon,    // Show: icon First of Sprite
        Collage, // Collage: a page of icons First to Last of Sprite (none drawn: First 0)
        File,    // Bmp Load: the picture file File
    };
    Kind What = Kind::None;
    QString Sprite; // the sprite file's full path, as loaded
    int First = 0;  // icon numbers, from 1
    int Last = 0;
    QString File;               // the picture file's full path
    bool EditedOutside = false; // replaced by a save in an outside image editor
    // The picture as it was shown, loaded or last written, by its content.
    std::uint64_t Written = 0;

    static PictureOrigin OfIcon(const QString& sprite, int number);
    static PictureOrigin OfCollage(const QString& sprite, int first, int last);
    static PictureOrigin OfFile(const QString& path);

    // "icon 3 of hero.s16", "a collage page of icons 1 to 31 of hero.s16", "pic.bmp"; empty
    // for no picture.
    QString Text() const;
    // The sprite file's name in texts.
    QString SpriteName() const;
};

// A digest of the picture's size and pixels: equal pictures have equal digests.
std::uint64_t PictureDigest(const kiv::Image& picture);

// The picture holds paint that neither Replace nor Bmp Save has written.
bool HoldsUnwrittenPaint(const PictureOrigin& origin, const kiv::Image& picture);

// "icon 3 of hero.s16, painted": the origin and what was done to it since.
QString OriginStatus(const PictureOrigin& origin, const kiv::Image& picture);

// A sprite file and its ".s17" twin are one sprite.
bool SameSprite(const QString& a, const QString& b);

// The question Replace asks before it writes the picture into icon `number` of `sprite`,
// when the picture came from somewhere else: a collage page, or another icon or sprite.
// Nothing to ask for a picture from a file, no picture, or the icon it came from.
std::optional<QString> ReplaceQuestion(const PictureOrigin& origin, const QString& sprite,
                                       int number);
