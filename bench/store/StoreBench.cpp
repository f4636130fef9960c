// The store holds every item of the running client; with a large share that is a million
// items. Each batch below grows with the store (or, for type names, with the schema), so the
// time of a batch at twice the size shows whether lookups stay logarithmic.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "store/Data.h"

namespace
{
constexpr std::int64_t kSmall = 250000;
constexpr std::int64_t kMedium = 500000;
constexpr std::int64_t kLarge = 1000000;

Type* ValuedType(const char* name)
{
    if (Type* type = d.HasType(name))
        return type;
    return d.NewType(name, Primary, false, true);
}

// Distinct, path-like values in no particular order (an odd multiplier permutes 32-bit keys);
// made once per prefix for the largest store, and the first `count` are used.
const std::vector<Value>& Values(const char* prefix)
{
    static std::map<std::string, std::vector<Value>> cache;
    std::vector<Value>& values = cache[prefix];
    if (values.empty())
    {
        values.reserve(kLarge);
        for (std::uint64_t k = 0; k < static_cast<std::uint64_t>(kLarge); ++k)
            values.emplace_back(std::string(prefix) +
                                std::to_string((k * 2654435761u) & 0xFFFFFFFFu) + ".ogg");
    }
    return values;
}

std::vector<ItemPtr> Fill(Type* type, std::size_t count, const char* prefix)
{
    type->RemoveAllItems();
    const std::vector<Value>& values = Values(prefix);
    std::vector<ItemPtr> items;
    items.reserve(count);
    for (std::size_t k = 0; k < count; ++k)
        items.push_back(type->NewItem(values[k]));
    return items;
}

void BM_CreateValuedItems(benchmark::State& state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    Type* type = ValuedType("bench_file");
    const std::vector<Value>& values = Values("/share/music/track-");
    for (auto _ : state)
    {
        for (std::size_t k = 0; k < count; ++k)
            benchmark::DoNotOptimize(type->NewItem(values[k]).Get());
        state.PauseTiming();
        type->RemoveAllItems();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// One-to-one pairs: every file holds its own size item.
void BM_ConnectPairs(benchmark::State& state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    Type* file = ValuedType("bench_pair_file");
    Type* size = ValuedType("bench_pair_size");
    if (!file->IsRelated(size))
        file->RelateToType(size, Many, One, false);
    const std::vector<ItemPtr> files = Fill(file, count, "/share/music/track-");
    const std::vector<ItemPtr> sizes = Fill(size, count, "");
    for (auto _ : state)
    {
        for (std::size_t k = 0; k < count; ++k)
            files[k] += sizes[k];
        state.PauseTiming();
        for (std::size_t k = 0; k < count; ++k)
            files[k] -= sizes[k];
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    file->RemoveAllItems();
    size->RemoveAllItems();
}

// Many files to a thousand folders: the folders' member sets grow with the store.
void BM_ConnectToFolders(benchmark::State& state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    Type* file = ValuedType("bench_folder_file");
    Type* folder = ValuedType("bench_folder");
    if (!file->IsRelated(folder))
        file->RelateToType(folder, Many, One, false);
    const std::vector<ItemPtr> files = Fill(file, count, "/share/music/track-");
    const std::vector<ItemPtr> folders = Fill(folder, 1000, "/share/music/album-");
    for (auto _ : state)
    {
        for (std::size_t k = 0; k < count; ++k)
            files[k] += folders[k % folders.size()];
        state.PauseTiming();
        for (std::size_t k = 0; k < count; ++k)
            files[k] -= folders[k % folders.size()];
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    file->RemoveAllItems();
    folder->RemoveAllItems();
}

// A batch looks up every value of the store once, in a shuffled order.
std::vector<Value> ShuffledValues(std::size_t count, const char* prefix)
{
    const std::vector<Value>& values = Values(prefix);
    std::vector<Value> order(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(count));
    std::shuffle(order.begin(), order.end(), std::mt19937(12345));
    return order;
}

void BM_LookupByValue(benchmark::State& state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    Type* type = ValuedType("bench_lookup");
    Fill(type, count, "/share/music/track-");
    const std::vector<Value> order = ShuffledValues(count, "/share/music/track-");
    for (auto _ : state)
        for (const Value& value : order)
            benchmark::DoNotOptimize(type->HasItem(value).Get());
    state.SetItemsProcessed(state.iterations() * state.range(0));
    type->RemoveAllItems();
}

// The bare ordered map that indexes a type, for comparison: a batch of shuffled lookups is bound
// by memory latency once the index outgrows the cache, whatever holds it.
void BM_BaselineMapLookup(benchmark::State& state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    const std::vector<Value>& values = Values("/share/music/track-");
    std::map<std::string, void*> index;
    for (std::size_t k = 0; k < count; ++k)
        index.emplace(values[k].Bytes(), nullptr);
    const std::vector<Value> order = ShuffledValues(count, "/share/music/track-");
    for (auto _ : state)
        for (const Value& value : order)
            benchmark::DoNotOptimize(index.find(value.Bytes()));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The same through the shorthand the whole system uses: type by name, then value.
void BM_LookupByValueShorthand(benchmark::State& state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    Type* type = ValuedType("bench_lookup");
    Fill(type, count, "/share/music/track-");
    const std::vector<Value> order = ShuffledValues(count, "/share/music/track-");
    for (auto _ : state)
        for (const Value& value : order)
            benchmark::DoNotOptimize(static_cast<ItemPtr>(i("bench_lookup", value)).Get());
    state.SetItemsProcessed(state.iterations() * state.range(0));
    type->RemoveAllItems();
}

// A batch of a million lookups by name in a schema of the given number of types.
void BM_TypeByName(benchmark::State& state)
{
    const auto typeCount = static_cast<std::size_t>(state.range(0));
    std::vector<std::string> names;
    for (std::size_t n = 0; n < typeCount; ++n)
    {
        char name[32];
        std::snprintf(name, sizeof name, "bench_type_%05zu", n);
        names.emplace_back(name);
        ValuedType(name);
    }
    for (std::size_t n = typeCount;; ++n)
    {
        char name[32];
        std::snprintf(name, sizeof name, "bench_type_%05zu", n);
        Type* extra = d.HasType(name);
        if (!extra)
            break;
        extra->Remove();
    }
    std::vector<const char*> order;
    std::mt19937 random(54321);
    for (int n = 0; n < 1000000; ++n)
        order.push_back(names[random() % typeCount].c_str());
    for (auto _ : state)
        for (const char* name : order)
            benchmark::DoNotOptimize(d.GetType(name));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(order.size()));
}

void BM_ItemSetWalk(benchmark::State& state)
{
    const auto count = static_cast<std::size_t>(state.range(0));
    Type* type = ValuedType("bench_walk");
    Fill(type, count, "/share/music/track-");
    const ItemSet set = type->GetItems();
    for (auto _ : state)
    {
        std::size_t bytes = 0;
        for (ItemPtr item : set)
            bytes += item->GetValue().Size();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    type->RemoveAllItems();
}
} // namespace

BENCHMARK(BM_CreateValuedItems)->Arg(kSmall)->Arg(kMedium)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConnectPairs)->Arg(kSmall)->Arg(kMedium)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConnectToFolders)->Arg(kSmall)->Arg(kMedium)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupByValue)->Arg(kSmall)->Arg(kMedium)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineMapLookup)->Arg(kSmall)->Arg(kMedium)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupByValueShorthand)->Arg(kSmall)->Arg(kMedium)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TypeByName)->Arg(256)->Arg(512)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ItemSetWalk)->Arg(kSmall)->Arg(kMedium)->Arg(kLarge)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
