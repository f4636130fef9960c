#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "StoreTestLog.h"
#include "store/Data.h"
#include "support/TestSupport.h"

using namespace store_testing;

namespace
{
ItemSet SetOf(std::initializer_list<ItemPtr> items)
{
    ItemSet set;
    for (ItemPtr item : items)
        set.Insert(item);
    return set;
}

std::vector<ItemPtr> Walk(const ItemSet& set)
{
    std::vector<ItemPtr> members;
    for (auto it = set.Begin(); it != set.End(); it++)
        members.push_back(it.Item());
    return members;
}

std::vector<ItemPtr> ByIdentity(std::vector<ItemPtr> items)
{
    std::sort(items.begin(), items.end());
    return items;
}

// alice is in r1, bob in r1 and r2, carol in no room.
class StoreSetAlgebra : public ::testing::Test
{
protected:
    void SetUp() override
    {
        user = d.NewType("user", Primary, false, true);
        room = d.NewType("room", Primary, false, true);
        user->RelateToType(room, Many, Many, false);
        alice = user->GetItem("alice");
        bob = user->GetItem("bob");
        carol = user->GetItem("carol");
        r1 = room->GetItem("r1");
        r2 = room->GetItem("r2");
        alice += r1;
        bob += r1;
        bob += r2;
        users = SetOf({alice, bob, carol});
        rooms = SetOf({r1, r2});
    }

    Type* user = nullptr;
    Type* room = nullptr;
    ItemPtr alice, bob, carol, r1, r2;
    ItemSet users, rooms;
};
} // namespace

// ---- The container ----

TEST(StoreItemSet, AnEmptySetHasNoMembers)
{
    const ItemSet empty;
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(empty.Begin(), empty.End());
    EXPECT_FALSE(static_cast<ItemPtr>(empty));
    EXPECT_FALSE(empty.Begin().Item());

    ItemSet set;
    set.Insert(ItemPtr());
    EXPECT_TRUE(set.Empty()) << "a null item is never a member";
    EXPECT_EQ(set.Find(ItemPtr()), set.End());
}

TEST(StoreItemSet, OneMemberAndManyMembersWalkInIdentityOrder)
{
    Type* user = d.NewType("user", Primary, false, true);
    ItemPtr a = user->GetItem("a"), b = user->GetItem("b"), c = user->GetItem("c");

    ItemSet set;
    set.Insert(b);
    set.Insert(b);
    EXPECT_EQ(set.Size(), 1u);
    EXPECT_EQ(Walk(set), (std::vector<ItemPtr>{b}));
    EXPECT_EQ(set.Find(b), set.Begin());
    EXPECT_EQ(set.Find(a), set.End());
    EXPECT_EQ(static_cast<ItemPtr>(set), b);

    set.Insert(c);
    set.Insert(a);
    set.Insert(c);
    const std::vector<ItemPtr> ordered = ByIdentity({a, b, c});
    EXPECT_EQ(set.Size(), 3u);
    EXPECT_EQ(Walk(set), ordered);
    EXPECT_EQ(static_cast<ItemPtr>(set), ordered[0]);
    EXPECT_EQ(*set.Find(ordered[2]), ordered[2]);
    auto it = set.Find(ordered[1]);
    EXPECT_EQ((++it).Item(), ordered[2]);
    EXPECT_EQ(++it, set.End());
    EXPECT_FALSE(it.Item());
    EXPECT_EQ(set.Find(ordered[0]), set.Begin());

    // A copy is independent; erasing down to one keeps that member findable.
    const ItemSet copy(set);
    set.Erase(ordered[0]);
    set.Erase(ordered[2]);
    set.Erase(ordered[2]);
    EXPECT_EQ(set.Size(), 1u);
    EXPECT_EQ(static_cast<ItemPtr>(set), ordered[1]);
    EXPECT_EQ(*set.Find(ordered[1]), ordered[1]);
    EXPECT_EQ(Walk(set), (std::vector<ItemPtr>{ordered[1]}));
    EXPECT_EQ(copy.Size(), 3u);
    EXPECT_NE(copy, set);
    EXPECT_EQ(copy, SetOf({c, b, a}));
    set.Clear();
    EXPECT_TRUE(set.Empty());
}

// ---- Algebra ----

TEST_F(StoreSetAlgebra, UnionAndIntersection)
{
    const ItemSet pair = SetOf({alice, bob});
    const ItemSet other = SetOf({bob, carol});
    EXPECT_EQ(pair + other, users);
    EXPECT_EQ(pair.Size(), 2u) << "operands unchanged";
    EXPECT_EQ(pair.Common(other), ItemSet(bob));
    EXPECT_EQ(users.Common(users), users);
    EXPECT_TRUE(users.Common(ItemSet()).Empty());
    EXPECT_TRUE(users.Common(rooms).Empty());
    ItemSet grown(alice);
    grown.Add(other);
    EXPECT_EQ(grown, users);
}

TEST_F(StoreSetAlgebra, ConnectedKeepsTheMembersTouchingTheOtherSet)
{
    EXPECT_EQ(users.Connected(ItemSet(r1)), SetOf({alice, bob}));
    EXPECT_EQ(users.Connected(r2), ItemSet(bob));
    EXPECT_EQ(rooms.Connected(users), rooms) << "the smaller set is walked";
    EXPECT_EQ(rooms.Connected(SetOf({alice, carol})), ItemSet(r1));
    EXPECT_EQ(SetOf({alice, bob}).Connected(rooms), SetOf({alice, bob})) << "equal sizes";
    EXPECT_TRUE(users.Connected(ItemPtr()).Empty());
    EXPECT_TRUE(ItemSet().Connected(rooms).Empty());
    EXPECT_EQ(users.Connected("room"), SetOf({alice, bob}));
    EXPECT_EQ(users.Connected("room", "r2"), ItemSet(bob));

    EXPECT_TRUE(users.Connected("room", "r3").Empty());
    EXPECT_FALSE(room->HasItem("r3")) << "never created, although the type auto-creates";
}

TEST_F(StoreSetAlgebra, NotConnectedKeepsTheMembersTouchingNothingOfTheOtherSet)
{
    EXPECT_EQ(users.NotConnected(ItemSet(r2)), SetOf({alice, carol}));
    EXPECT_EQ(users.NotConnected(rooms), ItemSet(carol));
    EXPECT_EQ(users.NotConnected(r1), ItemSet(carol));
    EXPECT_EQ(users.NotConnected(ItemPtr()), users);
    EXPECT_EQ(users.NotConnected("room"), ItemSet(carol));
    EXPECT_EQ(users.NotConnected("room", "r1"), ItemSet(carol));
    EXPECT_EQ(users.NotConnected("room", "r3"), users);
    EXPECT_FALSE(room->HasItem("r3"));
}

TEST_F(StoreSetAlgebra, ConnectedItemsOfATypeAcrossMembers)
{
    EXPECT_EQ(users.GetItems("room"), rooms);
    EXPECT_EQ(SetOf({alice, carol}).GetItems("room"), ItemSet(r1));
    EXPECT_EQ(d.GetItems(users, "room"), rooms);
    ItemSet members(users), out(carol);
    d.GetItems(members, "room", out);
    EXPECT_EQ(out, rooms);
    EXPECT_TRUE(ItemSet().GetItems("room").Empty());
    EXPECT_TRUE(ItemSet().GetItems("user").Empty()) << "no member, no relation check";
    EXPECT_EQ(bob.GetItems("room"), rooms);
}

TEST_F(StoreSetAlgebra, SubsetsAreTheItemsConnectedToEveryMember)
{
    EXPECT_EQ(d.GetItemSubset(SetOf({alice, bob}), "room"), ItemSet(r1));
    EXPECT_EQ(d.GetItemSubset(ItemSet(bob), "room"), rooms);
    EXPECT_TRUE(d.GetItemSubset(SetOf({alice, carol}), "room").Empty());
    EXPECT_TRUE(d.GetItemSubset(ItemSet(carol), "room").Empty());
    EXPECT_TRUE(d.GetItemSubset(ItemSet(), "room").Empty());
    EXPECT_TRUE(d.GetItemSubset(SetOf({r1, r2}), "room").Empty()) << "rooms hold no rooms";
    EXPECT_EQ(d.GetItemSubset(rooms, "user"), ItemSet(bob));

    EXPECT_EQ(d.GetItems(alice, bob, "room"), ItemSet(r1));
    EXPECT_EQ(d.GetItems(bob, ItemPtr(), "room"), rooms);
    EXPECT_EQ(d.GetItem(bob, ItemPtr(), "room"), std::min(r1, r2));
    EXPECT_EQ(d.GetItem(rooms, "user"), bob);
    EXPECT_FALSE(d.GetItem(alice, carol, "room"));
}

TEST_F(StoreSetAlgebra, ShorthandQueriesNeverCreate)
{
    EXPECT_EQ(i("user", "alice"), ItemSet(alice));
    EXPECT_TRUE(i("user", "zed").Empty());
    EXPECT_EQ(user->ItemCount(), 3u);
    EXPECT_EQ(g("user"), users);
    EXPECT_EQ(g("room"), rooms);

    Type* flag = d.NewType("is_online", Leaf, true, false);
    EXPECT_TRUE(g("is_online").Empty());
    ItemPtr shared = flag->GetGlobalNullItem();
    ItemPtr own = flag->NewItem();
    EXPECT_EQ(g("is_online"), SetOf({shared, own}));
}

// ---- Sorts ----

class StoreSorts : public ::testing::Test
{
protected:
    void SetUp() override
    {
        size = d.NewType("size", Leaf, false, true);
        file = d.NewType("file", Primary, false, true);
        file->RelateToType(size, Many, One, false);
        ten = size->GetItem("10");
        nine = size->GetItem("9");
        x = size->GetItem("x");
        empty = size->GetItem("");
        sizes = SetOf({ten, nine, x, empty});
    }

    Type* size = nullptr;
    Type* file = nullptr;
    ItemPtr ten, nine, x, empty;
    ItemSet sizes;
};

TEST_F(StoreSorts, NumericSortPutsNonNumbersFirstAsZeroAndDescendingIsTheExactReverse)
{
    std::vector<ItemPtr> ascending = ByIdentity({x, empty});
    ascending.push_back(nine);
    ascending.push_back(ten);
    EXPECT_EQ(sizes.SortNumeric(true), ascending);
    std::reverse(ascending.begin(), ascending.end());
    EXPECT_EQ(sizes.SortNumeric(false), ascending);

    ItemPtr negative = size->GetItem("-3");
    ItemPtr padded = size->GetItem(" 11 ");
    ItemPtr nulled = size->GetItem(std::string("12\0x", 4));
    EXPECT_EQ(SetOf({padded, negative, nine, nulled}).SortNumeric(true),
              (std::vector<ItemPtr>{negative, nine, padded, nulled}));
    EXPECT_TRUE(ItemSet().SortNumeric(true).empty());
}

TEST_F(StoreSorts, AlphabeticSortComparesCodeUnits)
{
    EXPECT_EQ(sizes.SortAlphabetic(true), (std::vector<ItemPtr>{empty, ten, nine, x}));
    EXPECT_EQ(sizes.SortAlphabetic(false), (std::vector<ItemPtr>{x, nine, ten, empty}));

    ItemPtr apple = size->GetItem("apple");
    ItemPtr banana = size->GetItem("Banana");
    ItemPtr accented = size->GetItem("\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(SetOf({apple, accented, banana}).SortAlphabetic(true),
              (std::vector<ItemPtr>{banana, apple, accented}));
}

TEST_F(StoreSorts, SortingByAConnectedValueLeavesOutMembersWithoutOne)
{
    ItemPtr big = file->GetItem("big");
    ItemPtr small1 = file->GetItem("small1");
    ItemPtr small2 = file->GetItem("small2");
    ItemPtr unknown = file->GetItem("unknown");
    big += ten;
    small1 += nine;
    small2 += nine;
    const ItemSet files = SetOf({big, small1, small2, unknown});

    std::vector<ItemPtr> smalls = ByIdentity({small1, small2});
    EXPECT_EQ(files.SortNumericBy("size", true),
              (std::vector<ItemPtr>{smalls[0], smalls[1], big}));
    EXPECT_EQ(files.SortNumericBy("size", false),
              (std::vector<ItemPtr>{big, smalls[1], smalls[0]}));
    EXPECT_EQ(files.SortAlphabeticBy("size", true),
              (std::vector<ItemPtr>{big, smalls[0], smalls[1]}));
    EXPECT_EQ(SetOf({big, small1, unknown}).SortAlphabeticBy("size", false),
              (std::vector<ItemPtr>{small1, big}));
    EXPECT_EQ(files.Size(), 4u);
}
