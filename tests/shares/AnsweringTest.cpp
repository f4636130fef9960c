#include <QRandomGenerator>

#include "SharesFixture.h"
#include "peer/PeerLinkFixture.h"
#include "shares/DNetManager.h"
#include "shares/SharedFolderInfo.h"
#include "support/support/ByteNamedTree.h"
#include "support/support/FileNameEncoding.h"
#include "support/support/Mp3Stream.h"
#include "support/support/QtPrinters.h"

namespace
{
// The engines in start-up order, logged in as anna, a tree on disk to share, bob connected over "P".
class Answering : public PeerLinkFixture, protected ShareDisk
{
protected:
    enum Via { FromServer, Direct, FromTree };

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

    QString Remote(const QString& i_relative) const { return Path(i_relative).replace('/', '\\'); }

    // One-byte files; the folders named are shared with everyone, the private one with the user list.
    void ShareTree(const QStringList& i_files, const QStringList& i_public, const QString& i_private = "")
    {
        for (const QString& l_name : i_files)
            Write(l_name);
        for (const QString& l_folder : i_public + QStringList(i_private))
            if (!l_folder.isEmpty())
                mp_shares->AddSharedFolder(Path(l_folder)) +=
                    d.GetType(l_folder == i_private ? "shared_userlist" : "shared_public")->GetGlobalNullItem();
    }

    // The next body bob receives, or nothing.
    QByteArray NextReply() { return mp_bob->WaitForBodies(m_replies + 1) ? mp_bob->Bodies().at(m_replies++) : QByteArray(); }
    QByteArray Ask(const QByteArray& i_request) { return mp_bob->SendFrame(i_request), NextReply(); }

    // Bob's reply, or nothing; a reply to an earlier search thought unanswered would be taken here.
    QByteArray Search(Via i_via, const QString& i_user, quint32 i_req, const QString& i_text)
    {
        const int l_processed = mp_processed->count();
        if (i_via == FromServer)
        {
            m_fake.SendFrame(26, WireFields().Text(i_user).UInt32(i_req).Text(i_text));
            EXPECT_TRUE(QTest::qWaitFor([&] { return mp_processed->count() > l_processed; }, 5000));
        }
        else if (i_via == Direct)
            emit mp_server->DirectFileSearch(i_user, i_req, i_text);
        else
            emit mp_dnet->DNetSearchRequest(i_user, i_req, i_text);
        const bool l_answered = mp_processed->count() > l_processed && mp_processed->last().at(1).toBool();
        return l_answered ? NextReply() : QByteArray();
    }

    // A file record as the field table has it, one byte long, independently of FileInfo::Write.
    static QByteArray Record(const QString& i_name, const QString& i_extension = "", const QList<quint32>& i_attributes = {})
    {
        WireFields l_record;
        l_record.Byte(1).Text(i_name).Raw(Int64(1)).Text(i_extension).UInt32(i_attributes.size() / 2);
        for (quint32 l_value : i_attributes)
            l_record.UInt32(l_value);
        return l_record;
    }

    // A shared file of one byte in the store alone, in the folder scanned from that path.
    ItemPtr StoreFile(const QString& i_folder, const Value& i_name) const
    {
        ItemPtr l_file = d.GetType("shared_file")->NewItem();
        for (ItemPtr l_item : {d.GetType("shared_file_folder")->HasItem(Value(Path(i_folder))), d.GetType("shared_file_name")->GetItem(i_name),
                               d.GetType("shared_file_size")->GetItem("1")})
            l_file += l_item;
        return l_file;
    }

    // Our search reply: records in path order, free slot, speed and queue, no attribute table.
    static QByteArray Reply(quint32 i_req, const QList<QByteArray>& i_records, const QByteArray& i_figures = WireFields().Byte(0).UInt32(0).UInt32(0))
    {
        return Word(9) + Deflated(WireFields().Text("anna").UInt32(i_req).UInt32(i_records.size()).Raw(i_records.join()).Raw(i_figures).UInt32(0));
    }

    // A compressed message's body after its code, to be read.
    static MemStream Inflated(const QByteArray& i_message)
    {
        QByteArray l_body;
        EXPECT_EQ(Inflater::Inflate(i_message.constData() + 4, i_message.size() - 4, l_body), Inflater::Inflated);
        MemStream l_stream;
        l_stream.WriteBuffer(l_body.constData(), static_cast<unsigned long>(l_body.size()));
        return l_stream;
    }

    // The share list bob is sent, as paths below a folder, which ends each of its own with "\\".
    QStringList ListedBelow(const QString& i_folder)
    {
        MemStream l_body = Inflated(Ask(Word(4)));
        FileInfoMap l_folders;
        EXPECT_TRUE(l_body.Read(l_folders));
        QStringList l_listed;
        for (const auto& [l_path, l_files] : l_folders)
        {
            const QString l_below = QString::fromStdString(l_path).mid(Remote(i_folder).size()) + "\\";
            l_listed << l_below;
            for (const FileInfo& l_file : l_files)
                l_listed << l_below + QString::fromStdString(l_file.name);
        }
        l_listed.sort();
        return l_listed;
    }

    // The paths below a folder of the files a search finds for bob.
    QStringList FoundBelow(const QString& i_folder, quint32 i_req, const QString& i_text)
    {
        const QByteArray l_reply = Search(Direct, "bob", i_req, i_text);
        if (l_reply.isEmpty())
            return {};
        MemStream l_body = Inflated(l_reply);
        std::string l_user;
        quint32 l_req = 0;
        std::vector<FileInfo> l_files;
        EXPECT_TRUE(l_body.Read(l_user) && l_body.Read(l_req) && l_body.Read(l_files));
        QStringList l_found;
        for (const FileInfo& l_file : l_files)
            l_found << QString::fromStdString(l_file.name).mid(Remote(i_folder).size());
        l_found.sort();
        return l_found;
    }

    std::unique_ptr<DNetManager> mp_dnet;
    std::unique_ptr<SharedFoldersManager> mp_shares;
    std::unique_ptr<QSignalSpy> mp_processed;
    int m_replies = 0;
};
} // namespace

TEST_F(Answering, SearchesFromTheIndexWithWhatTheSearcherMaySee)
{
    ShareTree({"Music/Wombat.MP3", "Music/wombat.ogg", "Music/Zebra Live.mp3", "Music/Zebra Studio.mp3", "Music/Live/Zebra Other.mp3",
               "Music/ab quokka.txt", "Private/kiwi.txt", "Private/Zebra Secret.txt"}, {"Music"}, "Private");
    mp_shares->OnMP3Scanned(Path("Music/Wombat.MP3"), 1, "stereo", 0, false, 192);
    const QString l_music = Remote("Music") + "\\";
    const struct { const char* name; Via via; const char* user; const char* text; QList<QByteArray> records; } l_cases[] = {
        {"our own search", Direct, "anna", "zebra", {}},
        {"one two-letter word", Direct, "bob", "ab", {}},
        {"a two-letter word and a longer one", FromServer, "bob", "AB quokka", {Record(l_music + "ab quokka.txt")}},
        {"a required word not in the index", Direct, "bob", "zyzzyva *zebra", {}},
        {"partial tokens only", Direct, "bob", "*zebra", {}},
        {"a folder bob may not see", Direct, "bob", "kiwi", {}},
        {"excluded in the name in any case, never in the folder", FromServer, "bob", "zebra -LIVE",
         {Record(l_music + "Live\\Zebra Other.mp3", "mp3"), Record(l_music + "Zebra Studio.mp3", "mp3")}},
        {"partial inside a word in any case", FromTree, "bob", "zebra *STUD", {Record(l_music + "Zebra Studio.mp3", "mp3")}},
        {"mp3 attributes, scanned or not", FromTree, "bob", "wombat",
         {Record(l_music + "Wombat.MP3", "mp3", {0, 192, 2, 0}), Record(l_music + "wombat.ogg")}},
    };
    quint32 l_req = 100;
    for (const auto& l_case : l_cases)
    {
        const QByteArray l_body = Search(l_case.via, l_case.user, ++l_req, l_case.text);
        EXPECT_EQ(l_body, l_case.records.isEmpty() ? QByteArray() : Reply(l_req, l_case.records)) << l_case.name;
    }
    QStringList l_processed;
    for (const QList<QVariant>& l_signal : *mp_processed)
        l_processed << l_signal.at(0).toString() + "=" + QString::number(l_signal.at(1).toBool());
    EXPECT_EQ(l_processed.join(' '), "ab=0 AB quokka=1 zyzzyva *zebra=0 *zebra=0 kiwi=0 zebra -LIVE=1 zebra *STUD=1 wombat=1");
    // In the user list bob sees the private folder; the queue's figures go out as installed.
    User("bob").NewItem("in_user_list");
    mp_shares->SetUploadPolicy({[] { return true; }, [] { return 4; }, {}});
    SetSetting("upload_speed", "250");
    EXPECT_EQ(Search(Direct, "bob", 200, "kiwi"), Reply(200, {Record(Remote("Private/kiwi.txt"))}, WireFields().Byte(1).UInt32(250).UInt32(4)));
    EXPECT_TRUE(Logged("Sending search results to user bob for search string kiwi"));
}

TEST_F(Answering, SendsNoSearchReplyAPeerWouldRefuse)
{
    QDir().mkpath(Path("big/sub"));
    ShareTree({}, {"big"});
    // Names of random bytes do not compress: 81 of the longest a peer reads pass the frame limit.
    std::string l_name(131000, '\0');
    for (int l_n = 0; l_n < 81; ++l_n)
    {
        QRandomGenerator::global()->generate(l_name.begin(), l_name.end());
        StoreFile("big", l_name) += d.GetType("search_token")->GetItem("huge");
    }
    // Two folders share each name, which halves the names the store has to make.
    for (int l_n = 0; l_n < 131073; ++l_n)
        StoreFile(l_n % 2 ? "big/sub" : "big", "f" + std::to_string(l_n / 2)) += d.GetType("search_token")->GetItem("many");
    EXPECT_TRUE(Search(Direct, "bob", 1, "huge").isEmpty());
    EXPECT_EQ(Logged("Message 9 to user bob would be "), 1);
    // Readers take at most 131072 files; this reply is the next one bob gets.
    const QByteArray l_body = Search(Direct, "bob", 2, "many");
    QByteArray l_inflated;
    ASSERT_EQ(Inflater::Inflate(l_body.constData() + 4, l_body.size() - 4, l_inflated), Inflater::Inflated);
    EXPECT_EQ(l_inflated.mid(8, 8), WireFields().UInt32(2).UInt32(131072).Bytes());
}

TEST_F(Answering, ListsAndFolderContentsHoldTheVisibleFoldersOnly)
{
    QDir().mkpath(Path("Music/Empty"));
    ShareTree({"Music/Wombat.MP3", "Private/kiwi.txt"}, {"Music"}, "Private");
    mp_shares->OnMP3Scanned(Path("Music/Wombat.MP3"), 1, "stereo", 0, false, 192);
    // A second file of the same name and size in the same folder is the same record.
    StoreFile("Music", "Wombat.MP3");
    const QString l_music = Remote("Music");
    const QByteArray l_list = WireFields().UInt32(2).Text(l_music).UInt32(1).Raw(Record("Wombat.MP3", "mp3", {0, 192, 2, 0}))
                                  .Text(l_music + "\\Empty").UInt32(0).UInt32(0);
    EXPECT_EQ(Ask(Word(4)), Word(5) + Deflated(l_list));
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

TEST_F(Answering, SharedFolderInfoRefusesWhatIsCut)
{
    const QByteArray l_record = Record("a.mp3"), l_two = WireFields().UInt32(2).Raw(l_record).Raw(Record("b.mp3")).UInt32(0);
    const struct { const char* name; QByteArray bytes; bool read; std::size_t files; } l_cases[] = {
        {"no end mark", QByteArray(4, '\0'), false, 0},
        {"two records", l_two, true, 2},
        {"a cut record", l_two.chopped(6), false, 1},
        {"past the readers' limit", WireFields().UInt32(131073).Raw(l_record), false, 0},
    };
    for (const auto& l_case : l_cases)
    {
        MemStream l_stream;
        l_stream.WriteBuffer(l_case.bytes.constData(), static_cast<unsigned long>(l_case.bytes.size()));
        SharedFolderInfo l_read;
        l_read.files = {FileInfo()};
        EXPECT_EQ(l_read.Read(l_stream), l_case.read) << l_case.name;
        EXPECT_EQ(l_read.files.size(), l_case.files) << l_case.name;
    }
}

TEST_F(Answering, ReportsToTheServerAndStoresTheScannerThreadsFindings)
{
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
    EXPECT_EQ(Fields(l_real, {"mpeg_version", "channel_mode", "audio_frequency"}) + "|" + mp_shares->GetFileItemDisplayString(l_real),
              "1|joint stereo|0|128 CBR");
    // A result for a file that left the shares meanwhile is only logged.
    mp_shares->OnMP3Scanned(Path("a/Gone.mp3"), 2, "mono", 1, true, 64);
    EXPECT_EQ(Count("bitrate") + Count("channel_mode"), 2u);
    EXPECT_EQ(Logged("Scanned " + Path("a/Gone.mp3")), 1);
}

// Paths on the wire take a backslash for a separator, and a name is asked for by its text: a name
// holding a backslash, or whose bytes its text does not give back, could never be fetched. Such
// names, and all below such a folder, are neither listed, found, counted nor reachable; every
// other name is shared as it is.
TEST_F(Answering, NamesAPeerCouldNotAskForAreNeitherListedFoundNorCounted)
{
    FileNameEncoding l_utf8("UTF-8");
    const QStringList l_ordinary = {"with space.txt", "trailing dot.", "&amp;.txt", "\U0001F3B5 tune.txt", "new\nline.txt",
                                    QString(251, 'n') + ".txt", ":?*\"<>|.txt", "\u00e9t\u00e9.txt", "Sub Folder/inner.txt"};
    // The bytes below the shared folder, and what each scan logs of them after "Skipping ".
    const std::pair<QByteArray, QString> l_leftOut[] = {
        {"back\\slash.txt", "file %1/back\\\\slash.txt, a backslash in its name"},
        {"a\\b/inside.txt", "folder %1/a\\\\b, a backslash in its name"},
        {"a\\b/deeper/more.txt", ""},
        {"caf\xe9.txt", "file %1/caf\\xe9.txt, a name not in the file system's encoding"},
        {"d\xe9j\xe0/inside.txt", "folder %1/d\\xe9j\\xe0, a name not in the file system's encoding"},
        {"d\xe9j\xe0/two\\parts.txt", ""},
        {"mixed \xc3\xa9\xff.txt", "file %1/mixed \u00e9\\xff.txt, a name not in the file system's encoding"},
        // Walked twice a scan, below both shared folders.
        {"Sub Folder/x\\y.txt", "file %1/Sub Folder/x\\\\y.txt, a backslash in its name"},
    };
    ASSERT_FALSE(FileNameEncoding::Decodes("caf\xe9")) << "the bytes must be no text of the file names' encoding";
    const ByteNamedTree l_pool(Path("Pool"));
    ASSERT_TRUE(QDir().mkpath(Path("Pool/Sub Folder")));
    ShareTree({}, {"Pool", "Pool/Sub Folder"});
    for (const QString& l_name : l_ordinary)
        Write("Pool/" + l_name);
    for (const auto& [l_bytes, l_told] : l_leftOut)
        ASSERT_TRUE(l_pool.Write(l_bytes, "x")) << l_bytes.toHex().constData();
    // What the scans say they skipped, each line from its "Skipping ".
    const auto l_skipped = [&] {
        QStringList l_lines = m_lines.filter("Skipping ");
        for (QString& l_line : l_lines)
            l_line.remove(0, l_line.indexOf("Skipping "));
        l_lines.sort();
        return l_lines;
    };

    QSignalSpy l_rescanned(mp_shares.get(), &SharedFoldersManager::SharedFilesRescanned);
    for (const int l_added : {l_ordinary.size(), 0})
    {
        m_lines.clear();
        mp_shares->RescanShares();
        EXPECT_EQ(l_rescanned.takeLast(), QList<QVariant>({l_added, 0}));
        QStringList l_expected;
        for (const auto& [l_bytes, l_told] : l_leftOut)
            if (!l_told.isEmpty())
                l_expected << "Skipping " + l_told.arg(Path("Pool"));
        l_expected.sort();
        EXPECT_EQ(l_skipped(), l_expected) << "each once a scan";
    }
    emit mp_server->Connected();
    EXPECT_EQ(Sent(35, 2).value(1).fields, WireFields().Int32(2).Int32(l_ordinary.size()).Bytes()) << "folders and files";

    QStringList l_expected{"\\", "\\Sub Folder\\"};
    for (const QString& l_name : l_ordinary)
        l_expected << "\\" + QString(l_name).replace('/', '\\');
    l_expected.sort();
    EXPECT_EQ(ListedBelow("Pool"), l_expected);
    l_expected.removeAll("\\"), l_expected.removeAll("\\Sub Folder\\");
    // Words that only the left-out names hold find nothing; the folder's own word finds every file.
    const std::pair<const char*, QStringList> l_searches[] = {
        {"pool", l_expected}, {"slash", {}}, {"inside", {}}, {"deeper", {}}, {"caf", {}}, {"mixed", {}}, {"parts", {}}, {"sub folder", {"\\Sub Folder\\inner.txt"}}};
    quint32 l_req = 0;
    for (const auto& [l_text, l_found] : l_searches)
        EXPECT_EQ(FoundBelow("Pool", ++l_req, l_text), l_found) << l_text;

    // Read as Latin-1, whose every byte is a character, every name is text: only backslashes keep a
    // name out.
    FileNameEncoding l_latin1("ISO-8859-1");
    ASSERT_TRUE(FileNameEncoding::Decodes("caf\xe9"));
    m_lines.clear();
    mp_shares->RescanShares();
    QStringList l_backslashes;
    for (const auto& [l_kind, l_name] : {std::pair{"file", "back\\\\slash.txt"}, {"folder", "a\\\\b"}, {"file", "Sub Folder/x\\\\y.txt"},
                                         {"file", "d\u00e9j\u00e0/two\\\\parts.txt"}})
        l_backslashes << QString("Skipping %1 %2/%3, a backslash in its name").arg(l_kind, Path("Pool"), l_name);
    l_backslashes.sort();
    EXPECT_EQ(l_skipped(), l_backslashes);
    const QStringList l_listed = ListedBelow("Pool");
    for (const char* l_name : {"\\caf\u00e9.txt", "\\d\u00e9j\u00e0\\inside.txt", "\\mixed \u00c3\u00a9\u00ff.txt"})
        EXPECT_TRUE(l_listed.contains(l_name)) << l_name;
}
