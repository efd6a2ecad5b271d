// Writes the benchmark inputs into a folder, deterministically:
//   big.dat        a 1 GiB archive of nine members, the fourth of them 512 MiB
//   m4.s17         the modified twin of member m4.s16 (64 MiB + 12345 bytes)
//   many.dat       an archive of 100,000 small members
//   icons.dat      an archive whose member icons.s16 holds 1,000 icons
//   raw.s16, rle.s16   one 640 x 480 icon each, raw and run-length
//   thousand.s16   1,000 small icons, for re-encoding
//   anim64.s16     64 icons of 320 x 240, for the animated GIF rows
//   pic4096.bmp    a 4096 x 4096 bitmap
//   modbase.dat    a 1 GiB archive of 16 sprite members of 511 raw 256 x 256 icons each, and
//   moda.dat       the same with 10 pixels of one icon changed,
//   modb.dat       with 20 icons in 5 members changed (100 pixels each),
//   modc.dat       with one icon of a middle member grown by 50 KiB (100 rows more)
//   smallbase.dat, smalla.dat   a 16 MiB archive of the same kind, and one icon changed

#include "base/FileStream.h"
#include "base/SafeFile.h"
#include "image/Bitmap.h"
#include "sprite/S16Format.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& out, std::int32_t v) {
    unsigned char b[4];
    kiv::PutInt32LE(b, v);
    out.insert(out.end(), b, b + 4);
}

struct Rng {
    std::uint64_t s = 0x9E3779B97F4A7C15ull;
    std::uint64_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
};

void FillRandom(Rng& rng, std::uint8_t* p, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const std::uint64_t v = rng.Next();
        for (int k = 0; k < 8; ++k)
            p[i + k] = static_cast<std::uint8_t>(v >> (8 * k));
    }
    for (; i < n; ++i)
        p[i] = static_cast<std::uint8_t>(rng.Next());
}

void WriteStream(const std::string& path, std::int64_t size, Rng& rng) {
    kiv::SafeFile out(path);
    std::vector<std::uint8_t> block(1 << 20);
    for (std::int64_t done = 0; done < size;) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(size - done, block.size()));
        FillRandom(rng, block.data(), n);
        out.Write(block.data(), n);
        done += static_cast<std::int64_t>(n);
    }
    out.Commit();
}

// prefix + number + ".s16" (built by appending: g++ 12 warns falsely on "x" + std::string).
std::string MemberName(const char* prefix, int number) {
    std::string name = prefix;
    name += std::to_string(number);
    name += ".s16";
    return name;
}

Bytes Directory(const std::vector<std::pair<std::string, std::int64_t>>& members) {
    Bytes out;
    Put32(out, static_cast<std::int32_t>(members.size()));
    std::int64_t offset = 8 + 17 * static_cast<std::int64_t>(members.size());
    Put32(out, static_cast<std::int32_t>(offset));
    for (const auto& [name, size] : members) {
        Bytes field(13, 0);
        std::copy(name.begin(), name.end(), field.begin());
        out.insert(out.end(), field.begin(), field.end());
        offset += size;
        Put32(out, static_cast<std::int32_t>(static_cast<std::uint32_t>(offset)));
    }
    return out;
}

void WriteBigArchive(const std::string& dir) {
    const std::int64_t MiB = 1 << 20;
    std::vector<std::pair<std::string, std::int64_t>> members;
    for (int i = 0; i < 9; ++i)
        members.push_back({i == 3 ? "big.s16" : MemberName("m", i), i == 3 ? 512 * MiB : 64 * MiB});
    const Bytes dirBytes = Directory(members);
    kiv::SafeFile out(dir + "/big.dat");
    out.Write(dirBytes.data(), dirBytes.size());
    Rng rng;
    std::vector<std::uint8_t> block(1 << 20);
    for (const auto& m : members)
        for (std::int64_t done = 0; done < m.second; done += MiB) {
            FillRandom(rng, block.data(), block.size());
            out.Write(block.data(), block.size());
        }
    out.Commit();
    Rng twin{12345};
    WriteStream(dir + "/m4.s17", 64 * MiB + 12345, twin);
}

void WriteManyArchive(const std::string& dir) {
    std::vector<std::pair<std::string, std::int64_t>> members;
    for (int i = 0; i < 100000; ++i)
        members.push_back({MemberName("f", i), 64});
    Bytes all = Directory(members);
    all.resize(all.size() + 64 * members.size(), 0);
    kiv::WriteWholeFile(dir + "/many.dat", all.data(), all.size());
}

// A sprite file of `count` icons of w x h raw pixels each.
Bytes SpriteOf(int count, int w, int h, bool rle) {
    Bytes out;
    Put32(out, count);
    Bytes data;
    std::int32_t starts = 0;
    Bytes headers;
    for (int i = 0; i < count; ++i) {
        Bytes icon;
        const int n = w * h;
        if (rle) {
            // Runs of mixed lengths: 1, 2, 3 ... 60, then again.
            int k = 0, len = 1;
            while (k < n) {
                const int c = std::min(len, n - k);
                icon.push_back(static_cast<std::uint8_t>(c));
                icon.push_back(static_cast<std::uint8_t>(k * 7));
                icon.push_back(static_cast<std::uint8_t>(k >> 3));
                k += c;
                len = len % 60 + 1;
            }
        } else {
            for (int k = 0; k < n; ++k) {
                icon.push_back(static_cast<std::uint8_t>(k * 13 + i));
                icon.push_back(static_cast<std::uint8_t>((k >> 4) + i));
            }
        }
        kiv::TIconHeader hdr;
        hdr.Width = w;
        hdr.Height = h;
        hdr.FWidth = w;
        hdr.FHeight = h;
        hdr.Starts = starts;
        hdr.Bytes = static_cast<std::int32_t>(icon.size());
        hdr.Compress = rle ? 1 : 0;
        unsigned char hb[40];
        hdr.ToBytes(hb);
        headers.insert(headers.end(), hb, hb + 40);
        data.insert(data.end(), icon.begin(), icon.end());
        starts += hdr.Bytes;
    }
    out.insert(out.end(), headers.begin(), headers.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// 64 raw icons of 320 x 240: a ring of warm colours that grows as it drifts across a clear
// background, as an explosion plays.
Bytes AnimationSprite() {
    constexpr int w = 320, h = 240, count = 64;
    Bytes out;
    Put32(out, count);
    Bytes headers, data;
    for (int f = 0; f < count; ++f) {
        const double cx = 70 + 2.5 * f, cy = 120 + (f % 16) - 8, r = 6 + 1.6 * f,
                     band = 10 + f / 4.0;
        const std::size_t starts = data.size();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double off = std::abs(std::hypot(x - cx, y - cy) - r);
                kiv::TColor c = kiv::BackColor;
                if (off < band) {
                    const int shade = static_cast<int>(off * 6);
                    c = kiv::RGB(248, std::max(0, 240 - shade * 3), std::min(255, f * 2 + shade));
                }
                const std::uint16_t p = kiv::PackPixel(c);
                data.push_back(static_cast<std::uint8_t>(p));
                data.push_back(static_cast<std::uint8_t>(p >> 8));
            }
        kiv::TIconHeader hdr;
        hdr.Width = hdr.FWidth = w;
        hdr.Height = hdr.FHeight = h;
        hdr.Starts = static_cast<std::int32_t>(starts);
        hdr.Bytes = w * h * 2;
        unsigned char hb[40];
        hdr.ToBytes(hb);
        headers.insert(headers.end(), hb, hb + 40);
    }
    out.insert(out.end(), headers.begin(), headers.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

void WriteSprites(const std::string& dir) {
    const Bytes raw = SpriteOf(1, 640, 480, false);
    kiv::WriteWholeFile(dir + "/raw.s16", raw.data(), raw.size());
    const Bytes rle = SpriteOf(1, 640, 480, true);
    kiv::WriteWholeFile(dir + "/rle.s16", rle.data(), rle.size());
    const Bytes thousand = SpriteOf(1000, 24, 16, true);
    kiv::WriteWholeFile(dir + "/thousand.s16", thousand.data(), thousand.size());
    const Bytes anim = AnimationSprite();
    kiv::WriteWholeFile(dir + "/anim64.s16", anim.data(), anim.size());

    const std::vector<std::pair<std::string, std::int64_t>> members = {
        {"icons.s16", static_cast<std::int64_t>(thousand.size())}};
    Bytes archive = Directory(members);
    archive.insert(archive.end(), thousand.begin(), thousand.end());
    kiv::WriteWholeFile(dir + "/icons.dat", archive.data(), archive.size());
}

void WriteBitmap(const std::string& dir) {
    kiv::Image picture(4096, 4096);
    for (int y = 0; y < 4096; ++y) {
        kiv::TColor* row = picture.Row(y);
        for (int x = 0; x < 4096; ++x)
            row[x] = kiv::RGB(x & 0xFF, y & 0xFF, (x ^ y) & 0xFF);
    }
    kiv::SaveBitmapFile(picture, dir + "/pic4096.bmp");
}

// An archive of sprite members whose icons are raw 256 x 256 pixels of noise; `edit` may
// change an icon's pixels or add rows to it before it is written.
using IconEdit = std::function<void(int member, int icon, kiv::TIconHeader&, Bytes&)>;
void WriteSpriteArchive(const std::string& path, int members, int icons, const IconEdit& edit) {
    constexpr int kSide = 256;
    std::vector<std::pair<std::string, std::int64_t>> directory;
    kiv::SafeFile out(path);
    Bytes placeholder = Directory(std::vector<std::pair<std::string, std::int64_t>>(
        static_cast<std::size_t>(members), {"", 0}));
    out.Write(placeholder.data(), placeholder.size());
    Bytes headers, icon;
    for (int m = 0; m < members; ++m) {
        headers.clear();
        Put32(headers, icons);
        std::int32_t starts = 0;
        std::vector<Bytes> data;
        for (int i = 0; i < icons; ++i) {
            Rng rng{0x9E3779B97F4A7C15ull ^ (std::uint64_t(m) << 32 | std::uint32_t(i))};
            icon.resize(2 * kSide * kSide);
            FillRandom(rng, icon.data(), icon.size());
            kiv::TIconHeader hdr;
            hdr.Width = hdr.FWidth = kSide;
            hdr.Height = hdr.FHeight = kSide;
            if (edit)
                edit(m, i, hdr, icon);
            hdr.Starts = starts;
            hdr.Bytes = static_cast<std::int32_t>(icon.size());
            unsigned char hb[40];
            hdr.ToBytes(hb);
            headers.insert(headers.end(), hb, hb + 40);
            data.push_back(icon);
            starts += hdr.Bytes;
        }
        out.Write(headers.data(), headers.size());
        for (const Bytes& d : data)
            out.Write(d.data(), d.size());
        directory.push_back({MemberName("s", m), std::int64_t(headers.size()) + starts});
    }
    const Bytes dirBytes = Directory(directory);
    out.WriteAt(0, dirBytes.data(), dirBytes.size());
    out.Commit();
}

// Changes `count` pixels of an icon, spread over it.
void Repaint(Bytes& icon, int count, int seed) {
    for (int k = 0; k < count; ++k) {
        const std::size_t at =
            (std::size_t(k) * 7919 + std::size_t(seed) * 104729) % (icon.size() / 2);
        icon[2 * at] ^= 0x5A;
        icon[2 * at + 1] ^= 0xA5;
    }
}

void WriteModArchives(const std::string& dir) {
    constexpr int kMembers = 16, kIcons = 511;
    WriteSpriteArchive(dir + "/modbase.dat", kMembers, kIcons, {});
    WriteSpriteArchive(dir + "/moda.dat", kMembers, kIcons,
                       [](int m, int i, kiv::TIconHeader&, Bytes& icon) {
                           if (m == 5 && i == 7)
                               Repaint(icon, 10, 1);
                       });
    WriteSpriteArchive(dir + "/modb.dat", kMembers, kIcons,
                       [](int m, int i, kiv::TIconHeader&, Bytes& icon) {
                           if (m % 3 == 2 && m < 15 && i % 125 == 42)
                               Repaint(icon, 100, m * 1000 + i);
                       });
    WriteSpriteArchive(dir + "/modc.dat", kMembers, kIcons,
                       [](int m, int i, kiv::TIconHeader& hdr, Bytes& icon) {
                           if (m != 8 || i != 100)
                               return;
                           hdr.Height = hdr.FHeight = hdr.Height + 100;
                           const std::size_t old = icon.size();
                           icon.resize(old + 2 * 256 * 100);
                           Rng rng{777};
                           FillRandom(rng, icon.data() + old, icon.size() - old);
                       });
    // bsdiff takes about 40 s on 64 MiB: 16 MiB is enough to show its size.
    constexpr int kSmallIcons = 127;
    WriteSpriteArchive(dir + "/smallbase.dat", 1, kSmallIcons, {});
    WriteSpriteArchive(dir + "/smalla.dat", 1, kSmallIcons,
                       [](int, int i, kiv::TIconHeader&, Bytes& icon) {
                           if (i == 7)
                               Repaint(icon, 10, 1);
                       });
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_inputs DIR [small]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const bool small = argc > 2 && std::string(argv[2]) == "small";
    try {
        WriteSprites(dir);
        WriteBitmap(dir);
        WriteManyArchive(dir);
        if (!small) {
            WriteBigArchive(dir);
            WriteModArchives(dir);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_inputs: %s\n", e.what());
        return 1;
    }
    return 0;
}
