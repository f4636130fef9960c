#pragma once

#include <QCoreApplication>
#include <QStringList>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "diagnostics/LogService.h"
#include "diagnostics/LogSink.h"
#include "peer/PeerMessenger.h"
#include "support/support/FakePeer.h"
#include "support/support/ServerFixture.h"

// A messenger listening on free ports, its log lines collected, fake peers on 127.0.0.1.
class PeerLinkFixture : public ServerFixture, public LogSink
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        mp_messenger = std::make_unique<PeerMessenger>();
        logService.InstallSink(this);
        qRegisterMetaType<QTcpSocket*>();
    }

    void TearDown() override
    {
        logService.RemoveSink(this);
        // Items that name live objects go first, and the objects with them.
        d.GetType("unsent_message")->RemoveAllItems();
        d.GetType("peer_socket")->RemoveAllItems();
        mp_messenger.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ServerFixture::TearDown();
    }

    void LogLine(const QString&, const QString& i_line) override
    {
        m_lines << i_line;
        if (m_onLine)
            m_onLine(i_line);
    }
    int Logged(const QString& i_text) const { return m_lines.filter(i_text).size(); }

    void Listen()
    {
        SetSetting("listening_port", QString::number(FakePeer::FreePort()));
        SetSetting("obfuscated_listening_port", QString::number(FakePeer::FreePort()));
        mp_messenger->DataLoaded();
    }
    static quint16 Port(bool i_obfuscated)
    {
        return Setting(i_obfuscated ? "obfuscated_listening_port" : "listening_port").toUShort();
    }

    static std::size_t Count(const char* i_type) { return d.GetType(i_type)->ItemCount(); }
    // The messenger's end of the only socket of that type.
    static QTcpSocket* OnlySocket(const char* i_type)
    {
        return ItemPtr(g(i_type)).AsPointer<QTcpSocket>();
    }
    static bool WaitForCount(const char* i_type, std::size_t i_count)
    {
        return QTest::qWaitFor([&] { return Count(i_type) == i_count; }, 5000);
    }

    // A peer connected to one of the listeners, once the messenger has recorded it; with a
    // user name, also introduced as a messaging connection.
    std::unique_ptr<FakePeer> Accepted(bool i_obfuscated, const QString& i_user = QString())
    {
        auto lp_peer = std::make_unique<FakePeer>(i_obfuscated);
        const std::size_t l_accepted = Count("uninitialized_socket");
        const std::size_t l_introduced = Count("peer_socket");
        EXPECT_TRUE(lp_peer->ConnectTo(Port(i_obfuscated)));
        EXPECT_TRUE(WaitForCount("uninitialized_socket", l_accepted + 1));
        if (i_user.isEmpty())
            return lp_peer;
        lp_peer->SendFrame(FakePeer::InitBody(i_user, "P"));
        EXPECT_TRUE(WaitForCount("peer_socket", l_introduced + 1));
        return lp_peer;
    }

    static QByteArray Word(quint32 i_value) { return WireFields().UInt32(i_value); }
    static MemStream Message(quint32 i_code, quint32 i_number = 0)
    {
        MemStream l_message;
        l_message.Write(i_code);
        l_message.Write(i_number);
        return l_message;
    }

    std::unique_ptr<PeerMessenger> mp_messenger;
    QStringList m_lines;
    std::function<void(const QString&)> m_onLine;
};
