// The whole client's start and end, each in a process of its own (the store is one per process):
// the start with a store of 100,000 shared files in 1,000 folders (answered by the MP3 scanner)
// and 1,000 queued downloads, up to the return of `Init` (and up to the end of what the start-up
// left for the event loop, x_load_settled), against loading the same store file into the same declared types (and
// against a bare listing of the shared tree, which the start's rescan must walk); and the main
// window's destructor with four uploads running to slow readers on loopback, against the same
// destructor with none. The server link points at a loopback port nobody listens on and the
// gateway is the in-memory one; the store says "no" to UPnP and keeps the web host on loopback.
//
// The program runs itself: `shell_bench --child <mode> ...` is one measured process, which prints
// its times as "bench: name=seconds" lines.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "../LoopbackListener.h"
#include "shares/SharedFoldersManager.h"
#include "shell/Desktop.h"
#include "shell/MainWindow.h"
#include "store/Data.h"
#include "store/DataLoadedEventHandler.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "support/support/FakePeer.h"
#include "support/support/FakeUpnpBackend.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"

namespace
{
constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 100;
constexpr int kDownloads = 1000;
constexpr int kUploads = 4;
constexpr qint64 kUploadBytes = qint64(1) << 30;

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point i_start)
{
    return std::chrono::duration<double>(Clock::now() - i_start).count();
}

void Report(const char* i_name, double i_seconds)
{
    std::printf("bench: %s=%.9f\n", i_name, i_seconds);
    std::fflush(stdout);
}

// ---- The measured process ----

// The window with every seam the tests use: the in-memory gateway, no prompts, no boxes, and the
// settings that keep it on loopback, written where a component's defaults would be.
std::unique_ptr<MainWindow> NewWindow(std::function<void()> i_beforeLoad = {})
{
    MainWindow::SetUpnpBackendFactory([] { return std::make_unique<FakeUpnpBackend>(); });
    MainWindow::SetFirstStartPrompt([](QWidget*) {});
    Desktop::SetMessageBox([](QMessageBox::Icon, QWidget*, const QString&, const QString&,
                              QMessageBox::StandardButtons) { return QMessageBox::Ok; });
    MainWindow::SetBeforeLoad([i_beforeLoad] {
        SetSetting("use_upnp", "no");
        SetSetting("web_host", "127.0.0.1");
        SetSetting("server_host", "127.0.0.1");
        SetSetting("server_port", FakePeer::FreePort());
        SetSetting("username", "bench");
        SetSetting("listening_port", FakePeer::FreePort());
        SetSetting("obfuscated_listening_port", FakePeer::FreePort());
        SetSetting("download_folder", QDir::homePath() + "/downloads");
        if (i_beforeLoad)
            i_beforeLoad();
    });
    auto lp_window = std::make_unique<MainWindow>();
    lp_window->show();
    return lp_window;
}

// A store loaded with anything but "no" for UPnP must never start.
void RequireNoUpnp()
{
    if (GetSetting("use_upnp") != QLatin1String("no"))
    {
        std::fprintf(stderr, "the store does not say no to UPnP\n");
        ::_exit(3);
    }
}

// Whether the MP3 scanner has answered for every shared file (the tree's files are all MP3
// files, and all empty, so every answer is a failure).
bool ScannerAnswered()
{
    Type* lp_scanned = d.GetType("is_scanned");
    Type* lp_failure = d.GetType("mp3_scan_failure");
    for (ItemPtr l_file : d.GetType("shared_file")->NullItems())
        if (!l_file.IsConnected(lp_scanned) && !l_file.IsConnected(lp_failure))
            return false;
    return true;
}

// The first session in an empty home: shares the tree, queues downloads from users who are not
// online, lets the MP3 scanner answer, and leaves the store file behind, as a user's next start
// finds it.
int MakeStore(const QString& i_tree)
{
    std::unique_ptr<MainWindow> lp_window = NewWindow();
    lp_window->Init();
    RequireNoUpnp();
    sharedFoldersManager->AddSharedFolder(i_tree).NewItem("shared_public");
    const Clock::time_point l_scanning = Clock::now();
    while (!ScannerAnswered())
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
        if (Since(l_scanning) > 300)
            qFatal("the MP3 scanner did not answer");
    }
    for (int l_download = 0; l_download < kDownloads; ++l_download)
        transferQueueManager->AddDownload(
            QString("peer%1").arg(l_download % 50),
            "track " + std::to_string(l_download) + " of a long album.mp3",
            "@@music\\Artist " + std::to_string(l_download / 20) + "\\Album", 5000000 + l_download,
            1);
    lp_window.reset();
    return QFile::exists(MainWindow::StorePath()) ? 0 : 1;
}

// Notes the moment the store file has been read.
struct LoadEnd : DataLoadedEventHandler
{
    explicit LoadEnd(Clock::time_point i_start) : m_start(i_start) {}
    void DataLoaded() override { m_seconds = Since(m_start); }
    void NoData() override {}
    Clock::time_point m_start;
    double m_seconds = 0;
};

// Construction and `Init`, with the moments the load begins and ends.
int Start()
{
    const Clock::time_point l_start = Clock::now();
    double l_loadStarts = 0;
    static LoadEnd s_loadEnd(l_start);
    std::unique_ptr<MainWindow> lp_window = NewWindow([&] {
        l_loadStarts = Since(l_start);
        dataSaver->AddDataLoadedEventHandler(&s_loadEnd);
    });
    const double l_constructed = Since(l_start);
    lp_window->Init();
    const double l_init = Since(l_start);
    RequireNoUpnp();
    // Whatever the start-up left for the event loop is part of it too.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    Report("settled", Since(l_start));
    Report("init", l_init);
    Report("constructor", l_constructed);
    Report("before_load", l_loadStarts);
    Report("loaded", s_loadEnd.m_seconds);
    // Nothing is saved: every start reads the same file.
    ::_exit(0);
}

// The same file into the same declared types, just before the window would load it; the
// process ends there.
int LoadOnly()
{
    std::unique_ptr<MainWindow> lp_window = NewWindow([] {
        const Clock::time_point l_start = Clock::now();
        dataSaver->Load(MainWindow::StorePath());
        Report("load", Since(l_start));
        RequireNoUpnp();
        ::_exit(0);
    });
    lp_window->Init();
    return 1;
}

// The downloader's end: takes the transfer number, asks from offset 0, then reads 4 KiB every
// 20 ms until the uploader closes, so the uploader's socket stays full.
void ReadSlowly(int i_fd, std::atomic<int>& io_reading, std::atomic<int>& io_closed)
{
    char l_number[4];
    for (ssize_t l_have = 0, l_read = 1; l_have < 4 && l_read > 0; l_have += l_read)
        l_read = ::recv(i_fd, l_number + l_have, size_t(4 - l_have), 0);
    const char l_offset[8] = {};
    ::send(i_fd, l_offset, sizeof l_offset, MSG_NOSIGNAL);
    std::vector<char> l_buffer(4096);
    for (bool l_first = true; ::recv(i_fd, l_buffer.data(), l_buffer.size(), 0) > 0; l_first = false)
    {
        if (l_first)
            ++io_reading;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(i_fd);
    ++io_closed;
}

// A fresh home sharing the big files; the given number of them uploading to slow readers when
// the destructor is timed.
int Stop(const QString& i_files, int i_uploads)
{
    std::unique_ptr<MainWindow> lp_window = NewWindow();
    lp_window->Init();
    RequireNoUpnp();
    sharedFoldersManager->AddSharedFolder(i_files).NewItem("shared_public");
    transferQueueManager->SetUploadSlots(kUploads);

    quint16 l_port = 0;
    const int l_listener = ListenOnLoopback(l_port, kUploads);
    static std::atomic<int> s_reading{0}, s_closed{0};
    std::vector<std::thread> l_readers;
    for (int l_upload = 0; l_upload < i_uploads; ++l_upload)
    {
        const QString l_user = QString("reader%1").arg(l_upload);
        const ItemPtr l_userItem = d.GetType("user")->GetItem(Value(l_user));
        l_userItem.NewItem("is_online");
        transferQueueManager->OnQueueUploadRequested(
            l_user, QDir(i_files).filePath(QString("%1.bin").arg(l_upload)).replace('/', '\\'));
        const ItemPtr l_requesting =
            d.GetType("upload_entry_status")->HasItem(Value(transfer_status::Requesting));
        const ItemPtr l_entry =
            l_requesting ? d.GetItem(l_userItem, l_requesting, "upload_entry") : ItemPtr();
        if (!l_entry)
            qFatal("the upload was not requested");
        transferQueueManager->OnFileTransferResponse(l_user, l_entry["transfer_req"].AsUInt(),
                                                     true, false, 0, "");
        QTcpSocket* lp_socket = new QTcpSocket;
        lp_socket->connectToHost(QHostAddress::LocalHost, l_port);
        if (!lp_socket->waitForConnected(5000))
            qFatal("cannot connect");
        const int l_reader = ::accept(l_listener, nullptr, nullptr);
        l_readers.emplace_back(ReadSlowly, l_reader, std::ref(s_reading), std::ref(s_closed));
        transferQueueManager->OnFileConnectionAccepted(l_user, lp_socket);
    }
    const Clock::time_point l_wait = Clock::now();
    while (s_reading < i_uploads)
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (Since(l_wait) > 30)
            qFatal("the uploads did not start");
    }
    // Long enough for every socket to fill and every thread to block on it.
    const Clock::time_point l_settle = Clock::now();
    while (Since(l_settle) < 0.5)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (transferQueueManager->ActiveUploadCount() != i_uploads)
        qFatal("not every upload is running");

    const Clock::time_point l_start = Clock::now();
    lp_window.reset();
    Report("destructor", Since(l_start));
    // Whether the uploads' connections ended with the window: the readers see their close
    // within two seconds, or never.
    const Clock::time_point l_closing = Clock::now();
    while (s_closed < i_uploads && Since(l_closing) < 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Report("left_open", i_uploads - s_closed);
    for (std::thread& l_thread : l_readers)
        l_thread.detach();
    ::_exit(0);
}

int RunChild(int i_argc, char** i_argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("HOME", i_argv[3]);
    QApplication l_app(i_argc, i_argv);
    const QString l_mode = i_argv[2];
    if (l_mode == "make" && i_argc > 4)
        return MakeStore(i_argv[4]);
    if (l_mode == "start")
        return Start();
    if (l_mode == "load")
        return LoadOnly();
    if (l_mode == "stop" && i_argc > 5)
        return Stop(i_argv[4], QString(i_argv[5]).toInt());
    return 2;
}

// ---- The benchmark process ----

QString g_self;

// Runs one measured process and returns its "bench:" figures.
std::map<QString, double> RunChildProcess(const QStringList& i_arguments)
{
    QProcess l_process;
    l_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    l_process.start(g_self, QStringList{"--child"} + i_arguments);
    if (!l_process.waitForFinished(600000) || l_process.exitCode() != 0)
        qFatal("the child %s failed", qPrintable(i_arguments.join(' ')));
    std::map<QString, double> l_figures;
    for (const QByteArray& l_line : l_process.readAllStandardOutput().split('\n'))
        if (l_line.startsWith("bench: "))
        {
            const QList<QByteArray> l_pair = l_line.mid(7).split('=');
            l_figures[QString(l_pair.value(0))] = l_pair.value(1).toDouble();
        }
    return l_figures;
}

// The shared tree and the store file made from it, once for the whole run.
struct Store
{
    static Store& Get()
    {
        static Store s_store;
        return s_store;
    }

    Store()
    {
        for (int l_folder = 0; l_folder < kFolders; ++l_folder)
        {
            const std::string l_path = m_tree.path().toStdString() + "/Artist " +
                                       std::to_string(l_folder / 10) + " - Album " +
                                       std::to_string(l_folder);
            QDir().mkpath(QString::fromStdString(l_path));
            for (int l_file = 0; l_file < kFilesPerFolder; ++l_file)
                std::ofstream(l_path + "/" + std::to_string(l_file) + " A Song With A Name " +
                              std::to_string(l_folder * kFilesPerFolder + l_file) + ".mp3");
        }
        RunChildProcess({"make", m_home.path(), m_tree.path()});
        m_storeBytes = QFile(m_home.filePath(".Tarnwick")).size();
    }

    int List() const
    {
        int l_entries = 0;
        QDirIterator l_walk(m_tree.path(), QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
        for (; l_walk.hasNext(); l_walk.next())
            ++l_entries;
        return l_entries;
    }

    QTemporaryDir m_tree;
    QTemporaryDir m_home;
    qint64 m_storeBytes = 0;
};

// Each start is set against a load and a listing made just before it, so both see the same
// caches and the same machine load.
void BM_StartUp(benchmark::State& io_state)
{
    Store& l_store = Store::Get();
    double l_init = 0, l_load = 0, l_listing = 0, l_beforeLoad = 0, l_constructor = 0, l_loaded = 0;
    double l_settled = 0;
    for (auto l_ : io_state)
    {
        l_load += RunChildProcess({"load", l_store.m_home.path()})["load"];
        const Clock::time_point l_start = Clock::now();
        benchmark::DoNotOptimize(l_store.List());
        l_listing += Since(l_start);
        std::map<QString, double> l_figures = RunChildProcess({"start", l_store.m_home.path()});
        io_state.SetIterationTime(l_figures["init"]);
        l_init += l_figures["init"];
        l_beforeLoad += l_figures["before_load"];
        l_constructor += l_figures["constructor"];
        l_loaded += l_figures["loaded"];
        l_settled += l_figures["settled"];
    }
    const double l_runs = double(io_state.iterations());
    io_state.counters["x_load"] = l_init / l_load;
    io_state.counters["x_listing"] = l_init / l_listing;
    // Up to the end of the work the start-up left for the event loop.
    io_state.counters["x_load_settled"] = l_settled / l_load;
    io_state.counters["load_ms"] = l_load / l_runs * 1000;
    io_state.counters["listing_ms"] = l_listing / l_runs * 1000;
    io_state.counters["to_load_ms"] = l_beforeLoad / l_runs * 1000;
    io_state.counters["ctor_ms"] = l_constructor / l_runs * 1000;
    // After the file is read: the rescan of the shared tree and the rest of `Init`.
    io_state.counters["after_load_ms"] = (l_init - l_loaded) / l_runs * 1000;
    io_state.counters["store_MiB"] = double(l_store.m_storeBytes) / (1 << 20);
}

// Sparse files big enough that no upload ends while the run lasts.
struct UploadFiles
{
    UploadFiles()
    {
        for (int l_file = 0; l_file < kUploads; ++l_file)
        {
            QFile l_out(m_dir.filePath(QString("%1.bin").arg(l_file)));
            if (!l_out.open(QIODevice::WriteOnly) || !l_out.resize(kUploadBytes))
                qFatal("cannot make the upload files");
        }
    }
    QTemporaryDir m_dir;
};

double TimeStop(const QString& i_files, int i_uploads)
{
    QTemporaryDir l_home;
    return RunChildProcess({"stop", l_home.path(), i_files, QString::number(i_uploads)})["destructor"];
}

void BM_ShutDown(benchmark::State& io_state)
{
    static UploadFiles s_files;
    double l_running = 0, l_idle = 0;
    for (auto l_ : io_state)
    {
        l_idle += TimeStop(s_files.m_dir.path(), 0);
        const double l_seconds = TimeStop(s_files.m_dir.path(), kUploads);
        io_state.SetIterationTime(l_seconds);
        l_running += l_seconds;
    }
    io_state.counters["x_idle"] = l_running / l_idle;
    io_state.counters["idle_ms"] = l_idle / double(io_state.iterations()) * 1000;
}
} // namespace

BENCHMARK(BM_StartUp)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShutDown)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int i_argc, char** i_argv)
{
    if (i_argc > 3 && std::string(i_argv[1]) == "--child")
        return RunChild(i_argc, i_argv);
    g_self = QString::fromLocal8Bit(i_argv[0]);
    QCoreApplication l_app(i_argc, i_argv);
    g_self = QCoreApplication::applicationFilePath();
    benchmark::Initialize(&i_argc, i_argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
