#include "AnsweringFixture.h"
#include "shares/SharedFolderInfo.h"
#include "support/support/Mp3Stream.h"

namespace
{
class ShareLists : public AnsweringFixture
{
protected:
    // A record of a folder's list: the name alone, one byte long.
    static QByteArray Record(const QString& i_name, const QString& i_extension = "",
                             const QList<quint32>& i_attributes = {})
    {
        WireFields l_record;
        l_record.Byte(1).Text(i_name).Raw(Int64(1)).Text(i_extension).UInt32(i_attributes.size() / 2);
        for (quint32 l_value : i_attributes)
            l_record.UInt32(l_value);
        return l_record;
    }

    // Sends bob's request and returns the next body he receives.
    QByteArray Ask(const QByteArray& i_request)
    {
        mp_bob->SendFrame(i_request);
        return mp_bob->WaitForBodies(++m_replies) ? mp_bob->Bodies().at(m_replies - 1) : QByteArray();
    }

    int m_replies = 0;
};
} // namespace

TEST_F(ShareLists, ListsAndFolderContentsHoldTheVisibleFoldersOnly)
{
    for (const char* l_name : {"Music/Wombat.MP3", "Private/kiwi.txt"})
        Write(l_name);
    QDir().mkpath(Path("Music/Empty"));
    Share("Music");
    Share("Private", false);
    mp_shares->OnMP3Scanned(Path("Music/Wombat.MP3"), 1, "stereo", 0, false, 192);
    // A second file of the same name and size in the same folder is the same record.
    ItemPtr l_twin = d.GetType("shared_file")->NewItem();
    l_twin += d.GetType("shared_file_folder")->HasItem(Value(Path("Music")));
    l_twin += d.GetType("shared_file_name")->GetItem("Wombat.MP3");
    l_twin += d.GetType("shared_file_size")->GetItem("1");

    const QString l_music = Remote("Music");
    const QByteArray l_list = WireFields()
                                  .UInt32(2)
                                  .Text(l_music)
                                  .UInt32(1)
                                  .Raw(Record("Wombat.MP3", "mp3", {0, 192, 2, 0}))
                                  .Text(l_music + "\\Empty")
                                  .UInt32(0)
                                  .UInt32(0);
    EXPECT_EQ(Ask(Word(4)), Word(5) + Deflated(l_list));
    // The messenger's own reader of lists takes it as it was meant.
    QStringList l_read;
    QObject::connect(mp_messenger.get(), &PeerMessenger::UserShare,
                     [&](QString i_user, FileInfoMap& i_share, AttributeTranslationTable& i_table) {
                         for (const auto& l_folder : i_share)
                             for (const FileInfo& l_file : l_folder.second)
                                 l_read << i_user + "|" + QString::fromStdString(l_folder.first + "|" + l_file.name);
                         l_read << QString::number(i_share.size()) + " folders, " + QString::number(i_table.size()) + " names";
                     });
    ReadBack(1, mp_bob->Bodies().last());
    EXPECT_EQ(l_read, (QStringList{"anna|" + l_music + "|Wombat.MP3", "2 folders, 0 names"}));

    // Folder contents: the requested text twice, the folder's own files, no attributes.
    const auto l_request = [](quint32 i_req, const QString& i_folder) {
        return Word(36) + WireFields().UInt32(i_req).Text(i_folder).Bytes();
    };
    const auto l_contents = [](quint32 i_req, const QString& i_folder, const QByteArray& i_info) {
        return Word(37) + Deflated(WireFields().UInt32(i_req).Text(i_folder).UInt32(1).Text(i_folder).Raw(i_info));
    };
    // Requests that get no answer are followed by one that does, which must come next.
    mp_bob->SendFrame(l_request(1, Remote("Private")));
    mp_bob->SendFrame(l_request(2, Remote("Nowhere")));
    EXPECT_EQ(Ask(l_request(3, l_music)),
              l_contents(3, l_music, WireFields().UInt32(1).Raw(Record("Wombat.MP3")).UInt32(0)));
    EXPECT_EQ(Ask(l_request(4, l_music + "\\Empty")),
              l_contents(4, l_music + "\\Empty", WireFields().UInt32(0).UInt32(0)));

    // Nobody sees anything of a user marked unshared, but the list still goes out.
    User("bob").NewItem("unshared");
    EXPECT_EQ(Ask(Word(4)), Word(5) + Deflated(WireFields().UInt32(0).UInt32(0)));
}

TEST_F(ShareLists, SharedFolderInfoReadsWhatItWritesAndRefusesWhatIsCut)
{
    SharedFolderInfo l_info;
    MemStream l_empty;
    ASSERT_TRUE(l_info.Write(l_empty));
    EXPECT_EQ(QByteArray(l_empty.GetBuffer(), l_empty.GetWriteIndex()), QByteArray(8, '\0'));

    FileInfo l_file;
    l_file.name = "a.mp3";
    l_file.size = 5;
    l_file.attributeMap.extension = "mp3";
    l_info.files = {l_file, FileInfo()};
    MemStream l_full;
    ASSERT_TRUE(l_info.Write(l_full));
    const QByteArray l_bytes(l_full.GetBuffer(), l_full.GetWriteIndex());
    const QByteArray l_second = WireFields().Byte(1).Text("a.mp3").Raw(Int64(5)).Text("mp3").UInt32(0);

    const struct
    {
        const char* name;
        QByteArray bytes;
        bool read;
        std::size_t files;
    } l_cases[] = {
        {"empty", QByteArray(8, '\0'), true, 0},
        {"no end mark", QByteArray(4, '\0'), false, 0},
        {"two records", l_bytes, true, 2},
        {"a duplicate dropped", WireFields().UInt32(2).Raw(l_second).Raw(l_second).UInt32(0), true, 1},
        {"a cut record", l_bytes.left(l_bytes.size() - 6), false, 1},
        {"past the readers' limit", WireFields().UInt32(131073).Raw(l_second), false, 0},
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
}

TEST_F(ShareLists, TellsTheServerItsCountsAtLoginAndKeepsItsOwnSpeed)
{
    // The login of the set-up found nothing shared yet.
    EXPECT_EQ(Sent(35, 1).value(0).fields, WireFields().Int32(0).Int32(0).Bytes());
    for (const char* l_name : {"a/1.txt", "a/2.txt", "a/b/3.txt"})
        Write(l_name);
    Share("a", false);
    emit mp_server->Connected();
    EXPECT_EQ(Sent(35, 2).value(1).fields, WireFields().Int32(2).Int32(3).Bytes());
    EXPECT_EQ(Sent(36).size(), 2);
    EXPECT_EQ(Sent(36).value(1).fields, WireFields().Text("anna").Bytes());

    const auto l_stats = [](const char* i_user, qint32 i_speed) {
        return WireFields().Text(i_user).Int32(i_speed).Raw(Int64(7)).Int32(3).Int32(0).Bytes();
    };
    QSignalSpy l_received(mp_server.get(), &Server::ReceivedUserStats);
    m_fake.SendFrame(36, l_stats("anna", 4200));
    m_fake.SendFrame(36, l_stats("bob", 9));
    m_fake.SendFrame(36, l_stats("Anna", 9));
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_received.count() == 3; }, 5000));
    EXPECT_EQ(Setting("upload_speed"), "4200");
}

TEST_F(ShareLists, StoresWhatTheScannerThreadFindsForFilesStillShared)
{
    Mp3Stream l_stream;
    l_stream.Add(Mp3Stream::Frame{}, 300);
    QDir().mkpath(Path("Music"));
    QFile l_file(Path("Music/Real.mp3"));
    ASSERT_TRUE(l_file.open(QIODevice::WriteOnly));
    l_file.write(l_stream.Bytes());
    l_file.close();
    Share("Music");
    ItemPtr l_real = mp_shares->GetSharedFileItem(Path("Music/Real.mp3"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_real.IsConnected("is_scanned"); }, 10000));
    QStringList l_values;
    for (const char* l_type : {"mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode", "bitrate"})
        l_values << l_real[l_type].AsString();
    EXPECT_EQ(l_values.join('|'), "1|joint stereo|0|cbr|128");

    // A result for a file that left the shares meanwhile is only logged.
    const std::size_t l_bitrates = Count("bitrate");
    mp_shares->OnMP3Scanned(Path("Music/Gone.mp3"), 2, "mono", 1, true, 64);
    EXPECT_EQ(Count("bitrate"), l_bitrates);
    EXPECT_EQ(Count("channel_mode"), 1u);
    EXPECT_EQ(Logged("Scanned " + Path("Music/Gone.mp3")), 1);
}
