// Throughput of the text boundary and of the pixel blending: decoding stored
// text (UTF-8 as it stands, Windows-1250 converted) and blending a line of
// pixels with the portable and the vector forms.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "util/BaseGraphUtils.h"
#include "util/TextCodec.h"

namespace {

std::string Utf8Names()
{
    std::string s;
    while (s.size() < (1 << 20))
        s += "Žluťoučký kůň úpěl ďábelské ódy - track01.mp3 ";
    return s;
}

std::string Cp1250Names()
{
    const std::string word = "\x8e\x6c\x75\x9d\x6f\x75\xe8\x6b\xfd\x20\x6b\xf9\xf2 track01.mp3 ";
    std::string s;
    while (s.size() < (1 << 20))
        s += word;
    return s;
}

void BM_DecodeUtf8(benchmark::State &state)
{
    const std::string text = Utf8Names();
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeStoredText(text));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_DecodeUtf8);

void BM_DecodeCp1250(benchmark::State &state)
{
    const std::string text = Cp1250Names();
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeStoredText(text));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_DecodeCp1250);

void BlendLineWith(benchmark::State &state, TBlendLine line)
{
    std::mt19937 rng(1);
    std::vector<TColor32> src(1 << 16), dst(1 << 16);
    for (auto &p : src)
        p = rng();
    for (auto &p : dst)
        p = rng();
    for (auto _ : state) {
        line(src.data(), dst.data(), int(src.size()));
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}

void BM_BlendLinePortable(benchmark::State &state)
{
    BlendLineWith(state, PortableBlendRoutines().Line);
}
BENCHMARK(BM_BlendLinePortable);

void BM_BlendLineVector(benchmark::State &state)
{
    if (!VectorBlendRoutines()) {
        state.SkipWithError("no vector forms in this build");
        return;
    }
    BlendLineWith(state, VectorBlendRoutines()->Line);
}
BENCHMARK(BM_BlendLineVector);

} // namespace

BENCHMARK_MAIN();
