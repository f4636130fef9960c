#include <QRandomGenerator>

#include "AnsweringFixture.h"

namespace
{
class SearchAnswering : public AnsweringFixture
{
protected:
    enum Via { FromServer, Direct, FromTree };

    // Bob's reply to the search, or nothing when it was not answered; a reply sent for an earlier
    // unanswered search would arrive first and be taken here.
    QByteArray Search(Via i_via, const QString& i_user, quint32 i_req, const QString& i_text)
    {
        const int l_processed = mp_processed->count();
        if (i_via == FromServer)
            m_fake.SendFrame(26, WireFields().Text(i_user).UInt32(i_req).Text(i_text));
        if (i_via == FromServer)
            EXPECT_TRUE(QTest::qWaitFor([&] { return mp_processed->count() > l_processed; }, 5000));
        else if (i_via == Direct)
            emit mp_server->DirectFileSearch(i_user, i_req, i_text);
        else
            emit mp_dnet->DNetSearchRequest(i_user, i_req, i_text);
        const bool l_answered = mp_processed->count() > l_processed && mp_processed->last().at(1).toBool();
        return l_answered ? NextReply() : QByteArray();
    }
};
} // namespace

TEST_F(SearchAnswering, AnswersFromTheIndexWithWhatTheSearcherMaySee)
{
    ShareTree({"Music/Wombat.MP3", "Music/wombat.ogg", "Music/Zebra Live.mp3", "Music/Zebra Studio.mp3", "Music/Live/Zebra Other.mp3",
               "Music/ab quokka.txt", "Private/kiwi.txt", "Private/Zebra Secret.txt"}, {"Music"}, "Private");
    mp_shares->OnMP3Scanned(Path("Music/Wombat.MP3"), 1, "stereo", 0, false, 192);
    const QString l_music = Remote("Music");
    const QString l_none = "no|0|0";
    const struct { const char* name; Via via; const char* user; const char* text; QStringList replyReadBack; } l_cases[] = {
        {"our own search", Direct, "anna", "zebra", {}},
        {"one two-letter word", Direct, "bob", "ab", {}},
        {"a two-letter word and a longer one", FromServer, "bob", "AB quokka", {l_music + "|ab quokka.txt|1||", l_none}},
        {"a required word not in the index", Direct, "bob", "zyzzyva *zebra", {}},
        {"partial tokens only", Direct, "bob", "*zebra", {}},
        {"a folder bob may not see", Direct, "bob", "kiwi", {}},
        {"excluded in the name in any case, never in the folder", FromServer, "bob", "zebra -LIVE",
         {l_music + "\\Live|Zebra Other.mp3|1||", l_music + "|Zebra Studio.mp3|1||", l_none}},
        {"partial inside a word in any case", FromTree, "bob", "zebra *STUD", {l_music + "|Zebra Studio.mp3|1||", l_none}},
        {"mp3 attributes, scanned or not", FromTree, "bob", "wombat",
         {l_music + "|Wombat.MP3|1|192|cbr", l_music + "|wombat.ogg|1||", l_none}},
    };
    quint32 l_req = 100;
    for (const auto& l_case : l_cases)
    {
        const QByteArray l_body = Search(l_case.via, l_case.user, ++l_req, l_case.text);
        EXPECT_EQ(l_body.isEmpty() ? QStringList() : ReadBack(l_req, l_body), l_case.replyReadBack) << l_case.name;
    }
    QStringList l_processed;
    for (const QList<QVariant>& l_signal : *mp_processed)
        l_processed << l_signal.at(0).toString() + "=" + QString::number(l_signal.at(1).toBool());
    EXPECT_EQ(l_processed.join(' '), "ab=0 AB quokka=1 zyzzyva *zebra=0 *zebra=0 kiwi=0 zebra -LIVE=1 zebra *STUD=1 wombat=1");

    // The last reply field by field, compressed at level 9.
    const QByteArray l_expected = WireFields().Text("anna").UInt32(l_req).UInt32(2).Raw(
        Record(l_music + "\\Wombat.MP3", "mp3", {0, 192, 2, 0}) + Record(l_music + "\\wombat.ogg")).Byte(0).UInt32(0).UInt32(0).UInt32(0);
    EXPECT_EQ(mp_bob->Bodies().last(), Word(9) + Deflated(l_expected));

    // In the user list bob sees the private folder; the queue's figures go out as installed.
    User("bob").NewItem("in_user_list");
    mp_shares->SetUploadPolicy({[] { return true; }, [] { return 4; }, {}});
    SetSetting("upload_speed", "250");
    EXPECT_EQ(ReadBack(200, Search(Direct, "bob", 200, "kiwi")), (QStringList{Remote("Private") + "|kiwi.txt|1||", "yes|250|4"}));
    EXPECT_TRUE(Logged("Sending search results to user bob for search string kiwi"));
}

TEST_F(SearchAnswering, SendsNoReplyAPeerWouldRefuse)
{
    ShareTree({}, {"big"});
    const ItemPtr l_folder = d.GetType("shared_file_folder")->HasItem(Value(Path("big")));
    const auto l_addFiles = [&](const char* i_word, int i_count, const auto& i_name) {
        for (int l_n = 0; l_n < i_count; ++l_n)
        {
            ItemPtr l_file = d.GetType("shared_file")->NewItem();
            for (ItemPtr l_item : {l_folder, d.GetType("shared_file_name")->GetItem(Value(i_name(l_n))),
                                   d.GetType("shared_file_size")->GetItem("1"), d.GetType("search_token")->GetItem(i_word)})
                l_file += l_item;
        }
    };
    // Names of random bytes do not compress: 81 of the longest a peer reads pass the frame limit.
    l_addFiles("huge", 81, [](int) {
        std::string l_name(131000, '\0');
        QRandomGenerator::global()->generate(l_name.begin(), l_name.end());
        return l_name;
    });
    l_addFiles("many", 131073, [](int i_n) { return "f" + std::to_string(i_n); });

    EXPECT_TRUE(Search(Direct, "bob", 1, "huge").isEmpty());
    EXPECT_EQ(Logged("Message 9 to user bob would be "), 1);
    // Readers take at most 131072 files; this reply is the next one bob gets.
    const QByteArray l_body = Search(Direct, "bob", 2, "many");
    QByteArray l_inflated;
    EXPECT_EQ(Inflater::Inflate(l_body.constData() + 4, l_body.size() - 4, l_inflated) == Inflater::Inflated &&
              l_inflated.mid(8, 8) == WireFields().UInt32(2).UInt32(131072).Bytes(), true);
}
