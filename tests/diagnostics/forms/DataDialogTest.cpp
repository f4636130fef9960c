#include "FormTesting.h"

TEST(StoreBrowser, FollowsTheStoreInItsTreeAndListsUntilClosed)
{
    // Users in rooms, a valueless ticket held by alice and a type with no items.
    Type* user = d.NewType("user", Primary, false, true);
    Type* room = d.NewType("room", Primary, false, true);
    ItemPtr alice = user->GetItem("alice"), bob = user->GetItem("bob"), carol = user->GetItem("carol");
    ItemPtr lobby = room->GetItem("lobby"), music = room->GetItem("music");
    ItemPtr ticket = d.NewType("ticket", Primary, true, true)->NewItem();
    d.GetType("ticket")->RelateToType(user, Many, One, false);
    d.NewType("lonely", Leaf, false, true);
    user->RelateToType(room, Many, Many, false);
    for (ItemPtr member : {alice, bob})
        member.Connect(lobby);
    for (ItemPtr member : {alice, bob, carol})
        member.Connect(music);
    ticket.Connect(alice);
    auto* dialog = new DataDialog(&d);
    auto* types = dialog->findChild<QTreeWidget*>("typeList");
    auto* items = dialog->findChild<QListWidget*>("itemList");
    auto* tree = dialog->findChild<QTreeWidget*>("itemDataTree");
    ASSERT_TRUE(types && items && tree);
    const auto TypeRow = [&](const QString& name) { return types->findItems(name, Qt::MatchExactly, 0).value(0); };
    const auto Select = [&](const QString& name) { types->setCurrentItem(TypeRow(name)); };
    const auto Click = [&](const QString& text) { emit items->itemClicked(items->findItems(text, Qt::MatchExactly).value(0)); };
    const auto Showing = [&](const QString& text) { return tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive, 0); };

    EXPECT_EQ(Rows(types, 3), (QStringList{"lonely/value   /0", "room/value   /2", "ticket/null   /1", "user/value   /3"}));
    Select("user");
    Click("alice");
    ASSERT_EQ(Rows(tree), QStringList{"alice"});
    QTreeWidgetItem* root = tree->topLevelItem(0);
    ASSERT_EQ(Rows(root), (QStringList{"[room] lobby", "[room] music", "[ticket, null]"}));
    QTreeWidgetItem* musicRow = Showing("[room] music").value(0);
    musicRow->setExpanded(true);
    EXPECT_EQ(Rows(musicRow), (QStringList{"[user] alice", "[user] bob", "[user] carol"}))
        << "its own type left out, the parent included";
    QTreeWidgetItem* carolRow = Showing("[user] carol").value(0);
    musicRow->setExpanded(false);
    musicRow->setExpanded(true);
    EXPECT_EQ(Showing("[user] carol"), QList<QTreeWidgetItem*>{carolRow}) << "not loaded a second time";
    carolRow->setExpanded(true);
    EXPECT_EQ(Rows(carolRow), QStringList{"[room] music"});

    Showing("[room] lobby")[0]->setExpanded(true);
    EXPECT_EQ(Showing("[user] bob").size(), 2);
    bob.Remove();
    EXPECT_TRUE(Showing("[user] bob").isEmpty());
    EXPECT_EQ(Texts(items) << TypeRow("user")->text(2), (QStringList{"alice", "carol", "2"}));
    // music is shown twice, once inside its own subtree; every row goes, with what hangs below.
    EXPECT_EQ(Showing("[room] music").size(), 2);
    music.Remove();
    EXPECT_TRUE((Showing("[room] music") + Showing("[user] carol")).isEmpty());
    EXPECT_EQ(Rows(root), (QStringList{"[room] lobby", "[ticket, null]"}));
    // Carol's rows went with music's; removing her now touches nothing that is gone.
    carol.Remove();
    alice.Remove();
    EXPECT_TRUE(tree->topLevelItemCount() == 0 && Texts(items).isEmpty());

    Select("ticket");
    EXPECT_EQ(Texts(items), QStringList{QString::number(reinterpret_cast<quintptr>(ticket.Get()))});
    Select("room");
    EXPECT_EQ(Texts(items), QStringList{"lobby"});
    EXPECT_EQ(tree->topLevelItemCount(), 0) << "another type empties the tree";
    Click("lobby");
    types->clearSelection();
    EXPECT_TRUE(Texts(items).isEmpty() && tree->topLevelItemCount() == 0);
    Select("user");
    user->GetItem("zed");
    user->GetItem("aaron");
    EXPECT_EQ(Rows(types, 3).mid(1), (QStringList{"room/value   /1", "ticket/null   /1", "user/value   /2"}));
    EXPECT_EQ(Texts(items), (QStringList{"aaron", "zed"}));

    d.NewType("later", Primary, false, true)->GetItem("x").Remove();
    EXPECT_EQ(TypeRow("later"), nullptr);
    Select("lonely");
    // The selection moves on to another type; a new type of the old name is not shown in its place.
    d.GetType("lonely")->Remove();
    EXPECT_EQ(TypeRow("lonely"), nullptr);
    const QStringList shown = Texts(items);
    d.NewType("lonely", Leaf, false, true)->GetItem("two");
    EXPECT_EQ(Texts(items), shown);

    EXPECT_TRUE(Close(dialog) && !dataDialog);
    user->GetItem("after");
    lobby.Remove();
}
