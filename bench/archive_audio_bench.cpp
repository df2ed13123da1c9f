// ConvertPwAudio on 16 M codes against a memcpy of the WAVE image's size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>

#include "archive_builder.h"
#include "pw_audio.h"

namespace {

constexpr uint32_t kCodes = 16u << 20;

const std::vector<uint8_t>& Entry() {
    static std::vector<uint8_t> entry = [] {
        archive_builder::PwRecipe recipe;
        recipe.channels = 2;
        recipe.codes = archive_builder::Bytes(kCodes, 42);
        return archive_builder::MakePwAudio(recipe);
    }();
    return entry;
}

void Convert(benchmark::State& state) {
    const std::vector<uint8_t>& entry = Entry();
    std::vector<uint8_t> wave(ConvertPwAudio(nullptr, entry.data()), 1);
    for (auto _ : state) {
        ConvertPwAudio(wave.data(), entry.data());
        benchmark::ClobberMemory();
    }
    if (wave != archive_builder::ExpectedWave(entry)) state.SkipWithError("wrong WAVE image");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(wave.size()));
}

// The path processors without the vector instructions take.
void Portable(benchmark::State& state) {
    const std::vector<uint8_t>& entry = Entry();
    std::vector<uint8_t> wave(ConvertPwAudio(nullptr, entry.data()), 1);
    ConvertPwAudio(wave.data(), entry.data());
    std::fill(wave.begin() + kPwHeaderSize, wave.end(), uint8_t{1});
    for (auto _ : state) {
        ExpandPwCodesPortable(wave.data() + kPwHeaderSize, entry.data() + kPwHeaderSize, kCodes);
        benchmark::ClobberMemory();
    }
    if (wave != archive_builder::ExpectedWave(entry)) state.SkipWithError("wrong WAVE image");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(wave.size()));
}

void Memcpy(benchmark::State& state) {
    std::vector<uint8_t> source(46 + 2 * size_t{kCodes}, 3);
    std::vector<uint8_t> target(source.size(), 1);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
}

}  // namespace

BENCHMARK(Convert)->Name("Audio/ConvertPwAudio")->Unit(benchmark::kMillisecond);
BENCHMARK(Portable)->Name("Audio/ExpandPwCodesPortable")->Unit(benchmark::kMillisecond);
BENCHMARK(Memcpy)->Name("Audio/MemcpyOfOutputSize")->Unit(benchmark::kMillisecond);
