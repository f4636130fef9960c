#include "PeerLinkFixture.h"

namespace
{
class PeerShareMessages : public PeerLinkFixture
{
protected:
    void SetUp() override
    {
        PeerLinkFixture::SetUp();
        // Each list as one line: user|folder:name/size/code=value,...;...|code=name,...
        QObject::connect(mp_messenger.get(), &PeerMessenger::UserShare,
                         [this](QString i_user, FileInfoMap& i_share, AttributeTranslationTable& i_names) {
                             QStringList l_folders, l_names;
                             for (const auto& [l_folder, l_files] : i_share)
                             {
                                 QStringList l_lines;
                                 for (const FileInfo& l_file : l_files)
                                 {
                                     l_lines << Text(l_file.name) + "/" + Text(l_file.size);
                                     for (const auto& [l_code, l_value] : l_file.attributeMap.attributes)
                                         l_lines.last() += QString("/%1=%2").arg(l_code).arg(l_value);
                                 }
                                 l_folders << Text(l_folder) + ":" + l_lines.join(',');
                             }
                             for (const auto& [l_code, l_name] : i_names)
                                 l_names << QString("%1=%2").arg(l_code).arg(Text(l_name));
                             m_shares << QStringList{i_user, l_folders.join(';'), l_names.join(',')}.join('|');
                         });
    }

    static QByteArray ShareList()
    {
        return WireFields().Int32(2).Text("music\\Beatles")
            .Raw(Files({{"Help.mp3", 4000000, {{0, 320}}}, {"", -1, {}}, {"Yesterday.mp3", 7, {}}})).Text("video")
            .Raw(Files({}));
    }
    const QString m_shareLine = "bob|music\\Beatles:Help.mp3/4000000/0=320,Yesterday.mp3/7;video:|";
    QStringList m_shares;
};
} // namespace

TEST_F(PeerShareMessages, ShareListRequestBringsBackTheList)
{
    Listen();
    mp_messenger->GetUserSharedFiles("bob");
    std::unique_ptr<FakePeer> lp_bob = ReachableBob();
    ASSERT_TRUE(lp_bob->WaitForBodies(2));
    EXPECT_EQ(lp_bob->Bodies().at(1), Word(4));
    lp_bob->SendFrame(Word(5) + Deflated(ShareList() + WireFields().Int32(1).Int32(0).Text("bitrate")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_shares.isEmpty(); }, 5000));
    EXPECT_EQ(m_shares, QStringList(m_shareLine + "0=bitrate"));
}

TEST_F(PeerShareMessages, ShareListsAsTheyArrive)
{
    const struct
    {
        const char* name;
        QByteArray body;
        bool keeps;
        QStringList shares;
    } l_cases[] = {
        {"a list without its name table", Word(5) + Deflated(ShareList()), true, {m_shareLine}},
        {"a cut name table", Word(5) + Deflated(ShareList() + Word(2)), true, {m_shareLine}},
        {"a decompression bomb", Bomb(5), true, {}},
        {"a list that is not compressed", Word(5) + ShareList(), false, {}},
        {"a cut list", Word(5) + Deflated(ShareList().left(40)), false, {}},
        {"too many folders", Word(5) + Deflated(WireFields().Int32(131073)), false, {}},
        {"nothing after the code", Word(5), false, {}},
    };
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(l_case.name);
        m_shares.clear();
        if (Count("peer_socket") == 0)
            ConnectBob();
        EXPECT_EQ(SendKeeps(l_case.body), l_case.keeps);
        EXPECT_EQ(m_shares, l_case.shares);
    }
}

TEST_F(PeerShareMessages, RequestsForOurSharesGoToTheSharesEngine)
{
    QStringList l_asked;
    QObject::connect(mp_messenger.get(), &PeerMessenger::SharedFileListRequested,
                     [&](QString i_user) {
                         l_asked << "list|" + i_user;
                         // The engine answers through the messenger, to the same user.
                         MemStream l_reply;
                         l_reply.Write(quint32(5));
                         mp_messenger->SendMessage(i_user, l_reply);
                     });
    QObject::connect(mp_messenger.get(), &PeerMessenger::SharedFilesInFolderRequested,
                     [&](QString i_user, quint32 i_request, QString i_folder) {
                         l_asked << QString("folder|%1|%2|%3").arg(i_user).arg(i_request).arg(i_folder);
                     });
    ConnectBob();
    EXPECT_TRUE(SendKeeps(Word(4)));
    EXPECT_TRUE(SendKeeps(WireFields().UInt32(36).UInt32(12).Text("music\\Beatles")));
    ASSERT_TRUE(mp_bob->WaitForBodies(1));
    EXPECT_EQ(mp_bob->Bodies().at(0), Word(5));
    // A folder request without its folder ends the connection.
    EXPECT_FALSE(SendKeeps(WireFields().UInt32(36).UInt32(12)));
    EXPECT_EQ(l_asked, (QStringList{"list|bob", "folder|bob|12|music\\Beatles"}));
}

TEST(PeerInflater, StopsAtItsCeiling)
{
    const QByteArray l_text(1000, 'a');
    const QByteArray l_stream = Deflated(l_text);
    const std::tuple<const char*, QByteArray, int, Inflater::Result> l_cases[] = {
        {"exactly the ceiling", l_stream, 1000, Inflater::Inflated},
        {"one byte past it", l_stream, 999, Inflater::TooLarge},
        {"bytes after the stream", l_stream + "junk", 1000, Inflater::Inflated},
        {"a cut stream", l_stream.chopped(2), 1000, Inflater::Broken},
        {"no stream", "not zlib", 1000, Inflater::Broken},
        {"nothing", QByteArray(), 1000, Inflater::Broken},
    };
    for (const auto& l_case : l_cases)
    {
        SCOPED_TRACE(std::get<0>(l_case));
        QByteArray l_out("left over");
        const QByteArray& l_input = std::get<1>(l_case);
        EXPECT_EQ(Inflater::Inflate(l_input.constData(), l_input.size(), l_out, std::get<2>(l_case)),
                  std::get<3>(l_case));
        EXPECT_EQ(l_out, std::get<3>(l_case) == Inflater::Inflated ? l_text : QByteArray());
    }
}
