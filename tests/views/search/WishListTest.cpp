#include "SearchFixture.h"

namespace
{
class WishList : public SearchFixture
{
protected:
    static QTreeWidget* List() { return Child<QTreeWidget>(searchForm, "wishList"); }
    static QCheckBox* Box(int i_row) { return qobject_cast<QCheckBox*>(List()->itemWidget(List()->topLevelItem(i_row), 0)); }
    static QTreeWidgetItem* RowOf(const QString& i_text)
    {
        const QList<QTreeWidgetItem*> l_rows = List()->findItems(i_text, Qt::MatchExactly, 1);
        return l_rows.isEmpty() ? nullptr : l_rows.first();
    }
    // Each row as "text [x]" or "text [ ]" (its box), "Y" after it when the cell under the box says
    // so, sorted; then each entry as "entry" with "+" when enabled and "/filter" for its filter text.
    static QStringList State()
    {
        QStringList l_state;
        for (int l_row = 0; l_row < List()->topLevelItemCount(); ++l_row)
        {
            QTreeWidgetItem* lp_row = List()->topLevelItem(l_row);
            l_state << lp_row->text(1) + (Box(l_row)->isChecked() ? " [x]" : " [ ]") + lp_row->text(0);
        }
        // Rows of equal texts stand in no particular order.
        l_state.sort();
        for (const auto& l_entry : T("wish_list_item")->ItemsByValue())
        {
            ItemPtr l_item(l_entry.second);
            ItemPtr l_filter = l_item["wish_list_item_filter_text"];
            l_state << "entry " + l_item.AsString() + (l_item.IsConnected("wish_list_item_enabled") ? "+" : "") +
                           (l_filter ? "/" + l_filter.AsString() : "");
        }
        return l_state;
    }
    static bool Linked(const QStringList& i_links, const QString& i_a, const QString& i_b)
    {
        return i_links.contains(i_a + "~" + i_b) || i_links.contains(i_b + "~" + i_a);
    }
    void Store(const char* i_text, bool i_enabled, const char* i_filter = nullptr)
    {
        if (i_enabled)
            m_store.Link("wish_list_item", i_text, "wish_list_item_enabled", QString());
        if (i_filter)
            m_store.Link("wish_list_item", i_text, "wish_list_item_filter_text", i_filter);
    }
};
} // namespace

// The list shows the stored entries with their state, and what the boxes change is stored.
TEST_F(WishList, StoredEntriesAreListedTickedAndTheirTicksAreSaved)
{
    Store("zebra", true);
    Store("apple", false, "flac");
    Store("mango", true, "");
    Open();
    EXPECT_EQ(State(), QStringList({"apple [ ]", "mango [x]Y", "zebra [x]Y", "entry apple/flac", "entry mango+/",
                                    "entry zebra+"}));
    Box(0)->click();
    Box(2)->click();
    EXPECT_EQ(State(), QStringList({"apple [x]Y", "mango [x]Y", "zebra [ ]", "entry apple+/flac", "entry mango+/",
                                    "entry zebra"}));
    ClickAction(List(), "Enable All Wish List Searches");
    EXPECT_EQ(State().mid(3), QStringList({"entry apple+/flac", "entry mango+/", "entry zebra+"}));
    ClickAction(List(), "Disable All Wish List Searches");
    EXPECT_EQ(State(), QStringList({"apple [ ]", "mango [ ]", "zebra [ ]", "entry apple/flac", "entry mango/",
                                    "entry zebra"}));
    Box(1)->click();

    mp_window.reset();
    const QStringList l_links = StoreFile::Links(StoreBytes());
    EXPECT_TRUE(Linked(l_links, "wish_list_item=mango", "wish_list_item_enabled"));
    EXPECT_FALSE(Linked(l_links, "wish_list_item=apple", "wish_list_item_enabled"));
    EXPECT_FALSE(Linked(l_links, "wish_list_item=zebra", "wish_list_item_enabled"));
    EXPECT_TRUE(Linked(l_links, "wish_list_item=apple", "wish_list_item_filter_text=flac"));
}

// An edited row stands for an entry of its new text; a padded text keeps its entry, a duplicate
// or blank one loses its row.
TEST_F(WishList, EditsReplaceRemoveAndKeepEntriesAsTheirRowsSay)
{
    Store("abc", true, "flac");
    Store("def", false, "x");
    Store("ghi", true);
    Store("mno", false, "y");
    Open();
    // abc has a tab, whose later results it must keep gathering.
    Deliver(gp_server->FileSearch("abc", true), {"bob"}, {{"m\\abc.mp3"}});
    ASSERT_EQ(Wishes()->count(), 1);
    const auto l_edit = [](const char* i_row, const char* i_text) { return [=] { RowOf(i_row)->setText(1, i_text); }; };
    const struct
    {
        std::function<void()> act;
        QStringList now, later;
    } l_steps[] = {
        {l_edit("def", "xyz"),
         {"abc [x]Y", "ghi [x]Y", "mno [ ]", "xyz [ ]", "entry abc+/flac", "entry ghi+", "entry mno/y", "entry xyz"}, {}},
        {l_edit("ghi", "jkl"),
         {"abc [x]Y", "jkl [x]Y", "mno [ ]", "xyz [ ]", "entry abc+/flac", "entry jkl+", "entry mno/y", "entry xyz"}, {}},
        {l_edit("xyz", "abc"),
         {"abc [ ]", "abc [x]Y", "jkl [x]Y", "mno [ ]", "entry abc+/flac", "entry jkl+", "entry mno/y"},
         {"abc [x]Y", "jkl [x]Y", "mno [ ]", "entry abc+/flac", "entry jkl+", "entry mno/y"}},
        {l_edit("jkl", "   "),
         {"    [x]Y", "abc [x]Y", "mno [ ]", "entry abc+/flac", "entry mno/y"},
         {"abc [x]Y", "mno [ ]", "entry abc+/flac", "entry mno/y"}},
        {l_edit("abc", "  abc "), {"  abc  [x]Y", "mno [ ]", "entry abc+/flac", "entry mno/y"}, {}},
        {l_edit("mno", "pqr"), {"  abc  [x]Y", "pqr [ ]", "entry abc+/flac", "entry pqr"}, {}},
        {l_edit("pqr", "stu"), {"  abc  [x]Y", "stu [ ]", "entry abc+/flac", "entry stu"}, {}},
    };
    for (const auto& l_step : l_steps)
    {
        l_step.act();
        EXPECT_EQ(State(), l_step.now) << "step " << &l_step - l_steps;
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(State(), l_step.later.isEmpty() ? l_step.now : l_step.later) << "step " << &l_step - l_steps;
    }
    EXPECT_EQ(Count("wish_list_node"), 2u);
    EXPECT_EQ(Count("wish_list_node_checkbox"), 2u);

    // The padded entry is the one it was: its tab still gathers its results, and its filter text
    // follows what is typed in that tab. A disabled entry's results open nothing.
    Deliver(gp_server->FileSearch("abc", true), {"carl"}, {{"m\\abc 2.mp3"}});
    Deliver(gp_server->FileSearch("stu", true), {"carl"}, {{"m\\stu.mp3"}});
    ASSERT_EQ(Wishes()->count(), 1);
    EXPECT_EQ(Page(Wishes(), 0)->searchResults()->topLevelItemCount(), 2);
    Page(Wishes(), 0)->filterEdit()->setText("mp3");
    EXPECT_EQ(State().mid(2), QStringList({"entry abc+/mp3", "entry stu"}));
}

// Removing from the context menu removes the entry, and the entry its row; empty space has no menu.
TEST_F(WishList, TheContextMenuRemovesTheSelectedEntries)
{
    Store("abc", true);
    Store("def", false, "x");
    Open();
    FocusWidget(List());
    const QPoint l_empty = List()->viewport()->rect().bottomLeft() - QPoint(-2, 2);
    searchForm->OnWishListContextMenuRequested(l_empty);
    EXPECT_EQ(m_menus, QStringList());
    // A click on the second row alone: as it took the focus, the list selected its first.
    List()->setCurrentItem(List()->topLevelItem(1));
    searchForm->OnWishListContextMenuRequested(List()->visualItemRect(List()->topLevelItem(1)).center());
    EXPECT_EQ(m_menus, QStringList("Remove Wish List Search"));
    EXPECT_EQ(State(), QStringList({"abc [x]Y", "entry abc+"}));
    EXPECT_EQ(Count("wish_list_node"), 1u);
}
