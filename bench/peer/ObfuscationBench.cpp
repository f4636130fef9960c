// Obfuscating and de-obfuscating 64 MiB of peer frames of 8 KiB and of 1 MiB, beside a plain
// memcpy of the same bytes, each reported in bytes per second (and decimal MB/s).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "peer/Obfuscation.h"

namespace
{
const std::size_t TotalBytes = 64u * 1024u * 1024u;

std::vector<char> Payload()
{
    std::vector<char> bytes(TotalBytes);
    for (std::size_t index = 0; index < bytes.size(); ++index)
        bytes[index] = static_cast<char>(index * 131u + (index >> 11));
    return bytes;
}

void Report(benchmark::State& state)
{
    const double total = static_cast<double>(TotalBytes) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(total));
    state.counters["MB/s"] = benchmark::Counter(total / 1e6, benchmark::Counter::kIsRate);
    state.counters["frame"] = static_cast<double>(state.range(0));
}

// What the sender does per frame: copy the message behind the header, draw a key, XOR the run.
void Obfuscate(benchmark::State& state)
{
    const std::size_t frame = static_cast<std::size_t>(state.range(0));
    const std::vector<char> source = Payload();
    std::vector<char> target(TotalBytes);
    for (auto _ : state)
    {
        for (std::size_t offset = 0; offset < TotalBytes; offset += frame)
        {
            std::memcpy(target.data() + offset, source.data() + offset, frame);
            Obfuscation::Apply(target.data() + offset, frame, Obfuscation::DrawKey());
        }
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    Report(state);
}

// What the receiver does per frame: XOR the buffered body in place.
void Deobfuscate(benchmark::State& state)
{
    const std::size_t frame = static_cast<std::size_t>(state.range(0));
    std::vector<char> buffer = Payload();
    quint32 key = 0x80000001u;
    for (auto _ : state)
    {
        for (std::size_t offset = 0; offset < TotalBytes; offset += frame)
            key = Obfuscation::Apply(buffer.data() + offset, frame, key);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    Report(state);
}

void MemcpySameBytes(benchmark::State& state)
{
    const std::size_t frame = static_cast<std::size_t>(state.range(0));
    const std::vector<char> source = Payload();
    std::vector<char> target(TotalBytes);
    for (auto _ : state)
    {
        for (std::size_t offset = 0; offset < TotalBytes; offset += frame)
            std::memcpy(target.data() + offset, source.data() + offset, frame);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    Report(state);
}
} // namespace

BENCHMARK(Obfuscate)->Arg(8 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMillisecond);
BENCHMARK(Deobfuscate)->Arg(8 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMillisecond);
BENCHMARK(MemcpySameBytes)->Arg(8 * 1024)->Arg(1024 * 1024)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
