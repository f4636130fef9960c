#include "SearchFixture.h"
#include "shares/SharedFoldersManager.h"
#include "views/search/ReceivedSearchesForm.h"

using ReceivedSearches = SearchFixture;

// Other users' searches as the shares engine reports them: newest on top, the last 500, "Match"
// in dark green where we answered; none of those that come while the list is paused.
TEST_F(ReceivedSearches, KeepTheNewestFiveHundredAndNoneWhilePaused)
{
    Open();
    auto* lp_page = Child<ReceivedSearchesForm>(searchForm, "tab");
    ASSERT_EQ(lp_page, receivedSearchesForm);
    auto* lp_list = Child<QTreeWidget>(lp_page, "searchList");
    const auto l_rows = [lp_list](int i_first, int i_count) {
        QStringList l_rows;
        for (int l_row = i_first; l_row < i_first + i_count && l_row < lp_list->topLevelItemCount(); ++l_row)
        {
            const QTreeWidgetItem* lp_row = lp_list->topLevelItem(l_row);
            l_rows << lp_row->text(0) + "|" + lp_row->text(1) +
                          (lp_row->text(1).isEmpty() ? "" : " " + lp_row->foreground(1).color().name());
        }
        return l_rows;
    };
    for (int l_search = 1; l_search <= 501; ++l_search)
        emit sharedFoldersManager->SearchProcessed(QString("search %1").arg(l_search), l_search % 2 == 0);
    EXPECT_EQ(lp_list->topLevelItemCount(), 500);
    EXPECT_EQ(l_rows(0, 2), QStringList({"search 501|", "search 500|Match #005500"}));
    EXPECT_EQ(l_rows(499, 1), QStringList("search 2|Match #005500"));

    EXPECT_EQ(ToolbarTexts(lp_list), QStringList("Pause"));
    ClickAction(lp_list, "Pause");
    EXPECT_EQ(ToolbarTexts(lp_list), QStringList("Resume"));
    emit sharedFoldersManager->SearchProcessed("while paused", true);
    ClickAction(lp_list, "Resume");
    EXPECT_EQ(ToolbarTexts(lp_list), QStringList("Pause"));
    emit sharedFoldersManager->SearchProcessed("after", false);
    EXPECT_EQ(l_rows(0, 2), QStringList({"after|", "search 501|"}));
    EXPECT_EQ(lp_list->topLevelItemCount(), 500);
}
