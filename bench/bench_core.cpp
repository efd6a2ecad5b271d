// Core benchmarks, each beside the baseline it is judged against. The inputs come from
// make_inputs, in the folder named by KIV_BENCH_DIR.

#include "base/FileStream.h"
#include "image/Bitmap.h"
#include "sprite/IconDecoder.h"
#include "sprite/IconEncoder.h"
#include "sprite/S16Format.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string Input(const std::string& name) {
    const char* dir = std::getenv("KIV_BENCH_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}

void Decode(benchmark::State& state, const std::string& name) {
    kiv::TIconTable table;
    if (kiv::ReadIconTable(Input(name), table) == kiv::ReadTableResult::CannotOpen) {
        state.SkipWithError("input missing");
        return;
    }
    const kiv::TIconHeader header = table.Headers[0];
    for (auto _ : state) {
        auto file = kiv::InFile::Open(table.Path);
        kiv::Image frame =
            kiv::DecodeIcon(*file, kiv::IconDataOffset(table.StoredCount, header), header);
        benchmark::DoNotOptimize(frame.Bits());
    }
}

// The plain loop a decoder cannot beat: read the bytes, write the pixels.
void DecodeBaseline(benchmark::State& state, const std::string& name, bool rle) {
    kiv::TIconTable table;
    if (kiv::ReadIconTable(Input(name), table) == kiv::ReadTableResult::CannotOpen) {
        state.SkipWithError("input missing");
        return;
    }
    const kiv::TIconHeader h = table.Headers[0];
    const std::int64_t offset = kiv::IconDataOffset(table.StoredCount, h);
    for (auto _ : state) {
        std::FILE* f = std::fopen(table.Path.c_str(), "rb");
        std::fseek(f, static_cast<long>(offset), SEEK_SET);
        std::vector<std::uint8_t> data(static_cast<std::size_t>(h.Bytes));
        const std::size_t got = std::fread(data.data(), 1, data.size(), f);
        std::fclose(f);
        std::vector<kiv::TColor> pixels(static_cast<std::size_t>(h.FWidth) * h.FHeight);
        if (rle) {
            std::size_t k = 0;
            for (std::size_t i = 0; i + 2 < got && k < pixels.size(); i += 3) {
                const kiv::TColor c = kiv::UnpackPixel(data[i + 1], data[i + 2]);
                for (int n = 0; n < data[i] && k < pixels.size(); ++n)
                    pixels[k++] = c;
            }
        } else {
            for (std::size_t k = 0; k < pixels.size() && 2 * k + 1 < got; ++k)
                pixels[k] = kiv::UnpackPixel(data[2 * k], data[2 * k + 1]);
        }
        benchmark::DoNotOptimize(pixels.data());
    }
}

void BM_DecodeRaw(benchmark::State& s) {
    Decode(s, "raw.s16");
}
void BM_DecodeRaw_Baseline(benchmark::State& s) {
    DecodeBaseline(s, "raw.s16", false);
}
void BM_DecodeRle(benchmark::State& s) {
    Decode(s, "rle.s16");
}
void BM_DecodeRle_Baseline(benchmark::State& s) {
    DecodeBaseline(s, "rle.s16", true);
}
BENCHMARK(BM_DecodeRaw)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeRaw_Baseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeRle)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeRle_Baseline)->Unit(benchmark::kMicrosecond);

void BM_Reencode(benchmark::State& state) {
    const std::string work = Input("work");
    std::filesystem::create_directories(work);
    std::filesystem::copy_file(Input("thousand.s16"), work + "/thousand.s16",
                               std::filesystem::copy_options::overwrite_existing);
    kiv::TIconTable table;
    kiv::ReadIconTable(work + "/thousand.s16", table);
    kiv::Image picture(642, 482);
    picture.Fill(kiv::BackColor);
    for (int y = 10; y < 400; ++y)
        for (int x = 20 + y % 7; x < 600; ++x)
            picture.SetPixel(x, y, kiv::RGB(x, y, x + y));
    for (auto _ : state) {
        const auto result = kiv::ReencodeIcon(picture, 500, table);
        if (!result.Ok)
            state.SkipWithError(result.Message.c_str());
    }
}
void BM_Reencode_Baseline(benchmark::State& state) {
    const std::string work = Input("work");
    std::filesystem::create_directories(work);
    for (auto _ : state)
        std::filesystem::copy_file(Input("thousand.s16"), work + "/copy.s16",
                                   std::filesystem::copy_options::overwrite_existing);
}
BENCHMARK(BM_Reencode)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Reencode_Baseline)->Unit(benchmark::kMicrosecond);

void BM_BitmapLoad(benchmark::State& state) {
    for (auto _ : state) {
        kiv::Image picture = kiv::LoadBitmapFile(Input("pic4096.bmp"));
        benchmark::DoNotOptimize(picture.Bits());
    }
}
void BM_BitmapSave(benchmark::State& state) {
    const kiv::Image picture = kiv::LoadBitmapFile(Input("pic4096.bmp"));
    for (auto _ : state)
        kiv::SaveBitmapFile(picture, Input("saved4096.bmp"));
}
BENCHMARK(BM_BitmapLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitmapSave)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
