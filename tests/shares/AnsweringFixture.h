#pragma once

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStringList>

#include <memory>

#include "SharesFixture.h"
#include "peer/PeerLinkFixture.h"
#include "shares/DNetManager.h"
#include "shares/SharedFoldersManager.h"
#include "support/TestSupport.h"

// The engines as the main window builds them (server link to a fake server, messenger on free
// ports, distributed network, shares), logged in as anna, with a tree on disk to share and bob
// connected to us over "P".
class AnsweringFixture : public PeerLinkFixture
{
protected:
    void SetUp() override
    {
        PeerLinkFixture::SetUp();
        mp_dnet = std::make_unique<DNetManager>();
        DeclareUnsharedMark();
        mp_shares = std::make_unique<SharedFoldersManager>();
        mp_processed = std::make_unique<QSignalSpy>(mp_shares.get(),
                                                    &SharedFoldersManager::SearchProcessed);
        ASSERT_TRUE(LogIn());
        ConnectBob();
    }

    void TearDown() override
    {
        mp_processed.reset();
        mp_shares.reset();
        mp_dnet.reset();
        PeerLinkFixture::TearDown();
    }

    QString Path(const QString& i_relative = "") const
    {
        return QString::fromStdString(m_disk.Path()) + (i_relative.isEmpty() ? "" : "/") + i_relative;
    }

    // A one-byte file; folders on the way are made.
    void Write(const QString& i_relative) const
    {
        QDir().mkpath(QFileInfo(Path(i_relative)).path());
        QFile l_file(Path(i_relative));
        ASSERT_TRUE(l_file.open(QIODevice::WriteOnly));
        l_file.write("x");
    }

    // A folder of the tree shared with everyone, or with the user list only.
    ItemPtr Share(const QString& i_relative, bool i_public = true)
    {
        ItemPtr l_folder = mp_shares->AddSharedFolder(Path(i_relative));
        l_folder += d.GetType(i_public ? "shared_public" : "shared_userlist")->GetGlobalNullItem();
        return l_folder;
    }

    static void PutInUserList(const QString& i_user) { User(i_user).NewItem("in_user_list"); }

    // What anna's messenger makes of a body that a peer named anna sends it: the reply read by
    // the messenger's own reader for a search of ours with that token whose text matches every
    // path. Lines folder|name|size|bitrate|mode sorted, then available|speed|queue.
    QStringList ReadBack(quint32 i_token, const QByteArray& i_body)
    {
        ItemPtr l_request = d.GetType("search_request")->NewItem(Value(i_token));
        l_request += d.GetType("search_request_text")->GetItem("\\");
        if (!mp_anna)
            mp_anna = Accepted(false, "anna");
        const QString l_marker = "Received PM_NOTHING message from user anna";
        const int l_before = Logged(l_marker);
        mp_anna->SendFrame(i_body);
        mp_anna->SendFrame(Word(52));
        EXPECT_TRUE(QTest::qWaitFor([&] { return Logged(l_marker) > l_before; }, 5000));
        QStringList l_lines;
        for (ItemPtr l_result : l_request.GetItems("search_results").GetItems("search_result"))
        {
            QStringList l_fields;
            for (const char* l_type : {"search_result_file_folder", "search_result_file_name",
                                       "file_size", "bitrate", "bitrate_mode"})
                l_fields << l_result[l_type].AsString();
            l_lines << l_fields.join('|');
        }
        l_lines.sort();
        ItemPtr l_results = l_request["search_results"];
        QStringList l_tail;
        for (const char* l_type : {"search_results_user_available", "search_results_user_speed",
                                   "search_results_uploads_in_queue"})
            l_tail << l_results[l_type].AsString();
        return l_lines << l_tail.join('|');
    }

    // The local path as it travels: backslashes throughout.
    QString Remote(const QString& i_relative = "") const
    {
        return QString(Path(i_relative)).replace('/', '\\');
    }

    TemporaryFolder m_disk;
    std::unique_ptr<DNetManager> mp_dnet;
    std::unique_ptr<SharedFoldersManager> mp_shares;
    std::unique_ptr<QSignalSpy> mp_processed;
    std::unique_ptr<FakePeer> mp_anna;
};
