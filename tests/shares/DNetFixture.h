#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QStringList>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <utility>

#include "peer/PeerMessenger.h"
#include "shares/DNetManager.h"
#include "support/support/FakePeer.h"
#include "support/support/LogLines.h"
#include "support/support/QtPrinters.h"
#include "support/support/ServerFixture.h"

// What tests reach of the manager: the silence check at a chosen time and the last search time.
class DNetManagerTesting
{
public:
    static void DropSilentParentAsOf(DNetManager& io_manager, const QDateTime& i_now) { io_manager.DropSilentParentAsOf(i_now); }
    static QDateTime LastSearch(const DNetManager& i_manager) { return i_manager.m_lastSearchRequestTime; }
    static void SetChildCeiling(DNetManager& io_manager, qint64 i_bytes) { io_manager.m_maxChildUnsentBytes = i_bytes; }
    static void SetServerValues(DNetManager& io_manager, int i_minSpeed, int i_ratio)
    {
        std::tie(io_manager.m_parentMinSpeed, io_manager.m_parentSpeedConnectionRatio) = std::tie(i_minSpeed, i_ratio);
    }
};

// A logged-in link to a fake server, a messenger and the manager; loopback connections whose far
// end is a fake peer, handed to the manager as the messenger hands them.
class DNetFixture : public ServerFixture
{
protected:
    struct Link
    {
        std::unique_ptr<FakePeer> peer;
        QPointer<QTcpSocket> socket; // our end
    };

    void SetUp() override
    {
        ServerFixture::SetUp();
        mp_messenger = std::make_unique<PeerMessenger>();
        mp_dnet = std::make_unique<DNetManager>();
        // Stands in for the shares manager's answer, which must come before any relay.
        QObject::connect(mp_dnet.get(), &DNetManager::DNetSearchRequest,
                         [this](QString i_user, quint32 i_req, QString i_text) {
                             qint64 l_relayed = 0;
                             for (const Link* lp_child : m_children)
                                 l_relayed += lp_child->socket->bytesToWrite() + lp_child->peer->Raw().size();
                             m_answers << QString("%1|%2|%3|%4").arg(i_user).arg(i_req).arg(i_text).arg(l_relayed);
                         });
        ASSERT_TRUE(LogIn());
    }

    void TearDown() override
    {
        mp_dnet.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        mp_messenger.reset();
        ServerFixture::TearDown();
    }

    // As the messenger hands over our own connection (a candidate) or one opened to us (a child);
    // without a user, not handed over at all.
    Link HandedOver(const QString& i_user, bool i_child)
    {
        Link l_link{std::make_unique<FakePeer>(), nullptr};
        l_link.socket = l_link.peer->Linked();
        if (!i_user.isEmpty())
            emit(mp_messenger.get()->*(i_child ? &PeerMessenger::DNetConnectionRequested
                                               : &PeerMessenger::DNetConnectionAccepted))(i_user, l_link.socket);
        return l_link;
    }
    Link Candidate(const QString& i_user) { return HandedOver(i_user, false); }
    Link Child(const QString& i_user) { return HandedOver(i_user, true); }
    // bob adopted as parent through a first search request.
    Link Parent()
    {
        Link l_bob = Candidate("bob");
        l_bob.peer->SendFrame(Search("alice", 1, "first"));
        EXPECT_TRUE(QTest::qWaitFor([] { return Key("dnet_parent_user") == "bob"; }, 5000));
        return l_bob;
    }

    static QByteArray Search(const QString& i_user, quint32 i_req, const QString& i_text, quint32 i_kind = 49)
    {
        return WireFields().Byte(3).UInt32(i_kind).Text(i_user).UInt32(i_req).Text(i_text);
    }
    static QByteArray Level(qint32 i_level) { return WireFields().Byte(4).Int32(i_level); }
    static QByteArray Leader(const QString& i_name) { return WireFields().Byte(5).Text(i_name); }
    static QByteArray Depth(qint32 i_depth) { return WireFields().Byte(7).Int32(i_depth); }

    static QString Key(const char* i_key) { return d.GetType("dnet_global")->HasItem(i_key)["dnet_value"].AsString(); }
    // Lines of the area that start with the pattern, at any level.
    int Logged(const QString& i_pattern) const { return m_log.Count("Distributed Network: *" + i_pattern); }
    static std::size_t Count(const char* i_type) { return d.GetType(i_type)->ItemCount(); }

    // The distributed-network reports the server has had since the login's own.
    QStringList Reports()
    {
        QStringList l_reports;
        for (const FakeCentralServer::Frame& l_frame : SentFrames())
            if (QList<int>{71, 100, 126, 127, 129}.contains(l_frame.code))
                l_reports << Report(l_frame.code, l_frame.fields);
        return l_reports.mid(1);
    }
    static QString Report(int i_code, const QByteArray& i_fields) { return QString::number(i_code) + ":" + i_fields.toHex(); }

    std::unique_ptr<PeerMessenger> mp_messenger;
    std::unique_ptr<DNetManager> mp_dnet;
    LogLines m_log;
    QStringList m_answers;
    QList<const Link*> m_children;
};
