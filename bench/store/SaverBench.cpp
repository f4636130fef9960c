// Saving and loading the store file with a million items and a million connections. The save
// is set against writing the same number of bytes to the same folder in one write: the disk,
// not the walk over the store, should set the pace.

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include <unistd.h>

#include "store/Data.h"
#include "store/DataSaver.h"

namespace
{
constexpr int kFolders = 500000;
constexpr int kFiles = 500000;

// Folders are saved; files are saved by connection to a folder. Every file sits in two
// folders, its own and the next one, which gives one connection per item.
struct SavedStore
{
    SavedStore() : m_path(m_folder.path() + "/store"), m_rawPath(m_folder.path() + "/raw")
    {
        m_folderType = d.NewType("saver_bench_folder", Primary, false, false);
        m_fileType = d.NewType("saver_bench_file", Intermediate, false, false);
        m_folderType->RelateToType(m_fileType, Many, Many, false);
        m_saver.AddSavedType("saver_bench_folder");
        m_saver.AddSavedByConnectionType("saver_bench_file", "saver_bench_folder");

        std::vector<ItemPtr> l_folders;
        l_folders.reserve(kFolders);
        for (int l_k = 0; l_k < kFolders; ++l_k)
            l_folders.push_back(m_folderType->NewItem(
                "/home/user/share/music/artist " + std::to_string(l_k % 997) + "/album " +
                std::to_string(l_k)));
        for (int l_k = 0; l_k < kFiles; ++l_k)
        {
            ItemPtr l_file = m_fileType->NewItem("track " + std::to_string(l_k) + " - title.ogg");
            l_folders[l_k] += l_file;
            l_folders[(l_k + 1) % kFolders] += l_file;
        }
    }

    void RemoveItems()
    {
        m_fileType->RemoveAllItems();
        m_folderType->RemoveAllItems();
    }

    QByteArray StoredBytes()
    {
        QFile l_file(m_path);
        if (!l_file.exists())
            m_saver.Save(m_path);
        l_file.open(QIODevice::ReadOnly);
        return l_file.readAll();
    }

    QTemporaryDir m_folder;
    QString m_path;
    QString m_rawPath;
    DataSaver m_saver;
    Type* m_folderType = nullptr;
    Type* m_fileType = nullptr;
};

SavedStore& Store()
{
    static SavedStore s_store;
    return s_store;
}

void BM_SaveStore(benchmark::State& state)
{
    SavedStore& l_store = Store();
    for (auto _ : state)
        l_store.m_saver.Save(l_store.m_path);
    const qint64 l_size = QFile(l_store.m_path).size();
    state.counters["file_MiB"] = static_cast<double>(l_size) / (1 << 20);
    state.SetBytesProcessed(state.iterations() * l_size);
}

// The same bytes in one write, with and without the flush to disk that the save makes before
// it replaces the old file.
void RawWrite(benchmark::State& state, bool i_sync)
{
    SavedStore& l_store = Store();
    const QByteArray l_bytes = l_store.StoredBytes();
    for (auto _ : state)
    {
        QFile l_file(l_store.m_rawPath);
        l_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
        if (l_file.write(l_bytes) != l_bytes.size())
            state.SkipWithError("short write");
        if (i_sync)
            ::fsync(l_file.handle());
        l_file.close();
    }
    state.counters["file_MiB"] = static_cast<double>(l_bytes.size()) / (1 << 20);
    state.SetBytesProcessed(state.iterations() * l_bytes.size());
}

void BM_WriteSameBytesOnce(benchmark::State& state)
{
    RawWrite(state, false);
}

void BM_WriteSameBytesOnceSynced(benchmark::State& state)
{
    RawWrite(state, true);
}

void BM_LoadStore(benchmark::State& state)
{
    SavedStore& l_store = Store();
    const qint64 l_size = l_store.StoredBytes().size();
    for (auto _ : state)
    {
        state.PauseTiming();
        l_store.RemoveItems();
        state.ResumeTiming();
        l_store.m_saver.Load(l_store.m_path);
    }
    state.counters["items"] = static_cast<double>(l_store.m_folderType->ItemCount() +
                                                  l_store.m_fileType->ItemCount());
    state.SetBytesProcessed(state.iterations() * l_size);
}
} // namespace

BENCHMARK(BM_SaveStore)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteSameBytesOnce)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteSameBytesOnceSynced)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadStore)->Unit(benchmark::kMillisecond)->UseRealTime();
