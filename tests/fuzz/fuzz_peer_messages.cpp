// Hands arbitrary peer messages to the messaging branch of a messenger, as if they had come in
// on an introduced connection. The first byte picks the message code; a hostile body must never
// crash, read past its data or hand on more bytes than it held.
#include <QTcpSocket>

#include <iterator>

#include "FuzzHarness.h"
#include "peer/PeerMessenger.h"

namespace
{
// Handled codes first, so most inputs reach a reader; then some that are only logged. The low
// seven bits of the first byte pick one, so seeds keep their code as the table grows.
const quint32 Codes[] = {15, 16, 40, 41, 43, 44, 46, 50, 51, 60, 4,          5,
                         9,  36, 52, 1,  2,  8,  37, 0,  14, 48, 0xffffffffu};

std::size_t s_handedOn = 0;

struct Target : Engine
{
    Target() : Engine("fuzz_peer_messages"), mp_messenger(std::make_unique<PeerMessenger>())
    {
        // Whatever a receiver is handed must have come out of the body; a decoded text has at
        // most one unit per byte it came from.
        PeerMessenger* lp = mp_messenger.get();
        const auto l_file = [](QString, std::string i_file) { s_handedOn += i_file.size(); };
        QObject::connect(lp, &PeerMessenger::UserInfoReceived, [](QString, QString i_text, bool, QByteArray i_picture) {
            s_handedOn += std::size_t(i_picture.size()) + std::size_t(i_text.size());
        });
        QObject::connect(lp, &PeerMessenger::FileTransferRequested,
                         [](QString, int, uint, std::string i_file) { s_handedOn += i_file.size(); });
        QObject::connect(lp, &PeerMessenger::DownloadPlaceInLine, l_file);
        QObject::connect(lp, &PeerMessenger::UploadFailed, l_file);
        QObject::connect(lp, &PeerMessenger::UploadDenied, l_file);
        QObject::connect(lp, &PeerMessenger::QueueDownloadRequested, l_file);
    }

    std::unique_ptr<PeerMessenger> mp_messenger;
    // Never connected: anything sent to bob is parked.
    QTcpSocket m_socket;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static Target* sp_target = new Target();
    if (size < 1)
        return 0;
    // Bob's connection is new each time.
    ClearStore();
    d.GetType("peer_socket")->NewItem(Value(&sp_target->m_socket)) += d.GetType("user")->GetItem("bob");
    MemStream l_body;
    // A first byte with the top bit set sends the rest as it is, code included.
    if (!(data[0] & 0x80))
        l_body.Write(Codes[(data[0] & 0x7f) % std::size(Codes)]);
    Check(l_body.WriteBuffer(data + 1, size - 1));
    const int l_length = l_body.GetWriteIndex();
    s_handedOn = 0;
    sp_target->mp_messenger->HandleMessage(&sp_target->m_socket, l_body);
    // Live objects held by items are freed right away, so none outlives the last input; the
    // socket's removal frees the stamp it is connected to.
    d.GetType("unsent_message")->RemoveAllItems();
    d.GetType("peer_socket")->RemoveAllItems();
    Check(s_handedOn <= static_cast<std::size_t>(l_length));
    return 0;
}
