// Benchmarks that need Qt: bitmap load and save by QImage (the baseline for our codec), and
// the browser's listing and member selection on the real window, offscreen.

#include "AnimFm.h"
#include "KivUt1.h"
#include "S16Ed.h"
#include "base/FileStream.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
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

// Playing: the Animation window at 60 frames a second on 320 x 240 frames at 4x, shown
// offscreen, for 120 frames a round. A round's time is its latest frame: how long after its
// due time (first frame + k intervals) frame k was drawn. The baseline is an empty timer on
// the same clock.
using Clock = std::chrono::steady_clock;
double Latest(const std::vector<Clock::time_point>& drawn) {
    double latest = 0;
    for (std::size_t k = 1; k < drawn.size(); ++k) {
        const auto due =
            drawn[0] + std::chrono::microseconds(1000000 / 60) * static_cast<std::int64_t>(k);
        latest = std::max(latest, std::chrono::duration<double>(drawn[k] - due).count());
    }
    return latest;
}
void BM_PlayAnimation60(benchmark::State& state) {
    TAnimForm form;
    form.OpenSprite(QString::fromStdString(Input("anim64.s16")), 0);
    form.FpsUpDown->SetPosition(60);
    form.ZoomCombo->setCurrentIndex(3);
    form.show();
    std::vector<Clock::time_point> drawn;
    TAnimForm::LiveFrame = [&](const std::string&, int) -> const kiv::Image* {
        drawn.push_back(Clock::now());
        return nullptr;
    };
    for (auto _ : state) {
        drawn.clear();
        QEventLoop loop;
        form.PlayPauseBtnClick(&form);
        while (drawn.size() < 121)
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        form.PlayPauseBtnClick(&form);
        state.SetIterationTime(Latest(drawn));
    }
    TAnimForm::LiveFrame = nullptr;
    state.counters["frames"] = static_cast<double>(drawn.size());
}
void BM_PlayAnimation60_Baseline(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<Clock::time_point> drawn;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        const auto tick = [&] {
            drawn.push_back(Clock::now());
            const auto due = drawn[0] + std::chrono::microseconds(1000000 / 60) *
                                            static_cast<std::int64_t>(drawn.size());
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now());
            timer.start(static_cast<int>(std::max<std::int64_t>(0, wait.count())));
        };
        QObject::connect(&timer, &QTimer::timeout, tick);
        tick();
        QEventLoop loop;
        while (drawn.size() < 121)
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        state.SetIterationTime(Latest(drawn));
    }
}
BENCHMARK(BM_PlayAnimation60)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayAnimation60_Baseline)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
