// Benchmarks that need Qt: bitmap load and save by QImage (the baseline for our codec), and
// the browser's listing and member selection on the real window, offscreen.

#include "KivUt1.h"
#include "S16Ed.h"
#include "base/FileStream.h"

#include <QApplication>
#include <QImage>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Input(const std::string& name) {
    const char* dir = std::getenv("KIV_BENCH_DIR");
    return std::string(dir ? dir : ".") + "/" + name;
}

void BM_QtBitmapLoad(benchmark::State& state) {
    for (auto _ : state) {
        QImage image(QString::fromStdString(Input("pic4096.bmp")), "BMP");
        benchmark::DoNotOptimize(image.constBits());
    }
}
void BM_QtBitmapSave(benchmark::State& state) {
    const QImage image(QString::fromStdString(Input("pic4096.bmp")), "BMP");
    for (auto _ : state)
        image.save(QString::fromStdString(Input("qtsaved4096.bmp")), "BMP");
}
BENCHMARK(BM_QtBitmapLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtBitmapSave)->Unit(benchmark::kMillisecond);

TMainForm* Browser() {
    static TMainForm* form = [] {
        auto* f = new TMainForm();
        MainForm = f;
        EditForm = new TEditForm();
        return f;
    }();
    return form;
}

void BM_ListArchive100k(benchmark::State& state) {
    TMainForm* form = Browser();
    for (auto _ : state) {
        KivUt1::DataFileName = Input("many.dat");
        KivUt1::FirstActivation = true;
        form->FormActivate(form);
    }
    state.counters["rows"] = form->InfoGrid->RowCount();
}
void BM_ListArchive100k_Baseline(benchmark::State& state) {
    for (auto _ : state) {
        auto file = kiv::InFile::Open(Input("many.dat"));
        std::vector<std::uint8_t> directory(8 + 17 * 100000);
        benchmark::DoNotOptimize(file->Read(directory.data(), directory.size()));
    }
}
BENCHMARK(BM_ListArchive100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListArchive100k_Baseline)->Unit(benchmark::kMillisecond);

void BM_SelectMember1000(benchmark::State& state) {
    TMainForm* form = Browser();
    KivUt1::DataFileName = Input("icons.dat");
    KivUt1::FirstActivation = true;
    form->FormActivate(form);
    for (auto _ : state) {
        bool canSelect = true;
        form->InfoGridSelectCell(form->InfoGrid, 0, 1, canSelect);
    }
    state.counters["columns"] = form->HeaderGrid->ColCount();
}
void BM_SelectMember1000_Baseline(benchmark::State& state) {
    for (auto _ : state) {
        auto file = kiv::InFile::Open(Input("icons.dat"));
        std::vector<std::uint8_t> headers(4 + 40 * 1000);
        file->Seek(8 + 17);
        benchmark::DoNotOptimize(file->Read(headers.data(), headers.size()));
    }
}
BENCHMARK(BM_SelectMember1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectMember1000_Baseline)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
