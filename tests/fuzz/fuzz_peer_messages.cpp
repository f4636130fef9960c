// Hands arbitrary peer messages to the messaging branch of a messenger, as if they had come in
// on an introduced connection. The first byte picks the message code; a hostile body must never
// crash, read past its data or hand on more bytes than it held.
#include <QCoreApplication>
#include <QTcpSocket>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "peer/PeerMessenger.h"
#include "server/MemStream.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "support/support/ClientSchema.h"
#include "support/support/FakeUpnpBackend.h"

namespace
{
void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Handled codes first, so most inputs reach a reader; then some that are only logged. The low
// seven bits of the first byte pick the entry, so seeds keep their code as the table grows.
const quint32 Codes[] = {15, 16, 40, 41, 43, 44, 46, 50, 51, 60, 4,          5,
                         9,  36, 52, 1,  2,  8,  37, 0,  14, 48, 0xffffffffu};
static_assert(sizeof(Codes) / sizeof(Codes[0]) <= 128, "a seed's first byte must reach every code");

struct Target
{
    Target()
    {
        static int s_argc = 1;
        static char s_name[] = "fuzz_peer_messages";
        static char* s_argv[] = {s_name, nullptr};
        mp_application = std::make_unique<QCoreApplication>(s_argc, s_argv);
        mp_saver = std::make_unique<DataSaver>();
        mp_server = std::make_unique<Server>(std::make_unique<FakeUpnpBackend>());
        DeclareSettingsTypes();
        Server::CreateData();
        mp_messenger = std::make_unique<PeerMessenger>();

        // Whatever a receiver is handed must have come out of the body.
        PeerMessenger* lp = mp_messenger.get();
        auto l_bytes = [](std::size_t i_count) { s_handedOn += i_count; };
        QObject::connect(lp, &PeerMessenger::UserInfoReceived,
                         [=](QString, QString i_text, bool, QByteArray i_picture)
                         {
                             // A decoded text has at most one unit per byte it came from.
                             l_bytes(static_cast<std::size_t>(i_picture.size()) +
                                     static_cast<std::size_t>(i_text.size()));
                         });
        QObject::connect(lp, &PeerMessenger::FileTransferRequested,
                         [=](QString, int, uint, std::string i_file) { l_bytes(i_file.size()); });
        QObject::connect(lp, &PeerMessenger::DownloadPlaceInLine,
                         [=](QString, std::string i_file) { l_bytes(i_file.size()); });
        QObject::connect(lp, &PeerMessenger::UploadFailed,
                         [=](QString, std::string i_file) { l_bytes(i_file.size()); });
        QObject::connect(lp, &PeerMessenger::UploadDenied,
                         [=](QString, std::string i_file) { l_bytes(i_file.size()); });
        QObject::connect(lp, &PeerMessenger::QueueDownloadRequested,
                         [=](QString, std::string i_file) { l_bytes(i_file.size()); });
    }

    // Live objects held by items are freed right after each input, so none outlives the last.
    void Clear()
    {
        d.GetType("unsent_message")->RemoveAllItems();
        // Its removal frees the stamp it is connected to.
        d.GetType("peer_socket")->RemoveAllItems();
    }

    // What one message left behind goes before the next, and bob's connection is new each time.
    void Reset()
    {
        const std::map<std::string, Type*> l_types = d.Types();
        for (const auto& l_type : l_types)
            if (l_type.first != "global" && l_type.first != "global_value")
                l_type.second->RemoveAllItems();
        d.GetType("peer_socket")->NewItem(Value(&m_socket)) += d.GetType("user")->GetItem("bob");
    }

    std::unique_ptr<QCoreApplication> mp_application;
    std::unique_ptr<DataSaver> mp_saver;
    std::unique_ptr<Server> mp_server;
    std::unique_ptr<PeerMessenger> mp_messenger;
    // Never connected: anything sent to bob is parked.
    QTcpSocket m_socket;
    static std::size_t s_handedOn;
};

std::size_t Target::s_handedOn = 0;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static Target* sp_target = new Target();
    if (size < 1)
        return 0;
    sp_target->Reset();
    MemStream l_body;
    // A first byte with the top bit set sends the rest as it is, code included.
    if (!(data[0] & 0x80))
        l_body.Write(Codes[(data[0] & 0x7f) % (sizeof(Codes) / sizeof(Codes[0]))]);
    Check(l_body.WriteBuffer(data + 1, size - 1));
    const int l_length = l_body.GetWriteIndex();

    Target::s_handedOn = 0;
    sp_target->mp_messenger->HandleMessage(&sp_target->m_socket, l_body);
    sp_target->Clear();
    Check(Target::s_handedOn <= static_cast<std::size_t>(l_length));
    return 0;
}
