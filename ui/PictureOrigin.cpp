#include "PictureOrigin.h"

#include <QDir>
#include <QFileInfo>
#include <cstring>

namespace {

QString FileNameOf(const QString& path) {
    return QFileInfo(path).fileName();
}

// The name both files of a sprite share: the path with its last character made '7', as the
// twin is named, in its absolute and clean form.
QString SpriteKey(const QString& path) {
    QString key = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (!key.isEmpty())
        key[key.size() - 1] = QLatin1Char('7');
    return key;
}

QString IconsText(int first, int last) {
    return first == last ? QStringLiteral("icon %1").arg(first)
                         : QStringLiteral("icons %1 to %2").arg(first).arg(last);
}

} // namespace

PictureOrigin PictureOrigin::OfIcon(const QString& sprite, int number) {
    PictureOrigin origin = OfCollage(sprite, number, number);
    origin.What = Kind::Icon;
    return origin;
}

PictureOrigin PictureOrigin::OfCollage(const QString& sprite, int first, int last) {
    PictureOrigin origin;
    origin.What = Kind::Collage;
    origin.Sprite = sprite;
    origin.First = first;
    origin.Last = last;
    return origin;
}

PictureOrigin PictureOrigin::OfFile(const QString& path) {
    PictureOrigin origin;
    origin.What = Kind::File;
    origin.File = path;
    return origin;
}

QString PictureOrigin::SpriteName() const {
    return FileNameOf(Sprite);
}

QString PictureOrigin::Text() const {
    switch (What) {
    case Kind::None:
        return QString();
    case Kind::Icon:
        return QStringLiteral("icon %1 of %2").arg(First).arg(SpriteName());
    case Kind::Collage:
        if (First <= 0)
            return QStringLiteral("an empty collage page of %1").arg(SpriteName());
        return QStringLiteral("a collage page of %1 of %2")
            .arg(IconsText(First, Last), SpriteName());
    case Kind::File:
        return FileNameOf(File);
    }
    return QString();
}

std::uint64_t PictureDigest(const kiv::Image& picture) {
    // 64-bit FNV-1a over the size and then the pixel rows, eight bytes a step.
    std::uint64_t hash = 14695981039346656037ull;
    const auto mix = [&hash](std::uint64_t word) {
        hash ^= word;
        hash *= 1099511628211ull;
    };
    mix(static_cast<std::uint64_t>(static_cast<std::uint32_t>(picture.Width())) << 32 |
        static_cast<std::uint32_t>(picture.Height()));
    for (int y = 0; y < picture.Height(); ++y) {
        const kiv::TColor* row = picture.Row(y);
        int x = 0;
        for (; x + 1 < picture.Width(); x += 2)
            mix(static_cast<std::uint64_t>(row[x]) << 32 | row[x + 1]);
        if (x < picture.Width())
            mix(row[x]);
    }
    return hash;
}

bool HoldsUnwrittenPaint(const PictureOrigin& origin, const kiv::Image& picture) {
    if (origin.What == PictureOrigin::Kind::None && picture.Empty())
        return false;
    return PictureDigest(picture) != origin.Written;
}

QString OriginStatus(const PictureOrigin& origin, const kiv::Image& picture) {
    QString text = origin.Text();
    if (origin.EditedOutside)
        text += QStringLiteral(", edited outside");
    if (HoldsUnwrittenPaint(origin, picture) && !origin.EditedOutside)
        text += text.isEmpty() ? QStringLiteral("painted") : QStringLiteral(", painted");
    return text;
}

bool SameSprite(const QString& a, const QString& b) {
    return !a.isEmpty() && !b.isEmpty() && SpriteKey(a) == SpriteKey(b);
}

std::optional<QString> ReplaceQuestion(const PictureOrigin& origin, const QString& sprite,
                                       int number) {
    const QString target = QStringLiteral("icon %1 of %2").arg(number).arg(FileNameOf(sprite));
    switch (origin.What) {
    case PictureOrigin::Kind::None:
    case PictureOrigin::Kind::File:
        return std::nullopt;
    case PictureOrigin::Kind::Collage: {
        const QString page = origin.First > 0 ? QStringLiteral("a collage page of ") +
                                                    IconsText(origin.First, origin.Last)
                                              : QStringLiteral("an empty collage page");
        return QStringLiteral("The picture is %1, not one icon. Replace %2 with the whole page?")
            .arg(page, target);
    }
    case PictureOrigin::Kind::Icon:
        if (origin.First == number && SameSprite(origin.Sprite, sprite))
            return std::nullopt;
        return QStringLiteral("The picture is %1. Replace %2 with it?").arg(origin.Text(), target);
    }
    return std::nullopt;
}
