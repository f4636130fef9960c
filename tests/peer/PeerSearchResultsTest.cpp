#include "PeerLinkFixture.h"

namespace
{
class PeerSearchReplies : public PeerLinkFixture
{
protected:
    static ItemPtr Search(quint32 i_token, const QString& i_text)
    {
        ItemPtr l_request = d.GetType("search_request")->NewItem(Value(i_token));
        l_request += d.GetType("search_request_text")->GetItem(i_text);
        return l_request;
    }

    // Every result stored for the search: folder|name|size|bitrate|length|mode, sorted.
    static QStringList Results(ItemPtr i_request)
    {
        QStringList l_lines;
        for (ItemPtr l_result : i_request.GetItems("search_results").GetItems("search_result"))
            l_lines << Fields(l_result, {"search_result_file_folder", "search_result_file_name", "file_size", "bitrate",
                                         "length_seconds", "bitrate_mode"});
        l_lines.sort();
        return l_lines;
    }
};

const ShareFile Help{"music\\Beatles\\Help.mp3", 4000000, {{0, 320}, {1, 200}, {2, 0}}};
const ShareFile HelpMe{"music\\Beatles\\Help Me.flac", 5000000000LL, {{2, 1}, {7, 9}}};
const ShareFile Stones{"music\\Stones\\Help.mp3", 3, {}};
const ShareFile Absent{"", -1, {}};
} // namespace

TEST_F(PeerSearchReplies, MatchingFilesBecomeResultsOfTheirSearch)
{
    ItemPtr l_search = Search(7, "beatles help -live");
    ASSERT_TRUE(SendKeeps(Reply(7, {Absent, Help, Stones, Absent, HelpMe})));
    EXPECT_EQ(m_signals, QStringList("SearchResults|7|bob|yes|250|3"));
    // Absent records stand for nothing: no repeat of their neighbour, no nameless file.
    EXPECT_EQ(Results(l_search), (QStringList{"music\\Beatles|Help Me.flac|5000000000|||vbr",
                                              "music\\Beatles|Help.mp3|4000000|320|200|cbr"}));
    EXPECT_EQ(Logged("Filtered out search result music\\Stones\\Help.mp3 from user bob"), 1);
}

TEST_F(PeerSearchReplies, RepliesAsTheyArrive)
{
    Search(7, "help");
    Search(8, "help") += d.GetType("search_stopped")->GetGlobalNullItem();
    // Not a valid search text, yet what it excludes stays excluded.
    Search(9, "-live");
    for (quint32 l_token : {30u, 31u, 32u, 33u})
        Search(l_token, "help");
    ASSERT_TRUE(SendKeeps(Reply(7, {Help})));
    const WireFields l_start = WireFields().Text("bob").UInt32(7);
    const Frame l_frames[] = {
        {"no tail", Reply(30, {Help}, {}), true, "SearchResults|30|bob|no|0|0"},
        {"availability only", Reply(31, {Help}, WireFields().Byte(1)), true, "SearchResults|31|bob|yes|0|0"},
        {"no queue", Reply(32, {Help}, WireFields().Byte(1).Int32(80)), true, "SearchResults|32|bob|yes|80|0"},
        {"trailing fields", Reply(33, {Help}, WireFields().Byte(0).Int32(80).Int32(2).Int32(1).Int32(0)), true,
         "SearchResults|33|bob|no|80|2"},
        {"all files filtered out", Reply(7, {{"x\\Nothing.mp3", 1, {}}, Absent}), true, {}},
        {"a file an invalid text excludes", Reply(9, {{"x\\Live.mp3", 1, {}}}), true, {}},
        {"an unknown search", Reply(99, {HelpMe}), true, {}},
        {"a stopped search", Reply(8, {HelpMe}), true, {}},
        {"a file offered before", Reply(7, {Help}), true, {}},
        {"a decompression bomb", Bomb(9), true, {}},
        {"another user's name", Reply(7, {HelpMe}, {}, "carl"), false, {}},
        {"a body that is not compressed", Word(9) + l_start.Bytes() + Files({HelpMe}), false, {}},
        {"too many files", Word(9) + Deflated(WireFields(l_start).Int32(131073)), false, {}},
        {"a negative count of files", Word(9) + Deflated(WireFields(l_start).Int32(-1)), false, {}},
        {"a cut record", Word(9) + Deflated(l_start.Bytes() + Files({HelpMe}).chopped(3)), false, {}},
        {"no token", Word(9) + Deflated(WireFields().Text("bob")), false, {}},
    };
    for (const Frame& l_frame : l_frames)
        Run(l_frame);
    EXPECT_EQ(Count("search_results"), 5u);
    EXPECT_EQ(Logged("Filtered out search result x\\Nothing.mp3 from user bob"), 1);
    EXPECT_EQ(Logged("Filtered out search result x\\Live.mp3 from user bob"), 1);
    EXPECT_EQ(Logged("Message from user bob inflates past 67108864 bytes, dropping it"), 1);
}

TEST_F(PeerSearchReplies, AFileIsStoredOncePerUserAndSearchOrWishListText)
{
    ItemPtr l_search = Search(7, "beatles");
    // Within one reply the earlier files are not looked at.
    ASSERT_TRUE(SendKeeps(Reply(7, {Help, Help})));
    ASSERT_TRUE(SendKeeps(Reply(7, {Help, HelpMe})));
    // The same name in another folder is another file.
    ASSERT_TRUE(SendKeeps(Reply(7, {{"music\\Beatles\\1965\\Help.mp3", 4000000, {}}})));
    EXPECT_EQ(Results(l_search).filter("|Help.mp3|").size(), 3);
    EXPECT_EQ(Results(l_search).filter("|Help Me.flac|").size(), 1);
    // Another user's offer of the same file counts for itself.
    auto lp_carl = Accepted(false, "carl");
    lp_carl->SendFrame(Reply(7, {Help}, {}, "carl"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_signals.size() == 4; }, 5000));
    EXPECT_EQ(m_signals.last(), "SearchResults|7|carl|no|0|0");

    // Wish-list searches of one text share what they were offered; other searches do not.
    ItemPtr l_searches[] = {Search(20, "help"), Search(21, "help"), Search(22, "help")};
    for (int l_wish : {0, 1})
        l_searches[l_wish] += d.GetType("wishlist_search")->GetGlobalNullItem();
    for (quint32 l_token : {20u, 21u, 22u})
        ASSERT_TRUE(SendKeeps(Reply(l_token, {Help})));
    EXPECT_EQ(Results(l_searches[0]).size(), 1);
    EXPECT_TRUE(Results(l_searches[1]).isEmpty());
    EXPECT_EQ(Results(l_searches[2]).size(), 1);
}
