#include "UsersFixture.h"
#include "views/chat/AddUserDialog.h"
#include "views/chat/UserGroupConfigDialog.h"

namespace
{
class UserListTest : public UsersFixture
{
protected:
    // The lists that have rows, one line each: "<list>: row, row".
    QStringList Lists() const
    {
        return QStringList{"users: " + Rows(mp_users->UserList()).join(", "),
                           "unshared: " + Rows(mp_users->UnsharedList()).join(", "),
                           "ignored: " + Rows(mp_users->IgnoredList()).join(", "),
                           "alerts: " + Rows(mp_users->OnlineAlertList()).join(", ")}
            .filter(QRegularExpression(": ."));
    }
    static void Online(const char* i_user) { User(i_user).NewItem("is_online"); }
    static void Offline(const char* i_user) { User(i_user).Disconnect("is_online"); }
    static void Alert(const char* i_user) { User(i_user).NewItem("user_online_alert"); }
};

TEST_F(UserListTest, ALoadRebuildsTheFourListsFromTheSavedFlags)
{
    LoadAfterRestart([] {
        List("C"), List("b", {"x"}), List("A", {"b", "A"});
        Note("A", "likes jazz"), Note("e", "noisy");
        User("e").NewItem("is_ignored"), User("e").NewItem("unshared"), User("b").NewItem("is_ignored");
        Alert("C"), Alert("z"), Online("A");
    });
    EXPECT_EQ(Lists(), (QStringList{"users: A (offline)|A, b|likes jazz (note), b (offline)|x|, C (offline)||",
                                    "unshared: e|noisy (note)", "ignored: b|, e|noisy (note)",
                                    "alerts: C (offline), z (offline)"}));
    for (const char* l_user : {"A", "b", "C", "z"})
        EXPECT_TRUE(User(l_user).IsConnected("is_tracked")) << l_user;
    EXPECT_FALSE(User("e").IsConnected("is_tracked"));
}

TEST_F(UserListTest, OnlineUsersComeFirstThenNamesWithoutCase)
{
    LoadAfterRestart([] { List("C"), List("b"), List("A"); });
    const auto l_users = [&] { return Rows(mp_users->UserList()).replaceInStrings("||", ""); };
    RunSteps(l_users,
             {
                 {[] { Online("b"); }, {"b (online)", "A (offline)", "C (offline)"}},
                 {[] { Online("A"); }, {"A (online)", "b (online)", "C (offline)"}},
                 {[] { Offline("A"); }, {"b (online)", "A (offline)", "C (offline)"}},
                 {[] { Online("D"); List("D"); }, {"b (online)", "D (online)", "A (offline)", "C (offline)"}},
                 {[] { Offline("b"); Online("C"); }, {"C (online)", "D (online)", "A (offline)", "b (offline)"}},
             });
}

TEST_F(UserListTest, RowsAndCellsFollowTheStore)
{
    LoadAfterRestart([] { List("ann"); });
    RunSteps([&] { return Lists(); },
             {
                 {[] { List("ann", {"b", "A"}); }, {"users: ann (offline)|A, b|"}},
                 {[] { User("bo").NewItem("unshared"); User("bo").NewItem("is_ignored"); },
                  {"users: ann (offline)|A, b|", "unshared: bo|", "ignored: bo|"}},
                 {[] { Note("bo", "n1"); Note("ann", "n2"); },
                  {"users: ann (offline)|A, b|n2 (note)", "unshared: bo|n1 (note)", "ignored: bo|n1 (note)"}},
                 {[] { Note("bo", "n3"); User("ann").Disconnect("user_note"); },
                  {"users: ann (offline)|A, b|", "unshared: bo|n3 (note)", "ignored: bo|n3 (note)"}},
                 {[] { User("ann")["in_user_list"] -= Group("b"); Alert("ann"); Alert("al"); },
                  {"users: ann (offline)|A|", "unshared: bo|n3 (note)", "ignored: bo|n3 (note)",
                   "alerts: al (offline), ann (offline)"}},
                 {[] { User("bo").Disconnect("unshared"); User("ann").Disconnect("in_user_list"); },
                  {"ignored: bo|n3 (note)", "alerts: al (offline), ann (offline)"}},
                 {[] { User("bo").Disconnect("is_ignored"); User("al").Disconnect("user_online_alert"); },
                  {"alerts: ann (offline)"}},
             });
    EXPECT_EQ(Count("user_list_node") + Count("unshared_list_node") + Count("ignored_list_node"), 0u);
    EXPECT_EQ(Count("online_alert_list_node"), 1u);
}

// Every online connection of an alerted user raises a notice while the alert list is hidden,
// listed or not; going offline turns the alert row offline in both cases.
TEST_F(UserListTest, AlertedUsersRaiseANoticeEachTimeTheyComeOnline)
{
    LoadAfterRestart([] { List("ann"), Alert("ann"), Alert("bo"); });
    const auto l_state = [&] {
        return QStringList{Rows(mp_users->OnlineAlertList()).join(", "), ActionTexts(mp_events->actions()).join(", "),
                           m_window.m_calls.filter("popup").join(", ")};
    };
    RunSteps(l_state,
             {
                 {[] { Online("bo"); }, {"ann (offline), bo (online)", "bo online", "popup bo is online"}},
                 {[] { Offline("bo"); }, {"ann (offline), bo (offline)", "bo online", "popup bo is online"}},
                 {[] { Online("ann"); Offline("ann"); Online("ann"); },
                  {"ann (online), bo (offline)", "bo online, ann online, ann online",
                   "popup bo is online, popup ann is online, popup ann is online"}},
                 {[] { Online("carl"); },
                  {"ann (online), bo (offline)", "bo online, ann online, ann online",
                   "popup bo is online, popup ann is online, popup ann is online"}},
             });
    mp_events->actions().first()->trigger();
    EXPECT_EQ(ActionTexts(mp_events->actions()), (QStringList{"ann online", "ann online"}));
}

TEST_F(UserListTest, DoubleClickOpensTheChatAndTheToolbarOpensTheDialogs)
{
    LoadAfterRestart([] { List("ann"), User("bo").NewItem("is_ignored"), Alert("cy"); });
    for (QTreeWidget* lp_tree : {mp_users->UserList(), mp_users->IgnoredList(), mp_users->OnlineAlertList()})
        emit lp_tree->itemDoubleClicked(lp_tree->topLevelItem(0), 1);
    EXPECT_EQ(TabTexts(mp_chats->TabWidget()), (QStringList{"ann offline", "bo offline *"}));
    EXPECT_EQ(mp_pages->currentIndex(), 1);

    mp_pages->setCurrentIndex(2);
    mp_actions->OnApplicationFocusChanged(nullptr, mp_users->UserList());
    EXPECT_EQ(ActionTexts(mp_actions->actions()).filter("U"), (QStringList{"Add User", "Configure User Groups"}));
    for (const char* l_action : {"configure_user_groups", "configure_user_groups", "manual_add_user",
                                 "manual_add_user", "other"})
        emit mp_actions->ActionTriggered(nullptr, l_action);
    EXPECT_EQ(mp_users->findChildren<UserGroupConfigDialog*>().size(), 1);
    EXPECT_EQ(mp_users->findChildren<AddUserDialog*>().size(), 2);
}
} // namespace
