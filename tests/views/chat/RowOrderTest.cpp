#include <QTreeWidget>

#include "RoomFixture.h"
#include "views/chat/QRoomListItemWidget.h"
#include "views/chat/QRoomUserListItemWidget.h"

namespace
{
class RowOrderTest : public RoomViewFixture
{
protected:
    QStringList Sorted(int i_column, Qt::SortOrder i_order, int i_nameColumn)
    {
        m_list.setColumnCount(6);
        m_list.sortItems(i_column, i_order);
        QStringList l_names;
        for (int l_row = 0; l_row < m_list.topLevelItemCount(); ++l_row)
            l_names << m_list.topLevelItem(l_row)->text(i_nameColumn);
        return l_names;
    }
    QTreeWidget m_list;
};
} // namespace

TEST_F(RowOrderTest, RoomUsersSortByStoredFiguresLargestFirstAndByTextsWithoutCase)
{
    // Name, files, speed, country, note. The cells show texts that would sort otherwise.
    const std::tuple<const char*, const char*, const char*, const char*, bool> l_users[] = {
        {"alice", "1234", "2048", "fr", true}, {"Bob", "999", "1024", "DE", false},
        {"cy", "0", "0", "", false}, {"dee", "5", "512", "at", false}};
    for (const auto& [l_name, l_files, l_speed, l_country, l_note] : l_users)
    {
        for (const auto& [l_type, l_value] :
             {std::pair("shared_files_count", l_files), std::pair("average_download_speed", l_speed),
              std::pair("country_code", l_country), std::pair("user_note", l_note ? "a note" : "")})
            if (*l_value)
                Node("user", l_name) += Node(l_type, l_value);
        auto* lp_row = new QRoomUserListItemWidget(&m_list);
        for (const auto& [l_column, l_text] : {std::pair(2, l_name), std::pair(4, l_files), std::pair(5, l_speed)})
            lp_row->setText(l_column, l_text);
    }
    const std::tuple<int, Qt::SortOrder, QStringList> l_cases[] = {
        {4, Qt::AscendingOrder, {"alice", "Bob", "dee", "cy"}}, {4, Qt::DescendingOrder, {"cy", "dee", "Bob", "alice"}},
        {5, Qt::AscendingOrder, {"alice", "Bob", "dee", "cy"}}, {1, Qt::AscendingOrder, {"cy", "dee", "Bob", "alice"}},
        {2, Qt::AscendingOrder, {"alice", "Bob", "cy", "dee"}}, {0, Qt::DescendingOrder, {"dee", "cy", "Bob", "alice"}}};
    for (const auto& [l_column, l_order, l_expected] : l_cases)
        EXPECT_EQ(Sorted(l_column, l_order, 2), l_expected) << l_column;
    EXPECT_EQ(Sorted(3, Qt::AscendingOrder, 2).first(), "alice");

    // Names in other letter case compare equal both ways.
    m_list.sortItems(2, Qt::AscendingOrder);
    QRoomUserListItemWidget l_lower(&m_list);
    l_lower.setText(2, "bob");
    const QTreeWidgetItem& l_bob = *m_list.findItems("Bob", Qt::MatchExactly, 2).first();
    EXPECT_FALSE(l_lower < l_bob || l_bob < l_lower);
    EXPECT_FALSE(d.GetType("user")->HasItem("bob")) << "sorting creates no user";
}

TEST_F(RowOrderTest, RoomsSortOwnedOperatedAndMemberFirstThenByNameAndCountsAsNumbers)
{
    const std::tuple<const char*, const char*, QString> l_rooms[] = {
        {"zoo", "12", "is_owner"}, {"abc", "", "is_operator is_member"}, {"aaa", "7", "is_member"},
        {"aa", "3", ""}, {"Music", "2", ""}, {"movies", "1", ""},
        {"yak", "100", "is_owner is_operator"}, {"xen", "20", "is_owner is_member"}};
    for (const auto& [l_name, l_count, l_flags] : l_rooms)
    {
        for (const QString& l_flag : l_flags.split(' ', Qt::SkipEmptyParts))
            Node("room", l_name).NewItem(l_flag.toUtf8());
        auto* lp_row = new QRoomListItemWidget(&m_list);
        lp_row->setText(0, l_name);
        lp_row->setText(1, l_count);
    }
    EXPECT_EQ(Sorted(0, Qt::AscendingOrder, 0),
              (QStringList{"yak", "xen", "zoo", "abc", "aaa", "aa", "movies", "Music"}));
    EXPECT_EQ(Sorted(0, Qt::DescendingOrder, 0),
              (QStringList{"Music", "movies", "aa", "aaa", "abc", "zoo", "xen", "yak"}));
    EXPECT_EQ(Sorted(1, Qt::AscendingOrder, 0),
              (QStringList{"abc", "movies", "Music", "aa", "aaa", "zoo", "xen", "yak"}));
}
