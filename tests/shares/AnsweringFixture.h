#pragma once

#include "SharesFixture.h"
#include "peer/PeerLinkFixture.h"
#include "shares/DNetManager.h"

// The engines in start-up order, logged in as anna, a tree on disk to share, bob connected over "P".
class AnsweringFixture : public PeerLinkFixture
{
protected:
    void SetUp() override
    {
        PeerLinkFixture::SetUp();
        mp_dnet = std::make_unique<DNetManager>();
        mp_shares = std::make_unique<SharedFoldersManager>();
        mp_processed = std::make_unique<QSignalSpy>(mp_shares.get(), &SharedFoldersManager::SearchProcessed);
        ASSERT_TRUE(LogIn());
        ConnectBob();
    }

    void TearDown() override
    {
        mp_processed.reset(), mp_shares.reset(), mp_dnet.reset();
        PeerLinkFixture::TearDown();
    }

    QString Path(const QString& i_relative) const { return QString::fromStdString(m_disk.Path()) + "/" + i_relative; }
    QString Remote(const QString& i_relative) const { return Path(i_relative).replace('/', '\\'); }

    // One-byte files; the folders named are shared with everyone, the private one with the user list.
    void ShareTree(const QStringList& i_files, const QStringList& i_public, const QString& i_private = "")
    {
        for (const QString& l_name : i_files)
        {
            QDir().mkpath(QFileInfo(Path(l_name)).path());
            QFile l_file(Path(l_name));
            ASSERT_TRUE(l_file.open(QIODevice::WriteOnly) && l_file.write("x") == 1);
        }
        for (const QString& l_folder : i_public + QStringList(i_private))
            if (!l_folder.isEmpty())
                mp_shares->AddSharedFolder(Path(l_folder)) +=
                    d.GetType(l_folder == i_private ? "shared_userlist" : "shared_public")->GetGlobalNullItem();
    }

    // The next body bob receives, or nothing.
    QByteArray NextReply() { return mp_bob->WaitForBodies(m_replies + 1) ? mp_bob->Bodies().at(m_replies++) : QByteArray(); }

    // A file record as the field table has it, one byte long, independently of FileInfo::Write.
    static QByteArray Record(const QString& i_name, const QString& i_extension = "", const QList<quint32>& i_attributes = {})
    {
        WireFields l_record;
        l_record.Byte(1).Text(i_name).Raw(Int64(1)).Text(i_extension).UInt32(i_attributes.size() / 2);
        for (quint32 l_value : i_attributes)
            l_record.UInt32(l_value);
        return l_record;
    }

    // A body from a peer named anna, read by our messenger for our search of that token matching every
    // path: lines folder|name|size|bitrate|mode, sorted, then available|speed|queue.
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
        const auto l_fields = [](ItemPtr i_item, std::initializer_list<const char*> i_types) {
            QStringList l_fields;
            for (const char* l_type : i_types)
                l_fields << i_item[l_type].AsString();
            return l_fields.join('|');
        };
        QStringList l_lines;
        for (ItemPtr l_result : l_request.GetItems("search_results").GetItems("search_result"))
            l_lines << l_fields(l_result, {"search_result_file_folder", "search_result_file_name", "file_size", "bitrate", "bitrate_mode"});
        l_lines.sort();
        return l_lines << l_fields(l_request["search_results"], {"search_results_user_available", "search_results_user_speed",
                                                                 "search_results_uploads_in_queue"});
    }

    TemporaryFolder m_disk;
    std::unique_ptr<DNetManager> mp_dnet;
    std::unique_ptr<SharedFoldersManager> mp_shares;
    std::unique_ptr<QSignalSpy> mp_processed;
    std::unique_ptr<FakePeer> mp_anna;
    int m_replies = 0;
};
