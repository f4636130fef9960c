#include <QElapsedTimer>

#include "SearchFixture.h"
#include "shell/EventToolBar.h"

using ResultRows = SearchFixture;

// A wish-list tab gathers the replies to every search of its text under the same user and
// folder rows, and raises its notice once.
TEST_F(ResultRows, RepliesBecomeUserFolderAndFileRowsSharedByTheSearchesOfATab)
{
    Open();
    Wish("help");
    Wish("off", false);
    Deliver(WishSearch("off"), {"bob"}, {{"x\\off.mp3"}});
    EXPECT_EQ(Wishes()->count(), 0);

    Deliver(WishSearch("help"), {"bob", true, 12800},
            {{"music\\Stones\\Help Yourself.mp3", 0},
             {"music\\Beatles\\Help.mp3", 4000000, 320, "cbr", 200},
             {"music\\Beatles\\Help Me.flac", 3000000000LL, 900, "vbr"}});
    ASSERT_EQ(Tabs(Wishes()), QStringList("help wishlist *"));
    QTreeWidget* lp_tree = Page(Wishes(), 0)->searchResults();
    Deliver(WishSearch("help"), {"bob", false, 0, 4}, {{"music\\Beatles\\Help Again.mp3", 5}});
    Deliver(WishSearch("help"), {"carl", false, 0, 7}, {{"c\\Help.ogg", 1234567}});
    EXPECT_EQ(Wishes()->count(), 1);
    EXPECT_EQ(VisibleActionTexts(eventToolBar), QStringList("help"));
    EXPECT_EQ(Rows(lp_tree), QStringList({"bob|Y|12.5",
                                          "  Beatles/music",
                                          "    Help Me.flac|3,000,000,000|900 VBR",
                                          "    Help.mp3|4,000,000|320 CBR, 3m20s",
                                          "    Help Again.mp3|5|",
                                          "  Stones/music",
                                          "    Help Yourself.mp3||",
                                          "carl|7|",
                                          "  c",
                                          "    Help.ogg|1,234,567|"}));

    // Looking at the tab clears its notice; closing it takes every row's node with its searches.
    FocusWidget(lp_tree);
    EXPECT_EQ(VisibleActionTexts(eventToolBar), QStringList());
    CloseTab(Wishes(), 0);
    EXPECT_EQ(Wishes()->count(), 0);
    for (const char* l_type : {"search_results_widget", "search_results_user_node", "search_results_folder_node",
                               "search_result_node"})
        EXPECT_EQ(Count(l_type), 0u) << l_type;
    // What is left is the search of the disabled entry, with its reply; the entry stays.
    for (const char* l_type : {"search_request", "search_results", "search_result"})
        EXPECT_EQ(Count(l_type), 1u) << l_type;
    EXPECT_TRUE(T("wish_list_item")->HasItem("help").IsConnected("wish_list_item_enabled"));
}

// Sorted a second after the first reply of a burst, once: free slots first, then the shortest
// queue, equal ones by speed, ties as they came.
TEST_F(ResultRows, RowsAreSortedOnceASecondAfterTheFirstReplyOfABurst)
{
    Open();
    QTreeWidget* lp_tree = NewTab("song")->searchResults();
    const quint32 l_token = Token(Page("song"));
    int l_sorts = 0;
    QObject::connect(lp_tree->model(), &QAbstractItemModel::layoutChanged, [&] { ++l_sorts; });
    QElapsedTimer l_clock;
    l_clock.start();
    const Replier l_repliers[] = {{"a", false, 102400, 5}, {"b", true, 10240}, {"c", false, 0, 0},
                                  {"d", true, 20480},      {"e", false, 102400, 5}, {"f", false, 204800, 5}};
    for (const Replier& l_replier : l_repliers)
        Deliver(l_token, l_replier, {{"x\\song.mp3"}});
    QStringList l_late;
    for (int l_user = 1; l_user <= 14; ++l_user)
    {
        l_late << QString("u%1").arg(l_user, 2, 10, QChar('0'));
        Deliver(l_token, {qPrintable(l_late.last()), false, 0, 9}, {{"x\\song.mp3"}});
    }
    EXPECT_EQ(TopTexts(lp_tree), QStringList({"a", "b", "c", "d", "e", "f"}) + l_late);
    EXPECT_EQ(l_sorts, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_sorts == 1; }, 5000));
    // The delay is a coarse timer's, which may end up to 5 % early.
    EXPECT_GE(l_clock.elapsed(), 950);
    EXPECT_EQ(TopTexts(lp_tree), QStringList({"d", "b", "c", "f", "a", "e"}) + l_late);

    // The next sort is the next reply's, a second after it: the burst left none pending.
    l_clock.restart();
    Deliver(l_token, {"g", true, 40960}, {{"x\\song.mp3"}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return l_sorts == 2; }, 5000));
    EXPECT_GE(l_clock.elapsed(), 950);
    EXPECT_EQ(TopTexts(lp_tree).mid(0, 3), QStringList({"g", "d", "b"}));
}

// Replies from three peers, one with a file of 21 GB, and the server's related searches: every
// free slot, queue, speed and size shows whole in its column, as pictured.
TEST_F(ResultRows, TheFiguresOfRepliesFromPeersShowWhole)
{
    Open();
    mp_window->resize(1000, 700);
    SearchResultsForm* lp_page = NewTab("lackluster container");
    NewTab("b&w photos");
    Manual()->setCurrentWidget(lp_page);
    QTreeWidget* lp_tree = lp_page->searchResults();
    const quint32 l_token = Token(lp_page);
    Peer("quill")->SendFrame(ReplyMessage(l_token, {"quill", false, 0, 12}, {{"incoming\\lackluster container.ogg", 4123456}}));
    Peer("marisol")->SendFrame(ReplyMessage(l_token, {"marisol", false, 48128, 3},
        {{"music\\Lackluster\\Container (2001)\\01 Container.mp3", 7340032, 320, "cbr", 252},
         {"music\\Lackluster\\Container (2001)\\02 Lackluster Dub.mp3", 9123456, 320, "cbr", 391},
         {"music\\Lackluster\\Live\\Container live.mp3", 5123456, 192, "cbr", 218}}));
    Peer("ozwald")->SendFrame(ReplyMessage(l_token, {"ozwald", true, 12800},
        {{"share\\electronic\\lackluster - container (complete sessions).flac", 21234567890LL, 987, "vbr", 227},
         {"share\\electronic\\lackluster - container.flac", 31234567, 1020, "vbr", 245}}));
    m_server.SendFrame(153, WireFields().Text("lackluster container").Int32(3).Text("container flac").Int32(9)
                                .Text("lackluster live").Int32(5).Text("lackluster").Int32(2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return TopTexts(lp_tree) == QStringList({"ozwald", "marisol", "quill"}); }, 10000))
        << TopTexts(lp_tree).join(',').toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lp_page->CorrelationsWidget()->isVisible(); }, 5000));
    QTreeWidgetItem* lp_chosen = lp_tree->findItems("01 Container.mp3", Qt::MatchExactly | Qt::MatchRecursive, 4).value(0);
    ASSERT_TRUE(lp_chosen);
    QTest::mouseClick(lp_tree->viewport(), Qt::LeftButton, {}, lp_tree->visualItemRect(lp_chosen).center());
    FocusWidgetAndParents(lp_tree);
    QCoreApplication::processEvents();
    Picture(mp_window.get(), "search-results.png");

    // What the list shows of a column, up to the viewport's edge, against the text and the
    // margins the style keeps around it.
    QHeaderView* lp_header = lp_tree->header();
    const int l_margins = 2 * (lp_tree->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, lp_tree) + 1);
    QStringList l_shown, l_cut;
    for (QTreeWidgetItemIterator l_row(lp_tree); *l_row; ++l_row)
        for (const int l_column : {1, 2, 5})
        {
            const QString l_text = (*l_row)->text(l_column);
            const int l_width = std::min(lp_header->sectionSize(l_column),
                                         lp_tree->viewport()->width() - lp_header->sectionViewportPosition(l_column));
            if (l_text.isEmpty())
                continue;
            l_shown << l_text;
            if (l_width < lp_tree->fontMetrics().horizontalAdvance(l_text) + l_margins)
                l_cut << QString("%1 in %2 wide").arg(l_text).arg(l_width);
        }
    EXPECT_EQ(l_shown, QStringList({"Y", "12.5", "21,234,567,890", "31,234,567", "3", "47.0", "7,340,032", "9,123,456",
                                    "5,123,456", "12", "4,123,456"}));
    EXPECT_EQ(l_cut, QStringList());
}
