#pragma once

#include <QStringList>

#include <string>

#include "PeerLinkFixture.h"

// Records the messenger's user-information and transfer signals as lines of text, and runs
// single frames from a fake peer "bob" through a fresh messaging connection.
class PeerMessageFixture : public PeerLinkFixture
{
protected:
    struct Frame
    {
        const char* name;
        QByteArray body;
        // Whether the connection survives the frame.
        bool keeps;
        // The one signal it gives, as recorded; empty for none.
        QString signal;
    };

    void SetUp() override
    {
        PeerLinkFixture::SetUp();
        PeerMessenger* lp = mp_messenger.get();
        auto l_text = [](const std::string& i_bytes)
        { return QString::fromLatin1(i_bytes.c_str()); };
        QObject::connect(lp, &PeerMessenger::UserInfoRequested,
                         [this](QString i_user) {
                             Record({"UserInfoRequested", i_user});
                         });
        QObject::connect(lp, &PeerMessenger::UserInfoReceived,
                         [this](QString i_user, QString i_description, bool i_hasPicture,
                                QByteArray i_picture, int i_slots, int i_queued, bool i_free)
                         {
                             Record({"UserInfoReceived", i_user, i_description, N(i_hasPicture),
                                     QString::fromLatin1(i_picture.toHex()), N(i_slots),
                                     N(i_queued), N(i_free)});
                         });
        QObject::connect(
            lp, &PeerMessenger::FileTransferRequested,
            [=](QString i_user, int i_direction, uint i_req, std::string i_file, qint64 i_size)
            {
                Record({"FileTransferRequested", i_user, N(i_direction), N(i_req), l_text(i_file),
                        N(i_size)});
            });
        QObject::connect(lp, &PeerMessenger::FileTransferResponse,
                         [this](QString i_user, uint i_req, bool i_accepted, bool i_hasSize,
                                qint64 i_size, QString i_reason)
                         {
                             Record({"FileTransferResponse", i_user, N(i_req), N(i_accepted),
                                     N(i_hasSize), N(i_size), i_reason});
                         });
        QObject::connect(lp, &PeerMessenger::QueueUploadRequested,
                         [this](QString i_user, QString i_file) {
                             Record({"QueueUploadRequested", i_user, i_file});
                         });
        QObject::connect(lp, &PeerMessenger::DownloadPlaceInLine,
                         [=](QString i_user, std::string i_file, int i_place) {
                             Record({"DownloadPlaceInLine", i_user, l_text(i_file), N(i_place)});
                         });
        QObject::connect(lp, &PeerMessenger::UploadFailed,
                         [=](QString i_user, std::string i_file) {
                             Record({"UploadFailed", i_user, l_text(i_file)});
                         });
        QObject::connect(lp, &PeerMessenger::UploadDenied,
                         [=](QString i_user, std::string i_file, QString i_reason) {
                             Record({"UploadDenied", i_user, l_text(i_file), i_reason});
                         });
        QObject::connect(lp, &PeerMessenger::UploadPlaceInLineRequested,
                         [this](QString i_user, QString i_file) {
                             Record({"UploadPlaceInLineRequested", i_user, i_file});
                         });
        QObject::connect(lp, &PeerMessenger::QueueDownloadRequested,
                         [=](QString i_user, std::string i_file, qint64 i_size) {
                             Record({"QueueDownloadRequested", i_user, l_text(i_file), N(i_size)});
                         });
        Listen();
    }

    template <typename T> static QString N(T i_number) { return QString::number(i_number); }
    void Record(const QStringList& i_fields) { m_signals << i_fields.join('|'); }

    static QByteArray Int64(qint64 i_value)
    {
        return WireFields()
            .UInt32(static_cast<quint32>(i_value))
            .UInt32(static_cast<quint32>(static_cast<quint64>(i_value) >> 32));
    }

    // Sends the frame on a new connection of bob's; a kept connection is proved alive by a
    // later frame that is still read, a lost one must be gone with its item.
    void Run(const Frame& i_frame)
    {
        SCOPED_TRACE(i_frame.name);
        const std::size_t l_before = Count("peer_socket");
        std::unique_ptr<FakePeer> lp_peer = Accepted(false, "bob");
        m_signals.clear();
        const QString l_probe = "Received PM_MOVE_DOWNLOAD_TO_TOP message from user bob";
        const int l_probes = Logged(l_probe);
        lp_peer->SendFrame(i_frame.body);
        if (i_frame.keeps)
        {
            lp_peer->SendFrame(Word(34));
            EXPECT_TRUE(QTest::qWaitFor([&] { return Logged(l_probe) == l_probes + 1; }, 5000));
            EXPECT_EQ(Count("peer_socket"), l_before + 1);
            lp_peer->Close();
        }
        else
            EXPECT_TRUE(lp_peer->WaitForDisconnected());
        EXPECT_TRUE(WaitForCount("peer_socket", l_before));
        EXPECT_EQ(m_signals,
                  i_frame.signal.isEmpty() ? QStringList() : QStringList(i_frame.signal));
    }

    QStringList m_signals;
};
