// Encoding and decoding of a 100,000-file shared-file list, beside a plain memcpy of the same
// bytes, each reported in bytes per second (and decimal MB/s).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "peer/FileInfoMap.h"
#include "server/MemStream.h"

namespace
{
const int Folders = 1000;
const int FilesPerFolder = 100;

const FileInfoMap& Share()
{
    static const FileInfoMap share = [] {
        FileInfoMap map;
        for (int folder = 0; folder < Folders; ++folder)
        {
            std::set<FileInfo>& files =
                map["music\\artist " + std::to_string(folder / 10) + "\\album " + std::to_string(folder)];
            for (int file = 0; file < FilesPerFolder; ++file)
            {
                FileInfo info;
                info.name = std::to_string(file) + " - a track title number " + std::to_string(file) + ".mp3";
                info.size = 3000000 + folder * 1000 + file;
                info.attributeMap.extension = "mp3";
                info.attributeMap.attributes = {{0, 128 + file}, {1, 180 + folder % 60}, {2, file % 2}};
                files.insert(info);
            }
        }
        return map;
    }();
    return share;
}

std::string Encoded()
{
    MemStream stream;
    stream.Write(Share());
    return std::string(stream.GetBuffer(), static_cast<std::size_t>(stream.GetWriteIndex()));
}

void Report(benchmark::State& state, std::size_t bytes)
{
    const double total = static_cast<double>(bytes) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(total));
    state.counters["MB/s"] = benchmark::Counter(total / 1e6, benchmark::Counter::kIsRate);
    state.counters["bytes"] = static_cast<double>(bytes);
}

void EncodeFileInfoMap(benchmark::State& state)
{
    const FileInfoMap& share = Share();
    std::size_t bytes = 0;
    for (auto _ : state)
    {
        MemStream stream;
        if (!stream.Write(share))
            state.SkipWithError("write failed");
        bytes = static_cast<std::size_t>(stream.GetWriteIndex());
        benchmark::DoNotOptimize(stream.GetBuffer());
    }
    Report(state, bytes);
}

void DecodeFileInfoMap(benchmark::State& state)
{
    const std::string bytes = Encoded();
    for (auto _ : state)
    {
        state.PauseTiming();
        MemStream stream;
        stream.EnsureBufferCapacity(static_cast<int>(bytes.size()));
        std::memcpy(stream.GetWriteBuffer(), bytes.data(), bytes.size());
        stream.AdvanceWriteIndex(static_cast<int>(bytes.size()));
        FileInfoMap* share = new FileInfoMap;
        state.ResumeTiming();

        if (!stream.Read(*share) || share->size() != Folders)
            state.SkipWithError("read failed");
        benchmark::DoNotOptimize(share);

        state.PauseTiming();
        delete share;
        state.ResumeTiming();
    }
    Report(state, bytes.size());
}

void MemcpySameBytes(benchmark::State& state)
{
    const std::string bytes = Encoded();
    std::vector<char> target(bytes.size());
    for (auto _ : state)
    {
        std::memcpy(target.data(), bytes.data(), bytes.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    Report(state, bytes.size());
}
} // namespace

BENCHMARK(EncodeFileInfoMap)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeFileInfoMap)->Unit(benchmark::kMillisecond);
BENCHMARK(MemcpySameBytes)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
