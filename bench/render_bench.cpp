// How fast a render runs, against the floor that any design with one sine per sample must
// pay: the sines themselves and one write of the file's bytes.
#include "entry/genwav.h"
#include "entry/narrow.h"
#include "tone/tone.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// 1999 characters of mixed text: letters, digits, punctuation, spaces and accented letters,
// in Windows-1252.
std::string largest_text()
{
    const std::u16string sample = u"The quick brown fox, 0123456789; \u00e9t\u00e9 \u00fcber "
                                  u"na\u00efve caf\u00e9s! JUMPS over 42 lazy dogs? ";
    std::u16string text;
    while (text.size() < 1999)
        text += sample;
    text.resize(1999);
    std::string narrow(text.size() + 1, '\0');
    wavcreate::narrowtext(text.c_str(), narrow.data(), narrow.size());
    narrow.pop_back();
    return narrow;
}

const std::string largest = largest_text();
// Every render writes here; the floor writes beside it.
const std::string render_path = "bench-render.wav";
const std::string floor_path = "bench-floor.bin";

void render(benchmark::State &state, const std::string &text, int32_t tenths)
{
    int64_t samples = 0;
    for (auto _ : state) {
        const auto result = wavcreate::genwav(text.c_str(), render_path.c_str(), tenths, "sine");
        if (result.status != wavcreate::render_status::written)
            state.SkipWithError("the render failed");
        samples += result.sample_total;
    }
    state.counters["samples/s"] = benchmark::Counter(static_cast<double>(samples),
                                                     benchmark::Counter::kIsRate);
}

void BM_LargestRender(benchmark::State &state) { render(state, largest, 40); }
void BM_TypicalRender(benchmark::State &state) { render(state, "Hello, world", 5); }

// The largest render with the sines computed two at a time with SSE2, as on a processor
// without AVX2.
void BM_LargestRenderSSE2(benchmark::State &state)
{
    if (!wavcreate::sine_path_available(wavcreate::sine_path::sse2)) {
        state.SkipWithError("no SSE2 vector sines in this build");
        return;
    }
    const wavcreate::sine_path fastest = wavcreate::active_sine_path;
    wavcreate::active_sine_path = wavcreate::sine_path::sse2;
    render(state, largest, 40);
    wavcreate::active_sine_path = fastest;
}

const std::vector<unsigned char> largest_file(44 + (1999 + 1) * 8000, 127);

void writefile()
{
    std::FILE *out = std::fopen(floor_path.c_str(), "wb");
    std::fwrite(largest_file.data(), largest_file.size(), 1, out);
    std::fclose(out);
}

// The same sines as the largest render (same frequencies, same angles, in the same order),
// into a buffer, then the file's 16 000 044 bytes written with one fwrite.
void BM_Floor(benchmark::State &state)
{
    const double tone_length = wavcreate::tonelength(40);
    const int computed = static_cast<int>(std::ceil(tone_length - 100.0));
    std::vector<double> samples(8001);
    for (auto _ : state) {
        for (std::size_t c = 0; c <= largest.size(); ++c) {
            const int code = c < largest.size() ? static_cast<signed char>(largest[c]) : 0;
            const double frequency = code == ' ' ? 0.0 : static_cast<double>(code * 31);
            const double step = frequency / 2000.0;
            for (int i = 0; i < computed; ++i)
                samples[i] = std::sin((step * i) * 6.283185306 + 0.0) * 1.0;
            benchmark::DoNotOptimize(samples.data());
            benchmark::ClobberMemory();
        }
        writefile();
    }
}

// The other floor, of any design at all: the same 16 000 044 bytes in one write.
void BM_WriteOnly(benchmark::State &state)
{
    for (auto _ : state)
        writefile();
}

// The machine is shared: each benchmark runs several times, interleaved with the others, and
// the ratio takes the fastest run of each, the one least disturbed by other work.
BENCHMARK(BM_LargestRender)->Unit(benchmark::kMillisecond)->Repetitions(15)->Iterations(2);
BENCHMARK(BM_LargestRenderSSE2)->Unit(benchmark::kMillisecond)->Repetitions(15)->Iterations(2);
BENCHMARK(BM_Floor)->Unit(benchmark::kMillisecond)->Repetitions(15)->Iterations(2);
BENCHMARK(BM_WriteOnly)->Unit(benchmark::kMillisecond)->Repetitions(15)->Iterations(2);
BENCHMARK(BM_TypicalRender)->Unit(benchmark::kMicrosecond);

// Remembers each benchmark's fastest CPU time per iteration (the process's own time, kernel included, which other work on the machine disturbs least), to print the ratio at the end.
class ratio_reporter : public benchmark::ConsoleReporter {
  public:
    ratio_reporter() : ConsoleReporter(OO_None) {}
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            auto [fastest, added] =
                fastest_ms.emplace(run.run_name.function_name, run.GetAdjustedCPUTime());
            if (!added && run.GetAdjustedCPUTime() < fastest->second)
                fastest->second = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> fastest_ms;
};

} // namespace

int main(int argc, char **argv)
{
    // Repetitions of the render and the floor take turns, so that a slow spell of the shared
    // machine weighs on both alike; flags given on the command line still win.
    std::vector<char *> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int arg_count = static_cast<int>(args.size());
    benchmark::Initialize(&arg_count, args.data());
    ratio_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::remove(render_path.c_str());
    std::remove(floor_path.c_str());
    // Each figure beside the floor of one scalar sine per sample and one write.
    const auto fastest = [&](const char *name) {
        const auto found = reporter.fastest_ms.find(name);
        return found == reporter.fastest_ms.end() ? 0.0 : found->second;
    };
    const double floor = fastest("BM_Floor");
    if (floor > 0.0) {
        std::printf("scalar sines plus one write (the floor): %.1f ms\n", floor);
        const struct {
            const char *what;
            const char *name;
        } figures[] = {{"largest render, fastest sine path", "BM_LargestRender"},
                       {"largest render, SSE2 vector sines", "BM_LargestRenderSSE2"},
                       {"one write of the same bytes", "BM_WriteOnly"}};
        for (const auto &figure : figures) {
            const double ms = fastest(figure.name);
            if (ms > 0.0)
                std::printf("%s: %.1f ms, %.2f x the floor\n", figure.what, ms, ms / floor);
        }
    }
    return 0;
}
