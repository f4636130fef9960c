#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "StoreTesting.h"

using namespace store_testing;

namespace
{
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
        alice += r1;
        bob += r1;
        bob += r2;
    }

    Schema schema;
    ItemPtr alice = schema.user->GetItem("alice"), bob = schema.user->GetItem("bob"),
            carol = schema.user->GetItem("carol");
    ItemPtr r1 = schema.room->GetItem("r1"), r2 = schema.room->GetItem("r2");
    ItemSet users = SetOf({alice, bob, carol}), rooms = SetOf({r1, r2});
};
} // namespace

TEST(StoreItemSet, ZeroOneAndManyMembersWalkInIdentityOrder)
{
    ItemSet set;
    EXPECT_EQ(set.Size(), 0u);
    EXPECT_TRUE(set.Empty());
    EXPECT_EQ(set.Begin(), set.End());
    EXPECT_FALSE(static_cast<ItemPtr>(set));
    EXPECT_FALSE(set.Begin().Item());
    set.Insert(ItemPtr());
    EXPECT_TRUE(set.Empty()) << "a null item is never a member";
    EXPECT_EQ(set.Find(ItemPtr()), set.End());

    Type* user = d.NewType("user", Primary, false, true);
    ItemPtr a = user->GetItem("a"), b = user->GetItem("b"), c = user->GetItem("c");
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

TEST_F(StoreSetAlgebra, UnionCommonConnectedAndNotConnected)
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

    EXPECT_EQ(users.Connected(ItemSet(r1)), pair);
    EXPECT_EQ(users.Connected(r2), ItemSet(bob));
    EXPECT_EQ(rooms.Connected(users), rooms) << "the smaller set is walked";
    EXPECT_EQ(rooms.Connected(SetOf({alice, carol})), ItemSet(r1));
    EXPECT_EQ(pair.Connected(rooms), pair) << "equal sizes";
    EXPECT_TRUE(users.Connected(ItemPtr()).Empty());
    EXPECT_TRUE(ItemSet().Connected(rooms).Empty());
    EXPECT_EQ(users.Connected("room"), pair);
    EXPECT_EQ(users.Connected("room", "r2"), ItemSet(bob));
    EXPECT_TRUE(users.Connected("room", "r3").Empty());

    EXPECT_EQ(users.NotConnected(ItemSet(r2)), SetOf({alice, carol}));
    EXPECT_EQ(users.NotConnected(rooms), ItemSet(carol));
    EXPECT_EQ(users.NotConnected(r1), ItemSet(carol));
    EXPECT_EQ(users.NotConnected(ItemPtr()), users);
    EXPECT_EQ(users.NotConnected("room"), ItemSet(carol));
    EXPECT_EQ(users.NotConnected("room", "r1"), ItemSet(carol));
    EXPECT_EQ(users.NotConnected("room", "r3"), users);
    EXPECT_FALSE(schema.room->HasItem("r3")) << "never created, although the type auto-creates";
}

TEST_F(StoreSetAlgebra, ConnectedItemsAcrossMembersAndSubsets)
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

    // A subset is what is connected to every member.
    EXPECT_EQ(d.GetItemSubset(SetOf({alice, bob}), "room"), ItemSet(r1));
    EXPECT_EQ(d.GetItemSubset(ItemSet(bob), "room"), rooms);
    EXPECT_TRUE(d.GetItemSubset(SetOf({alice, carol}), "room").Empty());
    EXPECT_TRUE(d.GetItemSubset(ItemSet(carol), "room").Empty());
    EXPECT_TRUE(d.GetItemSubset(ItemSet(), "room").Empty());
    EXPECT_TRUE(d.GetItemSubset(rooms, "room").Empty()) << "rooms hold no rooms";
    EXPECT_EQ(d.GetItemSubset(rooms, "user"), ItemSet(bob));
    EXPECT_EQ(d.GetItems(alice, bob, "room"), ItemSet(r1));
    EXPECT_EQ(d.GetItems(bob, ItemPtr(), "room"), rooms);
    EXPECT_EQ(d.GetItem(bob, ItemPtr(), "room"), std::min(r1, r2));
    EXPECT_EQ(d.GetItem(rooms, "user"), bob);
    EXPECT_FALSE(d.GetItem(alice, carol, "room"));

    // The shorthands never create.
    EXPECT_EQ(i("user", "alice"), ItemSet(alice));
    EXPECT_TRUE(i("user", "zed").Empty());
    EXPECT_EQ(schema.user->ItemCount(), 3u);
    EXPECT_EQ(g("user"), users);
    EXPECT_EQ(g("room"), rooms);
    EXPECT_TRUE(g("is_online").Empty());
    ItemPtr shared = schema.online->GetGlobalNullItem();
    ItemPtr own = schema.online->NewItem();
    EXPECT_EQ(g("is_online"), SetOf({shared, own}));
}

// Sizes "10", "9", "x" and "": numbers sort as numbers, anything else as zero.
TEST(StoreSorts, NumericAlphabeticAndByConnectedValue)
{
    Type* size = d.NewType("size", Leaf, false, true);
    Type* file = d.NewType("file", Primary, false, true);
    file->RelateToType(size, Many, One, false);
    ItemPtr ten = size->GetItem("10"), nine = size->GetItem("9"), x = size->GetItem("x"),
            empty = size->GetItem("");
    const ItemSet sizes = SetOf({ten, nine, x, empty});

    std::vector<ItemPtr> ascending = ByIdentity({x, empty});
    ascending.push_back(nine);
    ascending.push_back(ten);
    EXPECT_EQ(sizes.SortNumeric(true), ascending);
    std::reverse(ascending.begin(), ascending.end());
    EXPECT_EQ(sizes.SortNumeric(false), ascending) << "the exact reverse";
    ItemPtr negative = size->GetItem("-3");
    ItemPtr padded = size->GetItem(" 11 ");
    ItemPtr nulled = size->GetItem(std::string("12\0x", 4));
    EXPECT_EQ(SetOf({padded, negative, nine, nulled}).SortNumeric(true),
              (std::vector<ItemPtr>{negative, nine, padded, nulled}));
    EXPECT_TRUE(ItemSet().SortNumeric(true).empty());

    // Alphabetic compares code units.
    EXPECT_EQ(sizes.SortAlphabetic(true), (std::vector<ItemPtr>{empty, ten, nine, x}));
    EXPECT_EQ(sizes.SortAlphabetic(false), (std::vector<ItemPtr>{x, nine, ten, empty}));
    ItemPtr apple = size->GetItem("apple");
    ItemPtr banana = size->GetItem("Banana");
    ItemPtr accented = size->GetItem("\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(SetOf({apple, accented, banana}).SortAlphabetic(true),
              (std::vector<ItemPtr>{banana, apple, accented}));

    // By a connected value, leaving out members without one.
    ItemPtr big = file->GetItem("big"), small1 = file->GetItem("small1"),
            small2 = file->GetItem("small2"), unknown = file->GetItem("unknown");
    big += ten;
    small1 += nine;
    small2 += nine;
    const ItemSet files = SetOf({big, small1, small2, unknown});
    using Items = std::vector<ItemPtr>;
    const Items smalls = ByIdentity({small1, small2});
    EXPECT_EQ(files.SortNumericBy("size", true), (Items{smalls[0], smalls[1], big}));
    EXPECT_EQ(files.SortNumericBy("size", false), (Items{big, smalls[1], smalls[0]}));
    EXPECT_EQ(files.SortAlphabeticBy("size", true), (Items{big, smalls[0], smalls[1]}));
    EXPECT_EQ(SetOf({big, small1, unknown}).SortAlphabeticBy("size", false),
              (std::vector<ItemPtr>{small1, big}));
    EXPECT_EQ(files.Size(), 4u);
}
