// A whole client without windows for the end-to-end tests, built in the program's start-up order
// as on a first start in HOME, logged in to the fake server at TARNWICK_SERVER_PORT. Arguments:
// --user NAME, --share DIR, --limit KIB (upload KiB/s), --download USER FOLDER FILE SIZE (as often
// as wanted), --search TEXT (then downloads the first result). Prints "online", "result USER
// FOLDER\FILE SIZE" and "status FILE STATUS" as a download's status changes, with control
// characters of a name as \xNN.
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>
#include <QTimer>

#include <map>
#include <memory>

#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/DNetManager.h"
#include "shares/SharedFoldersManager.h"
#include "store/DataSaver.h"
#include "store/DelayedInvoker.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "support/support/FakePeer.h"
#include "support/support/FakeUpnpBackend.h"
#include "transfers/TransferQueueManager.h"

namespace
{
void Say(const QString& i_line) { QTextStream(stdout) << i_line << Qt::endl; }

// A name on one line.
QString OneLine(const QString& i_name)
{
    QString l_line;
    for (const QChar l_c : i_name)
        l_line += l_c.unicode() < 0x20 ? QString("\\x%1").arg(l_c.unicode(), 2, 16, QChar('0')) : QString(l_c);
    return l_line;
}

QString Option(const QStringList& i_arguments, const QString& i_name)
{
    const int l_at = i_arguments.indexOf(i_name);
    return l_at >= 0 && l_at + 1 < i_arguments.size() ? i_arguments[l_at + 1] : QString();
}
} // namespace

int main(int i_argc, char** i_argv)
{
    QCoreApplication l_app(i_argc, i_argv);
    const QStringList l_arguments = l_app.arguments();

    new TimerManager();
    new DataSaver();
    auto lp_server = std::make_unique<Server>(std::make_unique<FakeUpnpBackend>());
    DeclareTypes({{"global", Primary, false}, {"vglobal", Primary, false}, {"global_value", Leaf, false}});
    DeclareRelations({{"global", "global_value", Many, One}, {"vglobal", "global_value", Many, One}});
    dataSaver->AddSavedType("global");
    dataSaver->AddSavedByConnectionType("global_value", "global");
    Server::CreateData();
    qRegisterMetaType<ItemPtr>("ItemPtr");
    new PeerMessenger();
    new DelayedInvoker();
    new DNetManager();
    new SharedFoldersManager();
    new TransferQueueManager();

    // Never discover a gateway: it would multicast on the local network.
    SetSetting("use_upnp", "no");
    SetSetting("server_host", "127.0.0.1");
    SetSetting("server_port", qEnvironmentVariable("TARNWICK_SERVER_PORT"));
    SetSetting("username", Option(l_arguments, "--user"));
    SetSetting("password", "secret");
    SetSetting("download_folder", QDir::homePath() + "/downloads");
    const quint16 l_port = FakePeer::FreePort();
    quint16 l_obfuscatedPort = FakePeer::FreePort();
    while (l_obfuscatedPort == l_port)
        l_obfuscatedPort = FakePeer::FreePort();
    SetSetting("listening_port", QString::number(l_port));
    SetSetting("obfuscated_listening_port", QString::number(l_obfuscatedPort));
    const QString l_limit = Option(l_arguments, "--limit");
    if (!l_limit.isEmpty())
    {
        SetSetting("upload_speed_limit", l_limit);
        SetSetting("upload_speed_limit_enabled", "yes");
    }
    dataSaver->EmitDataLoaded();
    dataSaver->EmitNoData();

    const QString l_share = Option(l_arguments, "--share");
    if (!l_share.isEmpty())
        sharedFoldersManager->AddSharedFolder(l_share).NewItem("shared_public");

    QObject::connect(lp_server.get(), &Server::Connected, [&] {
        Say("online");
        for (int l_at = l_arguments.indexOf("--download"); l_at >= 0 && l_at + 4 < l_arguments.size();
             l_at = l_arguments.indexOf("--download", l_at + 5))
            transferQueueManager->AddDownload(l_arguments[l_at + 1], l_arguments[l_at + 3].toStdString(),
                                              l_arguments[l_at + 2].toStdString(),
                                              l_arguments[l_at + 4].toLongLong(), 0);
        const QString l_search = Option(l_arguments, "--search");
        if (!l_search.isEmpty())
            gp_server->FileSearch(l_search, false);
    });
    bool l_fetching = false;
    std::map<std::string, QString> l_said;
    QTimer l_watch;
    QObject::connect(&l_watch, &QTimer::timeout, [&] {
        const ItemPtr l_result = g("search_result");
        if (!l_fetching && l_result)
        {
            const QString l_user = l_result["search_results"]["user"].AsString();
            const QString l_folder = l_result["search_result_file_folder"].AsString();
            const QString l_name = l_result["search_result_file_name"].AsString();
            const qint64 l_size = l_result["file_size"].AsInt64();
            Say(QString("result %1 %2\\%3 %4").arg(l_user, l_folder, l_name).arg(l_size));
            transferQueueManager->AddDownload(l_user, l_name.toStdString(), l_folder.toStdString(), l_size, 0);
            l_fetching = true;
        }
        for (ItemPtr l_entry : g("download_entry"))
        {
            const QString l_status = l_entry["download_entry_status"].AsString();
            QString& l_last = l_said[l_entry["file_name"].AsStdString()];
            if (l_status != l_last)
                Say(QString("status %1 %2").arg(OneLine(l_entry["file_name"].AsString()), l_last = l_status));
        }
    });
    l_watch.start(50);
    lp_server->Connect();
    const int l_code = l_app.exec();
    delete transferQueueManager;
    return l_code;
}
