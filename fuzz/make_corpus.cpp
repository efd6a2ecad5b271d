// Writes the seed corpus of every fuzz target: small, valid files of each form the targets
// read, plus a few damaged ones (mods are made by core from archives drawn here). Usage:
// make_corpus <folder>; seeds go to <folder>/<target>/<name>.

#include "mod/ModCreate.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <zlib.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

using Seeds = std::vector<std::pair<std::string, Bytes>>;

const Bytes& Named(const Seeds& seeds, const std::string& name) {
    for (const auto& seed : seeds)
        if (seed.first == name)
            return seed.second;
    throw std::runtime_error("no seed named " + name);
}

// ---- Bitmaps

struct BitmapForm {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    int Bpp = 24;
    std::uint32_t Compression = 0;
    Bytes Palette; // colour table entries, as stored
    Bytes Masks;   // bit-field masks after a 40-byte header
    bool Core = false;
};

BitmapForm Form(std::int32_t width, std::int32_t height, int bpp, std::uint32_t compression = 0,
                Bytes palette = {}, Bytes masks = {}, bool core = false) {
    BitmapForm f;
    f.Width = width;
    f.Height = height;
    f.Bpp = bpp;
    f.Compression = compression;
    f.Palette = std::move(palette);
    f.Masks = std::move(masks);
    f.Core = core;
    return f;
}

Bytes Bitmap(const BitmapForm& f, const Bytes& pixels) {
    const std::uint32_t headerSize = f.Core ? 12 : 40;
    const std::uint32_t offset =
        14 + headerSize + static_cast<std::uint32_t>(f.Masks.size() + f.Palette.size());
    Bytes out = {'B', 'M'};
    Put32(out, offset + static_cast<std::uint32_t>(pixels.size()));
    Put32(out, 0);
    Put32(out, offset);
    Put32(out, headerSize);
    if (f.Core) {
        Put16(out, static_cast<std::uint32_t>(f.Width));
        Put16(out, static_cast<std::uint32_t>(f.Height));
        Put16(out, 1);
        Put16(out, static_cast<std::uint32_t>(f.Bpp));
    } else {
        Put32(out, static_cast<std::uint32_t>(f.Width));
        Put32(out, static_cast<std::uint32_t>(f.Height));
        Put16(out, 1);
        Put16(out, static_cast<std::uint32_t>(f.Bpp));
        Put32(out, f.Compression);
        Put32(out, static_cast<std::uint32_t>(pixels.size()));
        Put32(out, 2835);
        Put32(out, 2835);
        Put32(out, 0);
        Put32(out, 0);
    }
    Append(out, f.Masks);
    Append(out, f.Palette);
    Append(out, pixels);
    return out;
}

Bytes Rows(int width, int height, int bpp, std::uint8_t seed) {
    const int stride = ((width * bpp + 31) / 32) * 4;
    Bytes out;
    for (int i = 0; i < stride * height; ++i)
        out.push_back(static_cast<std::uint8_t>(seed + i * 29));
    return out;
}

Bytes Palette(int entries, int entrySize) {
    Bytes out;
    for (int i = 0; i < entries; ++i) {
        out.push_back(static_cast<std::uint8_t>(i * 40));
        out.push_back(static_cast<std::uint8_t>(255 - i * 16));
        out.push_back(static_cast<std::uint8_t>(i * 7));
        if (entrySize == 4)
            out.push_back(0);
    }
    return out;
}

std::vector<std::pair<std::string, Bytes>> BitmapSeeds() {
    std::vector<std::pair<std::string, Bytes>> seeds;
    seeds.push_back({"rgb24", Bitmap(Form(3, 2, 24), Rows(3, 2, 24, 1))});
    seeds.push_back({"rgb24_topdown", Bitmap(Form(5, -3, 24), Rows(5, 3, 24, 2))});
    seeds.push_back({"mono", Bitmap(Form(9, 3, 1, 0, Palette(2, 4)), Rows(9, 3, 1, 3))});
    seeds.push_back({"pal4", Bitmap(Form(5, 2, 4, 0, Palette(16, 4)), Rows(5, 2, 4, 4))});
    seeds.push_back({"pal8", Bitmap(Form(4, 4, 8, 0, Palette(256, 4)), Rows(4, 4, 8, 5))});
    seeds.push_back({"rgb16", Bitmap(Form(3, 3, 16), Rows(3, 3, 16, 6))});
    seeds.push_back({"rgb32", Bitmap(Form(2, 2, 32), Rows(2, 2, 32, 7))});
    Bytes masks565;
    Put32(masks565, 0xF800);
    Put32(masks565, 0x07E0);
    Put32(masks565, 0x001F);
    seeds.push_back({"fields565", Bitmap(Form(3, 2, 16, 3, {}, masks565), Rows(3, 2, 16, 8))});
    Bytes masks32;
    Put32(masks32, 0x00FF0000);
    Put32(masks32, 0x0000FF00);
    Put32(masks32, 0x000000FF);
    seeds.push_back({"fields32", Bitmap(Form(2, 3, 32, 3, {}, masks32), Rows(2, 3, 32, 9))});
    seeds.push_back({"core24", Bitmap(Form(4, 2, 24, 0, {}, {}, true), Rows(4, 2, 24, 10))});
    seeds.push_back(
        {"core8", Bitmap(Form(3, 3, 8, 0, Palette(256, 3), {}, true), Rows(3, 3, 8, 11))});
    // Run-length: a run, an absolute block, a delta, end of line, end of bitmap.
    const Bytes rle8 = {3, 1, 0, 3, 4, 5, 6, 0, 0, 0, 0, 2, 1, 0, 2, 2, 9, 0, 0, 0, 1};
    seeds.push_back({"rle8", Bitmap(Form(6, 3, 8, 1, Palette(16, 4)), rle8)});
    const Bytes rle4 = {4, 0x12, 0, 4, 0x34, 0x56, 0, 0, 8, 0x9A, 0, 1};
    seeds.push_back({"rle4", Bitmap(Form(8, 2, 4, 2, Palette(16, 4)), rle4)});
    Bytes cut = Bitmap(Form(16, 16, 24), Rows(16, 16, 24, 12));
    cut.resize(cut.size() / 2);
    seeds.push_back({"short_rows", cut});
    seeds.push_back({"empty", {}});
    // Hostile: 2^31 pixels declared; a run-length stream that never ends its picture.
    seeds.push_back({"huge_declared", Bitmap(Form(65536, 32768, 24), Rows(4, 1, 24, 13))});
    seeds.push_back({"rle8_unended", Bitmap(Form(512, 512, 8, 1, Palette(4, 4)), {0, 0, 0, 0})});
    return seeds;
}

// ---- Sprite files

struct Icon {
    std::int32_t Width, Height, StartX, StartY, FWidth, FHeight;
    bool Runs;
    Bytes Data;
    std::int32_t Aux = 0;
};

Bytes RawData(int pixels, std::uint16_t seed) {
    Bytes out;
    for (int k = 0; k < pixels; ++k)
        Put16(out, static_cast<std::uint16_t>(seed + k * 2311));
    return out;
}

Bytes RunData(const std::vector<std::pair<int, std::uint16_t>>& runs) {
    Bytes out;
    for (const auto& [length, value] : runs) {
        out.push_back(static_cast<std::uint8_t>(length));
        Put16(out, value);
    }
    return out;
}

// Icons back to back, every layout rule kept; `count` overrides the stored count.
Bytes Sprite(const std::vector<Icon>& icons, std::int64_t count = -1) {
    Bytes out;
    Put32(out, static_cast<std::uint32_t>(count < 0 ? icons.size() : count));
    std::uint32_t starts = 0;
    for (const Icon& icon : icons) {
        for (std::int32_t w :
             {icon.Width, icon.Height, icon.StartX, icon.StartY, icon.FWidth, icon.FHeight})
            Put32(out, static_cast<std::uint32_t>(w));
        Put32(out, starts);
        Put32(out, static_cast<std::uint32_t>(icon.Data.size()));
        Put32(out, icon.Runs ? 1 : 0);
        Put32(out, static_cast<std::uint32_t>(icon.Aux));
        starts += static_cast<std::uint32_t>(icon.Data.size());
    }
    for (const Icon& icon : icons)
        Append(out, icon.Data);
    return out;
}

std::vector<std::pair<std::string, Bytes>> SpriteSeeds() {
    const Icon raw{4, 2, 2, 3, 10, 8, false, RawData(8, 0x1234)};
    const Icon runs{3, 2, 0, 0, 5, 4, true, RunData({{5, 0xF800}, {1, 0x07E0}})};
    const Icon zeroRuns{2, 2, 1, 1, 4, 4, true, RunData({{0, 1}, {0, 2}, {4, 0x001F}})};
    const Icon overshoot{2, 2, 0, 0, 3, 6, true, RunData({{3, 0xFFFF}, {5, 0x1111}})};
    const Icon clipped{6, 3, -2, 1, 5, 3, false, RawData(18, 0x4321)};
    std::vector<std::pair<std::string, Bytes>> seeds;
    seeds.push_back({"three_icons", Sprite({raw, runs, zeroRuns})});
    seeds.push_back({"overshoot", Sprite({overshoot, clipped})});
    seeds.push_back({"one_raw", Sprite({raw})});
    seeds.push_back({"no_icons", Sprite({})});
    Bytes cut = Sprite({raw, runs});
    cut.resize(cut.size() - 5);
    seeds.push_back({"cut_short", cut});
    seeds.push_back({"count_over_limit", Sprite({runs, raw}, 1001)});
    seeds.push_back({"negative_count", Sprite({raw}, -3)});
    // Hostile: a count of 0x7FFFFFFF, a box of 2^31 pixels, a frame far over any limit,
    // a long stream of zero-length runs, data far past the end of the file.
    seeds.push_back({"huge_count", Sprite({raw, runs}, 0x7FFFFFFF)});
    const Icon hugeBox{65536, 32768, 0, 0, 16, 16, true, RunData({{255, 0x1234}})};
    const Icon hugeFrame{2, 2, 0, 0, 65536, 32768, false, RawData(4, 1)};
    seeds.push_back({"huge_box_and_frame", Sprite({hugeBox, hugeFrame})});
    Bytes zeros(3 * 3000, 0);
    Append(zeros, RunData({{4, 0xF800}}));
    seeds.push_back({"zero_runs", Sprite({{2, 2, 0, 0, 2, 2, true, zeros}})});
    Bytes far = Sprite({raw});
    far[4 + 24] = 0xF0; // Starts of icon 1: 0x7FFFFFF0
    far[4 + 25] = far[4 + 26] = 0xFF;
    far[4 + 27] = 0x7F;
    seeds.push_back({"data_far_past_end", far});
    return seeds;
}

// ---- Archives

Bytes Archive(const std::vector<std::pair<std::string, Bytes>>& members,
              const Bytes& trailer = {}) {
    Bytes out;
    Put32(out, static_cast<std::uint32_t>(members.size()));
    std::uint32_t at = 8 + 17 * static_cast<std::uint32_t>(members.size());
    Put32(out, at);
    for (const auto& [name, data] : members) {
        Bytes field(13, 0);
        for (std::size_t k = 0; k < name.size() && k < 12; ++k)
            field[k] = static_cast<std::uint8_t>(name[k]);
        Append(out, field);
        at += static_cast<std::uint32_t>(data.size());
        Put32(out, at);
    }
    for (const auto& member : members)
        Append(out, member.second);
    Append(out, trailer);
    return out;
}

std::vector<std::pair<std::string, Bytes>> ArchiveSeeds() {
    const auto sprites = SpriteSeeds();
    std::vector<std::pair<std::string, Bytes>> seeds;
    seeds.push_back({"three_members", Archive({{"hero.s16", Named(sprites, "three_icons")},
                                               {"door.s16", Named(sprites, "overshoot")},
                                               {"blank.s16", Named(sprites, "no_icons")}})});
    seeds.push_back({"one_member_trailer",
                     Archive({{"abcdefghijkl", Named(sprites, "one_raw")}}, {0xEE, 0xEE, 0xEE})});
    Icon bad{1, 1, 0, 0, 1, 1, false, RawData(1, 7), 0x7F000000};
    seeds.push_back({"bad_member",
                     Archive({{"ok.s16", Named(sprites, "one_raw")}, {"bad.s16", Sprite({bad})}})});
    seeds.push_back({"empty_archive", Archive({})});
    Bytes cut =
        Archive({{"a.s16", Named(sprites, "three_icons")}, {"b.s16", Named(sprites, "one_raw")}});
    cut.resize(30);
    seeds.push_back({"cut_directory", cut});
    // Hostile: a member count of 0x7FFFFFFF; a member ending 4 GiB into a small file; a
    // member claiming 0x7FFFFFFF icons.
    Bytes huge = Archive({{"a.s16", Named(sprites, "one_raw")}});
    huge[0] = huge[1] = huge[2] = 0xFF;
    huge[3] = 0x7F;
    seeds.push_back({"huge_count", huge});
    Bytes far =
        Archive({{"a.s16", Named(sprites, "one_raw")}, {"far.s16", Named(sprites, "one_raw")}});
    std::fill(far.begin() + 38, far.begin() + 42, 0xFF);
    seeds.push_back({"end_far_past_file", far});
    seeds.push_back(
        {"member_huge_icon_count", Archive({{"many.s16", Named(sprites, "huge_count")}})});
    return seeds;
}

// ---- Mods: a base archive (its length first), then a mod core made from it and an edited
// copy

std::vector<std::pair<std::string, Bytes>> ModSeeds(const fs::path& work) {
    const Icon raw{4, 2, 2, 3, 10, 8, false, RawData(8, 0x1234)};
    Icon changed = raw;
    changed.Data[3] ^= 0x5A;
    const Icon runs{3, 2, 0, 0, 5, 4, true, RunData({{5, 0xF800}, {1, 0x07E0}})};
    const Icon longer{3, 2, 0, 0, 5, 4, true, RunData({{2, 0xF800}, {3, 0x0123}, {1, 0x07E0}})};
    const Bytes base = Archive({{"hero.s16", Sprite({raw, runs})},
                                {"coins.s16", Sprite({runs})},
                                {"dup.s16", Sprite({raw})},
                                {"dup.s16", Sprite({runs})}},
                               {0xEE, 0xEE});
    const std::vector<std::pair<std::string, Bytes>> edits = {
        {"one_icon", Archive({{"hero.s16", Sprite({changed, runs})},
                              {"coins.s16", Sprite({runs})},
                              {"dup.s16", Sprite({raw})},
                              {"dup.s16", Sprite({runs})}},
                             {0xEE, 0xEE})},
        {"grown_icon_and_count", Archive({{"hero.s16", Sprite({raw, longer})},
                                          {"coins.s16", Sprite({runs, raw})},
                                          {"dup.s16", Sprite({raw})},
                                          {"dup.s16", Sprite({longer})}},
                                         {0xEE, 0xEE})},
        {"added_removed_moved", Archive({{"dup.s16", Sprite({raw})},
                                         {"new.s16", Sprite({longer})},
                                         {"hero.s16", Sprite({raw, runs})},
                                         {"dup.s16", Sprite({runs})}},
                                        {0xEE})},
        {"not_sprites", Archive({{"hero.s16", {1, 2, 3}},
                                 {"coins.s16", Sprite({runs})},
                                 {"dup.s16", Sprite({raw})},
                                 {"dup.s16", Sprite({runs})}})},
    };
    fs::create_directories(work);
    const auto write = [](const fs::path& path, const Bytes& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    };
    std::vector<std::pair<std::string, Bytes>> seeds;
    const auto seedOf = [&](const std::string& name, const Bytes& base, const Bytes& edited) {
        write(work / "base.dat", base);
        write(work / "edited.dat", edited);
        const kiv::ModCreated made =
            kiv::CreateMod((work / "base.dat").string(), (work / "edited.dat").string(),
                           (work / "seed.kivmod").string(), {name, "make_corpus", ""});
        if (!made.Ok)
            throw std::runtime_error("cannot make mod seed " + name + ": " + made.Message);
        std::ifstream in(work / "seed.kivmod", std::ios::binary);
        const Bytes mod((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Bytes seed;
        Put32(seed, static_cast<std::uint32_t>(base.size()));
        Append(seed, base);
        Append(seed, mod);
        seeds.push_back({name, seed});
    };
    for (const auto& [name, edited] : edits)
        seedOf(name, base, edited);
    // A larger icon with one pixel changed, stored as its XOR with the base icon.
    const Icon large{48, 40, 0, 0, 48, 40, false, RawData(48 * 40, 0x0F0F)};
    Icon touched = large;
    touched.Data[1000] ^= 0x81;
    seedOf("xor_icon", Archive({{"big.s16", Sprite({large})}}),
           Archive({{"big.s16", Sprite({touched})}}));
    // The same mod for another base (its first member's bytes differ), and cut short.
    Bytes other = seeds.front().second;
    other[4 + 8 + 17 * 4 + 20] ^= 1;
    seeds.push_back({"other_base", other});
    Bytes cut = seeds.front().second;
    cut.resize(cut.size() - 30);
    seeds.push_back({"cut_short", cut});
    fs::remove_all(work);
    return seeds;
}

// ---- Re-encode: width, height, slot, one palette byte a pixel, then a sprite file

std::vector<std::pair<std::string, Bytes>> ReencodeSeeds() {
    std::vector<std::pair<std::string, Bytes>> seeds;
    const auto sprites = SpriteSeeds();
    const auto picture = [](int w, int h, int slot, std::uint8_t ink) {
        Bytes out = {static_cast<std::uint8_t>(w - 1), static_cast<std::uint8_t>(h - 1),
                     static_cast<std::uint8_t>(slot)};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                out.push_back(x > 0 && y > 0 && (x + y) % 3 != 0
                                  ? static_cast<std::uint8_t>(ink + (x * y) % 5)
                                  : 0);
        return out;
    };
    Bytes a = picture(6, 5, 1, 200);
    Append(a, Named(sprites, "three_icons"));
    seeds.push_back({"middle_icon", a});
    Bytes b = picture(12, 3, 0, 100);
    Append(b, Named(sprites, "one_raw"));
    seeds.push_back({"only_icon", b});
    Bytes c = picture(40, 30, 2, 130);
    Append(c, Named(sprites, "three_icons"));
    seeds.push_back({"last_icon_wide", c});
    Bytes d = picture(4, 4, 0, 0); // every pixel background
    Append(d, Named(sprites, "three_icons"));
    seeds.push_back({"blank_picture", d});
    Bytes e = picture(8, 8, 0, 250);
    Append(e, Named(sprites, "count_over_limit"));
    seeds.push_back({"count_over_limit", e});
    return seeds;
}

// ---- PNG files

void PutBE32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void Chunk(Bytes& out, const char* type, const Bytes& data) {
    PutBE32(out, static_cast<std::uint32_t>(data.size()));
    Bytes body(type, type + 4);
    Append(body, data);
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::uint8_t b : body) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    Append(out, body);
    PutBE32(out, ~crc);
}

// A w x h file of the given depth and colour type whose filtered rows (every Adam7 pass
// when interlaced) hold a repeating pattern with every filter kind, deflated for real.
Bytes Png(std::uint32_t w, std::uint32_t h, int depth, int colorType, bool interlaced,
          const Bytes& extra = {}) {
    const int channels = colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
    auto rowBytes = [&](std::uint32_t width) { return (width * channels * depth + 7) / 8; };
    Bytes raw;
    auto rows = [&](std::uint32_t width, std::uint32_t height) {
        if (width == 0 || height == 0)
            return;
        for (std::uint32_t y = 0; y < height; ++y) {
            raw.push_back(static_cast<std::uint8_t>(y % 5));
            for (std::uint32_t x = 0; x < rowBytes(width); ++x)
                raw.push_back(static_cast<std::uint8_t>(x * 37 + y * 11));
        }
    };
    if (!interlaced) {
        rows(w, h);
    } else {
        const int x0[7] = {0, 4, 0, 2, 0, 1, 0}, dx[7] = {8, 8, 4, 4, 2, 2, 1};
        const int y0[7] = {0, 0, 4, 0, 2, 0, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
        for (int p = 0; p < 7; ++p)
            rows((w - x0[p] + dx[p] - 1) / dx[p], (h - y0[p] + dy[p] - 1) / dy[p]);
    }
    uLongf packed = compressBound(static_cast<uLong>(raw.size()));
    Bytes idat(packed);
    if (compress2(idat.data(), &packed, raw.data(), static_cast<uLong>(raw.size()), 8) != Z_OK)
        throw std::runtime_error("zlib could not compress a seed's rows");
    idat.resize(packed);

    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    PutBE32(header, w);
    PutBE32(header, h);
    for (int b : {depth, colorType, 0, 0, interlaced ? 1 : 0})
        header.push_back(static_cast<std::uint8_t>(b));
    Chunk(out, "IHDR", header);
    if (!extra.empty())
        Append(out, extra);
    Chunk(out, "IDAT", idat);
    Chunk(out, "IEND", {});
    return out;
}

Seeds PngSeeds() {
    Bytes palette, alphas;
    for (int k = 0; k < 16; ++k) {
        for (int c = 0; c < 3; ++c)
            palette.push_back(static_cast<std::uint8_t>(k * 16 + c * 5));
        alphas.push_back(static_cast<std::uint8_t>(k * 17));
    }
    Bytes paletteChunks;
    Chunk(paletteChunks, "PLTE", palette);
    Chunk(paletteChunks, "tRNS", alphas);
    Bytes greyKey;
    Chunk(greyKey, "tRNS", {0, 37});

    Seeds seeds = {
        {"rgba8", Png(9, 7, 8, 6, false)},
        {"rgb16", Png(5, 4, 16, 2, false)},
        {"grey1", Png(13, 3, 1, 0, false)},
        {"grey16_key", Png(4, 4, 16, 0, false, greyKey)},
        {"grey_alpha8", Png(6, 6, 8, 4, false)},
        {"palette4_alpha", Png(10, 5, 4, 3, false, paletteChunks)},
        {"interlaced_rgba8", Png(11, 9, 8, 6, true)},
        {"interlaced_palette2", Png(3, 10, 2, 3, true, paletteChunks)},
    };
    Bytes cut = Named(seeds, "rgba8");
    cut.resize(cut.size() - 20);
    seeds.push_back({"cut_short", cut});
    return seeds;
}

// Pairs of files as fuzz_diff takes them: the first file's length in two bytes, the first
// file, the second.
Bytes Pair(const Bytes& a, const Bytes& b) {
    Bytes out;
    Put16(out, static_cast<std::uint32_t>(a.size()));
    Append(out, a);
    Append(out, b);
    return out;
}

Seeds DiffSeeds() {
    const Seeds sprites = SpriteSeeds();
    const Seeds archives = ArchiveSeeds();
    const Bytes& three = Named(archives, "three_members");
    Bytes edited = three;
    edited.back() ^= 0x55;
    return {
        {"same_archive", Pair(three, three)},
        {"archive_edited", Pair(three, edited)},
        {"archive_and_trailer", Pair(three, Named(archives, "one_member_trailer"))},
        {"bad_and_cut", Pair(Named(archives, "bad_member"), Named(archives, "cut_directory"))},
        {"sprites", Pair(Named(sprites, "three_icons"), Named(sprites, "overshoot"))},
        {"sprite_and_empty", Pair(Named(sprites, "one_raw"), Named(sprites, "no_icons"))},
    };
}

void WriteSeeds(const fs::path& folder, const std::vector<std::pair<std::string, Bytes>>& seeds) {
    fs::create_directories(folder);
    for (const auto& [name, bytes] : seeds) {
        std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out)
            throw std::runtime_error("cannot write " + (folder / name).string());
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus <folder>\n");
        return 2;
    }
    try {
        const fs::path root = argv[1];
        WriteSeeds(root / "fuzz_bitmap", BitmapSeeds());
        WriteSeeds(root / "fuzz_sprite", SpriteSeeds());
        WriteSeeds(root / "fuzz_archive", ArchiveSeeds());
        WriteSeeds(root / "fuzz_reencode", ReencodeSeeds());
        WriteSeeds(root / "fuzz_png", PngSeeds());
        WriteSeeds(root / "fuzz_diff", DiffSeeds());
        WriteSeeds(root / "fuzz_mod", ModSeeds(root / "mod-work"));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_corpus: %s\n", e.what());
        return 1;
    }
    return 0;
}
