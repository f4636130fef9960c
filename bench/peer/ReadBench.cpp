// Reading the two bulk peer messages as they arrive: a search reply of up to 100,000 files,
// filtered and stored as result items, and a shared-file list of up to 200,000 files handed to
// its receiver. Each run covers inflating, reading and storing. Compare files/s across the
// sizes: a reader that is not linear in the number of files shows at once.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTcpSocket>
#include <zlib.h>

#include <memory>
#include <string>

#include "../BenchStore.h"
#include "peer/PeerMessenger.h"
#include "store/Data.h"
#include "store/TimerManager.h"

namespace
{
// The store's settings and user types, one messenger and one messaging connection of bob's;
// made once, as the store's types can be declared only once.
struct Setting : BenchStore
{
    static Setting& Get()
    {
        static Setting s_setting;
        return s_setting;
    }

    Setting()
    {
        mp_timers = std::make_unique<TimerManager>();
        mp_messenger = std::make_unique<PeerMessenger>();
        d.GetType("peer_socket")->NewItem(Value(&m_socket)) += d.GetType("user")->GetItem("bob");
    }
    std::unique_ptr<TimerManager> mp_timers;
    QTcpSocket m_socket;
    std::unique_ptr<PeerMessenger> mp_messenger;
};

void Put32(std::string& io_bytes, quint32 i_value)
{
    for (int l_byte = 0; l_byte < 4; ++l_byte)
        io_bytes += static_cast<char>((i_value >> (8 * l_byte)) & 0xff);
}

void PutText(std::string& io_bytes, const std::string& i_text)
{
    Put32(io_bytes, static_cast<quint32>(i_text.size()));
    io_bytes += i_text;
}

// Present byte, name, 64-bit size, extension and a bitrate with its mode.
void PutFile(std::string& io_bytes, const std::string& i_name, quint32 i_size)
{
    io_bytes += '\1';
    PutText(io_bytes, i_name);
    Put32(io_bytes, i_size);
    Put32(io_bytes, 0);
    PutText(io_bytes, "mp3");
    Put32(io_bytes, 2);
    for (quint32 l_value : {0u, 320u, 2u, 0u})
        Put32(io_bytes, l_value);
}

// The code, then the rest as one zlib stream at level 9.
std::string Message(quint32 i_code, const std::string& i_body)
{
    uLongf l_length = compressBound(static_cast<uLong>(i_body.size()));
    std::string l_message;
    Put32(l_message, i_code);
    l_message.resize(4 + l_length);
    compress2(reinterpret_cast<Bytef*>(&l_message[4]), &l_length,
              reinterpret_cast<const Bytef*>(i_body.data()), static_cast<uLong>(i_body.size()),
              9);
    l_message.resize(4 + l_length);
    return l_message;
}

MemStream StreamOf(const std::string& i_bytes)
{
    MemStream l_stream;
    l_stream.WriteBuffer(i_bytes.data(), i_bytes.size());
    return l_stream;
}

std::string FileName(int i_index)
{
    return "Artist " + std::to_string(i_index % 97) + " - Track " + std::to_string(i_index) +
           " (live).mp3";
}

// One reply of bob's to the search "track live": every file matches; a hundred files a folder.
// Each run first stores the same reply for another search of bob's, so that the duplicate check
// has results to look through.
void SearchReply(benchmark::State& state)
{
    Setting& l_setting = Setting::Get();
    const int l_files = static_cast<int>(state.range(0));
    quint32 l_token = 1;
    std::string l_body;
    PutText(l_body, "bob");
    const std::size_t l_tokenAt = l_body.size();
    Put32(l_body, 0);
    Put32(l_body, static_cast<quint32>(l_files));
    // The second argument 0 has the same file listed every time, as a hostile peer might.
    const bool l_distinct = state.range(1) != 0;
    for (int l_index = 0; l_index < l_files; ++l_index)
    {
        const int l_file = l_distinct ? l_index : 0;
        PutFile(l_body, "music\\Folder " + std::to_string(l_file / 100) + "\\" + FileName(l_file),
                static_cast<quint32>(4000000 + l_file));
    }
    l_body += '\1';
    for (quint32 l_value : {250u, 3u, 0u})
        Put32(l_body, l_value);

    std::size_t l_stored = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        ItemPtr l_requests[2];
        MemStream l_messages[2];
        for (ItemPtr& l_request : l_requests)
        {
            l_request = d.GetType("search_request")->NewItem(Value(l_token));
            l_request += d.GetType("search_request_text")->GetItem("track live");
            std::string l_reply = l_body;
            for (int l_byte = 0; l_byte < 4; ++l_byte)
                l_reply[l_tokenAt + l_byte] = static_cast<char>((l_token >> (8 * l_byte)) & 0xff);
            ++l_token;
            l_messages[&l_request - l_requests] = StreamOf(Message(9, l_reply));
        }
        l_setting.mp_messenger->HandleMessage(&l_setting.m_socket, l_messages[0]);
        state.ResumeTiming();

        l_setting.mp_messenger->HandleMessage(&l_setting.m_socket, l_messages[1]);

        state.PauseTiming();
        l_stored = l_requests[1].GetItems("search_results").GetItems("search_result").Size();
        for (ItemPtr l_request : l_requests)
            l_request.Remove();
        d.RemoveDisconnectedItems();
        state.ResumeTiming();
    }
    if (l_stored != static_cast<std::size_t>(l_files))
        state.SkipWithError("not every file was stored");
    state.counters["files"] = l_files;
    state.counters["files/s"] = benchmark::Counter(
        static_cast<double>(l_files) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}

// bob's whole share list: a thousand folders, evenly filled.
void ShareList(benchmark::State& state)
{
    Setting& l_setting = Setting::Get();
    const int l_files = static_cast<int>(state.range(0));
    const int l_folders = 1000;
    std::string l_body;
    Put32(l_body, static_cast<quint32>(l_folders));
    for (int l_folder = 0; l_folder < l_folders; ++l_folder)
    {
        PutText(l_body, "music\\Folder " + std::to_string(l_folder));
        const int l_count = l_files / l_folders;
        Put32(l_body, static_cast<quint32>(l_count));
        for (int l_index = 0; l_index < l_count; ++l_index)
            PutFile(l_body, FileName(l_folder * l_count + l_index), 4000000);
    }
    Put32(l_body, 0);
    const std::string l_message = Message(5, l_body);

    std::size_t l_received = 0;
    const QMetaObject::Connection l_receiver = QObject::connect(l_setting.mp_messenger.get(), &PeerMessenger::UserShare,
                     [&](QString, FileInfoMap& i_share, AttributeTranslationTable&) {
                         l_received = 0;
                         for (const auto& l_folder : i_share)
                             l_received += l_folder.second.size();
                     });
    for (auto _ : state)
    {
        state.PauseTiming();
        MemStream l_stream = StreamOf(l_message);
        state.ResumeTiming();
        l_setting.mp_messenger->HandleMessage(&l_setting.m_socket, l_stream);
    }
    QObject::disconnect(l_receiver);
    if (l_received != static_cast<std::size_t>(l_files))
        state.SkipWithError("not every file was received");
    state.counters["files"] = l_files;
    state.counters["compressed KiB"] = static_cast<double>(l_message.size()) / 1024.0;
    state.counters["files/s"] = benchmark::Counter(
        static_cast<double>(l_files) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
}
} // namespace

BENCHMARK(SearchReply)
    ->ArgsProduct({{500, 5000, 50000, 100000}, {1, 0}})
    ->ArgNames({"files", "distinct"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ShareList)->Arg(25000)->Arg(50000)->Arg(100000)->Arg(200000)->Unit(
    benchmark::kMillisecond);
