#pragma once

#include <QStringList>

#include "support/support/ServerFixture.h"

// A logged-in link, with the peer-side types that some server messages write into declared as
// the peer messenger declares them. Messages go to the dispatch as the frame reader hands them.
class ServerMessageFixture : public ServerFixture
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        DeclarePeerSideTypes();
        ASSERT_TRUE(LogIn());
    }

    void Deliver(qint32 i_code, const QByteArray& i_fields)
    {
        MemStream l_body;
        l_body.WriteBuffer(i_fields.constData(), static_cast<unsigned long>(i_fields.size()));
        mp_server->HandleMessage(i_code, l_body);
    }
    // The fields of every frame of that code sent so far.
    QList<QByteArray> Sent(qint32 i_code)
    {
        QList<QByteArray> l_fields;
        Fence();
        for (const FakeCentralServer::Frame& l_frame : m_fake.FramesWithCode(i_code))
            l_fields.append(l_frame.fields);
        return l_fields;
    }

    static ItemPtr User(const char* i_name) { return d.GetType("user")->GetItem(i_name); }
    static ItemPtr Room(const char* i_name) { return d.GetType("room")->GetItem(i_name); }
    // Sorted.
    static QStringList Names(const ItemSet& i_items)
    {
        QStringList l_names;
        for (ItemPtr l_item : i_items)
            l_names.append(l_item.AsString());
        l_names.sort();
        return l_names;
    }
};
