#include "PeerLinkFixture.h"

namespace
{
class PeerShareMessages : public PeerLinkFixture
{
protected:
    void SetUp() override
    {
        PeerLinkFixture::SetUp();
        // Each list as UserShare|user|folder:name/size/code=value,...;...|code=name,...
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
                             m_signals << QStringList{"UserShare", i_user, l_folders.join(';'), l_names.join(',')}
                                              .join('|');
                         });
    }

    const QByteArray m_list = WireFields().Int32(2).Text("music\\Beatles").Raw(Files(
        {{"Help.mp3", 4000000, {{0, 320}}}, {"", -1, {}}, {"Yesterday.mp3", 7, {}}})).Text("video").Raw(Files({}));
    const QString m_shareLine = "UserShare|bob|music\\Beatles:Help.mp3/4000000/0=320,Yesterday.mp3/7;video:|";
};
} // namespace

TEST_F(PeerShareMessages, ShareListRequestBringsBackTheList)
{
    SetSetting("username", "anna");
    FakePeer l_bob;
    Reachable("bob", l_bob.Listen(), 0);
    mp_messenger->GetUserSharedFiles("bob");
    ASSERT_TRUE(l_bob.WaitForBodies(2));
    EXPECT_EQ(l_bob.Bodies(), (QList<QByteArray>{FakePeer::InitBody("anna", "P"), Word(4)}));
    // The answer comes back on our own connection.
    l_bob.SendFrame(Word(5) + Deflated(m_list + WireFields().Int32(1).Int32(0).Text("bitrate")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_signals.isEmpty(); }, 5000));
    EXPECT_EQ(m_signals, QStringList(m_shareLine + "0=bitrate"));
}

TEST_F(PeerShareMessages, ShareMessagesAsTheyArrive)
{
    const Frame l_frames[] = {
        {"a list without its name table", Word(5) + Deflated(m_list), true, m_shareLine},
        {"a cut name table", Word(5) + Deflated(m_list + Word(2)), true, m_shareLine},
        {"a decompression bomb", Bomb(5), true, {}},
        {"a list that is not compressed", Word(5) + m_list, false, {}},
        {"a cut list", Word(5) + Deflated(m_list.left(40)), false, {}},
        {"too many folders", Word(5) + Deflated(WireFields().Int32(131073)), false, {}},
        {"nothing after the code", Word(5), false, {}},
        {"our list asked for", Word(4), true, "SharedFileListRequested|bob"},
        {"one folder asked for", WireFields().UInt32(36).UInt32(12).Text("music\\Beatles"), true,
         "SharedFilesInFolderRequested|bob|12|music\\Beatles"},
        {"a folder request without its folder", WireFields().UInt32(36).UInt32(12), false, {}},
    };
    for (const Frame& l_frame : l_frames)
        Run(l_frame);
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
