#include "AnsweringFixture.h"
#include "shares/SharedFolderInfo.h"
#include "support/support/Mp3Stream.h"

namespace
{
class ShareLists : public AnsweringFixture
{
protected:
    QByteArray Ask(const QByteArray& i_request) { return mp_bob->SendFrame(i_request), NextReply(); }
};
} // namespace

TEST_F(ShareLists, ListsAndFolderContentsHoldTheVisibleFoldersOnly)
{
    QDir().mkpath(Path("Music/Empty"));
    ShareTree({"Music/Wombat.MP3", "Private/kiwi.txt"}, {"Music"}, "Private");
    mp_shares->OnMP3Scanned(Path("Music/Wombat.MP3"), 1, "stereo", 0, false, 192);
    // A second file of the same name and size in the same folder is the same record.
    ItemPtr l_twin = d.GetType("shared_file")->NewItem();
    for (ItemPtr l_item : {d.GetType("shared_file_folder")->HasItem(Value(Path("Music"))),
                           d.GetType("shared_file_name")->GetItem("Wombat.MP3"), d.GetType("shared_file_size")->GetItem("1")})
        l_twin += l_item;
    const QString l_music = Remote("Music");
    const QByteArray l_list = WireFields().UInt32(2).Text(l_music).UInt32(1).Raw(Record("Wombat.MP3", "mp3", {0, 192, 2, 0}))
                                  .Text(l_music + "\\Empty").UInt32(0).UInt32(0);
    EXPECT_EQ(Ask(Word(4)), Word(5) + Deflated(l_list));
    // The messenger's own reader of lists takes it as it was meant.
    QStringList l_read;
    QObject::connect(mp_messenger.get(), &PeerMessenger::UserShare, [&](QString i_user, FileInfoMap& i_share, AttributeTranslationTable&) {
        for (const auto& l_folder : i_share)
            l_read << i_user + "|" + QString::fromStdString(l_folder.first) + "|" + QString::number(l_folder.second.size());
    });
    ReadBack(1, mp_bob->Bodies().last());
    EXPECT_EQ(l_read, (QStringList{"anna|" + l_music + "|1", "anna|" + l_music + "\\Empty|0"}));

    // Folder contents: the requested text twice, the folder's own files, no attributes. Requests
    // that get no answer are followed by one that does, which must be the next to come.
    const auto l_request = [](quint32 i_req, const QString& i_folder) { return Word(36) + WireFields().UInt32(i_req).Text(i_folder).Bytes(); };
    const auto l_contents = [](quint32 i_req, const QString& i_folder, const QByteArray& i_info) {
        return Word(37) + Deflated(WireFields().UInt32(i_req).Text(i_folder).UInt32(1).Text(i_folder).Raw(i_info));
    };
    mp_bob->SendFrame(l_request(1, Remote("Private")));
    mp_bob->SendFrame(l_request(2, Remote("Nowhere")));
    EXPECT_EQ(Ask(l_request(3, l_music)), l_contents(3, l_music, WireFields().UInt32(1).Raw(Record("Wombat.MP3")).UInt32(0)));
    EXPECT_EQ(Ask(l_request(4, l_music + "\\Empty")), l_contents(4, l_music + "\\Empty", WireFields().UInt32(0).UInt32(0)));

    // A user marked unshared sees nothing, but still gets a list.
    User("bob").NewItem("unshared");
    EXPECT_EQ(Ask(Word(4)), Word(5) + Deflated(WireFields().UInt32(0).UInt32(0)));
}

TEST_F(ShareLists, SharedFolderInfoReadsWhatItWritesAndRefusesWhatIsCut)
{
    const auto l_written = [](const SharedFolderInfo& i_info) {
        MemStream l_stream;
        return i_info.Write(l_stream) ? QByteArray(l_stream.GetBuffer(), l_stream.GetWriteIndex()) : QByteArray();
    };
    FileInfo l_file;
    l_file.name = "a.mp3";
    SharedFolderInfo l_info;
    l_info.files = {l_file, FileInfo()};
    const QByteArray l_two = l_written(l_info);
    const QByteArray l_record = Record("a.mp3");
    const struct { const char* name; QByteArray bytes; bool read; std::size_t files; } l_cases[] = {
        {"empty", l_written(SharedFolderInfo()), true, 0},
        {"no end mark", QByteArray(4, '\0'), false, 0},
        {"two records", l_two, true, 2},
        {"a duplicate dropped", WireFields().UInt32(2).Raw(l_record).Raw(l_record).UInt32(0), true, 1},
        {"a cut record", l_two.chopped(6), false, 1},
        {"past the readers' limit", WireFields().UInt32(131073).Raw(l_record), false, 0},
    };
    for (const auto& l_case : l_cases)
    {
        MemStream l_stream;
        l_stream.WriteBuffer(l_case.bytes.constData(), static_cast<unsigned long>(l_case.bytes.size()));
        SharedFolderInfo l_read;
        l_read.files = {l_file};
        EXPECT_EQ(l_read.Read(l_stream), l_case.read) << l_case.name;
        EXPECT_EQ(l_read.files.size(), l_case.files) << l_case.name;
    }
    EXPECT_EQ(l_written(SharedFolderInfo()), QByteArray(8, '\0'));
}

TEST_F(ShareLists, ReportsToTheServerAndStoresTheScannerThreadsFindings)
{
    // The login of the set-up found nothing shared yet.
    EXPECT_EQ(Sent(35, 1).value(0).fields, WireFields().Int32(0).Int32(0).Bytes());
    ShareTree({"a/1.txt", "a/2.txt", "a/b/3.txt"}, {}, "a");
    emit mp_server->Connected();
    EXPECT_EQ(Sent(35, 2).value(1).fields, WireFields().Int32(2).Int32(3).Bytes());
    EXPECT_EQ(Sent(36).value(1).fields, WireFields().Text("anna").Bytes());
    QSignalSpy l_received(mp_server.get(), &Server::ReceivedUserStats);
    for (const auto& l_stats : {std::make_pair("anna", 4200), {"bob", 9}, {"Anna", 9}})
        m_fake.SendFrame(36, WireFields().Text(l_stats.first).Int32(l_stats.second).Raw(Int64(7)).Int32(3).Int32(0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_received.count() == 3; }, 5000));
    EXPECT_EQ(Setting("upload_speed"), "4200");

    // The scanner thread's findings for a file still shared are stored.
    QFile l_file(Path("a/Real.mp3"));
    ASSERT_TRUE(l_file.open(QIODevice::WriteOnly) && l_file.write(Mp3Stream().Add(Mp3Stream::Frame{}, 300).Bytes()) > 0);
    l_file.close();
    mp_shares->RescanShares();
    ItemPtr l_real = mp_shares->GetSharedFileItem(Path("a/Real.mp3"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_real.IsConnected("is_scanned"); }, 10000));
    EXPECT_EQ(l_real["mpeg_version"].AsString() + "|" + l_real["channel_mode"].AsString() + "|" + l_real["audio_frequency"].AsString() +
                  "|" + mp_shares->GetFileItemDisplayString(l_real), "1|joint stereo|0|128 CBR");

    // A result for a file that left the shares meanwhile is only logged.
    mp_shares->OnMP3Scanned(Path("a/Gone.mp3"), 2, "mono", 1, true, 64);
    EXPECT_EQ(Count("bitrate") + Count("channel_mode"), 2u);
    EXPECT_EQ(Logged("Scanned " + Path("a/Gone.mp3")), 1);
}
