#include <random>

#include "StoreTesting.h"

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

// Each result as its members' names, against the expected names.
void Expect(std::initializer_list<std::pair<ItemSet, const char*>> i_cases)
{
    int l_case = 0;
    for (const auto& [set, names] : i_cases)
        EXPECT_EQ(Names(set), names) << "case " << l_case++;
}

// alice is in r1, bob in r1 and r2, carol in no room.
struct StoreSetAlgebra : ::testing::Test, Schema
{
    StoreSetAlgebra()
    {
        alice += r1;
        bob += r1;
        bob += r2;
    }
    ItemPtr alice = user->GetItem("alice"), bob = user->GetItem("bob"), carol = user->GetItem("carol");
    ItemPtr r1 = room->GetItem("r1"), r2 = room->GetItem("r2");
    ItemSet users = SetOf({alice, bob, carol}), rooms = SetOf({r1, r2});
};
} // namespace

TEST(StoreItemSet, ZeroOneAndManyMembersWalkInIdentityOrder)
{
    ItemSet set;
    EXPECT_TRUE(set.Size() == 0u && set.Begin() == set.End() && !static_cast<ItemPtr>(set));
    set.Insert(ItemPtr());
    EXPECT_TRUE(set.Empty()) << "a null item is never a member";

    Type* user = d.NewType("user", Primary, false, true);
    ItemPtr a = user->GetItem("a"), b = user->GetItem("b"), c = user->GetItem("c");
    set.Insert(b);
    set.Insert(b);
    EXPECT_EQ(Walk(set), (std::vector<ItemPtr>{b}));
    EXPECT_TRUE(set.Size() == 1u && set.Find(b) == set.Begin() && set.Find(a) == set.End());
    EXPECT_EQ(static_cast<ItemPtr>(set), b);

    set.Insert(c);
    set.Insert(a);
    set.Insert(c);
    const std::vector<ItemPtr> ordered = ByIdentity({a, b, c});
    EXPECT_EQ(set.Size(), 3u);
    EXPECT_EQ(Walk(set), ordered);
    EXPECT_EQ(static_cast<ItemPtr>(set), ordered[0]);
    auto it = set.Find(ordered[1]);
    EXPECT_EQ((++it).Item(), ordered[2]);
    EXPECT_EQ(++it, set.End());
    EXPECT_FALSE(it.Item());

    // A copy is independent; erasing down to one keeps that member findable.
    const ItemSet copy(set);
    set.Erase(ordered[0]);
    set.Erase(ordered[2]);
    set.Erase(ordered[2]);
    EXPECT_EQ(*set.Find(ordered[1]), ordered[1]);
    EXPECT_EQ(Walk(set), (std::vector<ItemPtr>{ordered[1]}));
    EXPECT_EQ(copy, SetOf({c, b, a}));
    set.Clear();
    EXPECT_TRUE(set.Empty());
}

TEST_F(StoreSetAlgebra, UnionCommonConnectedAndNotConnected)
{
    const ItemSet pair = SetOf({alice, bob}), other = SetOf({bob, carol});
    ItemSet grown(alice);
    grown.Add(other);
    Expect({{pair + other, "alice bob carol"}, {pair, "alice bob"}, {pair.Common(other), "bob"},
            {users.Common(ItemSet()), ""}, {grown, "alice bob carol"}});
    Expect({{users.Connected(ItemSet(r1)), "alice bob"}, {users.Connected(r2), "bob"},
            {rooms.Connected(SetOf({alice, carol})), "r1"}, {rooms.Connected(users), "r1 r2"}, // either set walked
            {users.Connected(ItemPtr()), ""}, {users.Connected("room"), "alice bob"},
            {users.Connected("room", "r2"), "bob"}, {users.Connected("room", "r3"), ""}});
    Expect({{users.NotConnected(ItemSet(r2)), "alice carol"}, {users.NotConnected(rooms), "carol"},
            {users.NotConnected(r1), "carol"}, {users.NotConnected(ItemPtr()), "alice bob carol"},
            {users.NotConnected("room"), "carol"}, {users.NotConnected("room", "r1"), "carol"},
            {users.NotConnected("room", "r3"), "alice bob carol"}});
    EXPECT_FALSE(room->HasItem("r3")) << "never created, although the type auto-creates";
}

TEST_F(StoreSetAlgebra, ConnectedItemsAcrossMembersAndSubsets)
{
    ItemSet members(users), out(carol);
    d.GetItems(members, "room", out);
    // A subset is what is connected to every member.
    Expect({{users.GetItems("room"), "r1 r2"}, {SetOf({alice, carol}).GetItems("room"), "r1"}, {out, "r1 r2"},
            {ItemSet().GetItems("user"), ""}, // no member, no relation check
            {d.GetItemSubset(SetOf({alice, bob}), "room"), "r1"}, {d.GetItemSubset(ItemSet(bob), "room"), "r1 r2"},
            {d.GetItemSubset(SetOf({alice, carol}), "room"), ""}, {d.GetItemSubset(ItemSet(), "room"), ""},
            {d.GetItemSubset(rooms, "user"), "bob"}, {d.GetItems(alice, bob, "room"), "r1"},
            {d.GetItems(bob, ItemPtr(), "room"), "r1 r2"}});
    EXPECT_EQ(d.GetItem(bob, ItemPtr(), "room"), std::min(r1, r2));
    EXPECT_EQ(d.GetItem(rooms, "user"), bob);
    EXPECT_FALSE(d.GetItem(alice, carol, "room"));
    // The shorthands never create.
    ItemPtr shared = online->GetGlobalNullItem(), own = online->NewItem();
    Expect({{i("user", "alice"), "alice"}, {i("user", "zed"), ""}, {g("user"), "alice bob carol"}, {g("room"), "r1 r2"}});
    EXPECT_EQ(g("is_online"), SetOf({shared, own}));
}

// Sizes "10", "9", "x" and "": numbers sort as numbers, anything else as zero.
TEST(StoreSorts, NumericAlphabeticAndByConnectedValue)
{
    Type* size = d.NewType("size", Leaf, false, true);
    Type* file = d.NewType("file", Primary, false, true);
    file->RelateToType(size, Many, One, false);
    ItemPtr ten = size->GetItem("10"), nine = size->GetItem("9"), x = size->GetItem("x"), empty = size->GetItem("");
    const ItemSet sizes = SetOf({ten, nine, x, empty});
    using Items = std::vector<ItemPtr>;

    Items ascending = ByIdentity({x, empty});
    ascending.insert(ascending.end(), {nine, ten});
    EXPECT_EQ(sizes.SortNumeric(true), ascending);
    std::reverse(ascending.begin(), ascending.end());
    EXPECT_EQ(sizes.SortNumeric(false), ascending) << "the exact reverse";
    ItemPtr negative = size->GetItem("-3"), padded = size->GetItem(" 11 "), nulled = size->GetItem(std::string("12\0x", 4));
    EXPECT_EQ(SetOf({padded, negative, nine, nulled}).SortNumeric(true), (Items{negative, nine, padded, nulled}));
    EXPECT_TRUE(ItemSet().SortNumeric(true).empty());

    // Alphabetic compares code units.
    EXPECT_EQ(sizes.SortAlphabetic(true), (Items{empty, ten, nine, x}));
    EXPECT_EQ(sizes.SortAlphabetic(false), (Items{x, nine, ten, empty}));
    ItemPtr apple = size->GetItem("apple"), banana = size->GetItem("Banana"), accented = size->GetItem("\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(SetOf({apple, accented, banana}).SortAlphabetic(true), (Items{banana, apple, accented}));

    // By a connected value, leaving out members without one.
    ItemPtr big = file->GetItem("big"), small1 = file->GetItem("small1"), small2 = file->GetItem("small2"),
            unknown = file->GetItem("unknown");
    big += ten;
    small1 += nine;
    small2 += nine;
    const ItemSet files = SetOf({big, small1, small2, unknown});
    const Items smalls = ByIdentity({small1, small2});
    EXPECT_EQ(files.SortNumericBy("size", true), (Items{smalls[0], smalls[1], big}));
    EXPECT_EQ(files.SortAlphabeticBy("size", true), (Items{big, smalls[0], smalls[1]}));
    EXPECT_EQ(SetOf({big, small1, unknown}).SortAlphabeticBy("size", false), (Items{small1, big}));
}

// A set keeps one or two members in place, up to 64 in an array and more in a tree (unless
// they came in ascending order), and goes back as it shrinks: at every size, in every form, in
// whatever order its members came, it walks, finds, copies and compares alike.
TEST(StoreItemSet, EverySizeWalksFindsAndErasesAlikeGrowingAndShrinking)
{
    Type* user = d.NewType("user", Primary, false, true);
    std::vector<ItemPtr> all;
    for (int n = 0; n < 300; ++n)
        all.push_back(user->GetItem(std::to_string(n)));
    std::mt19937 shuffle(11);
    for (std::size_t size : {0u, 1u, 2u, 3u, 4u, 5u, 63u, 64u, 65u, 66u, 300u})
    for (const bool ascending : {false, true})
    {
        SCOPED_TRACE("size " + std::to_string(size) + (ascending ? " ascending" : " shuffled"));
        std::vector<ItemPtr> members(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(size));
        std::shuffle(members.begin(), members.end(), shuffle);
        if (ascending)
            members = ByIdentity(members);
        ItemSet set;
        for (ItemPtr member : members)
            set.Insert(member), set.Insert(member);
        // One more out of order, and out again: a large array set becomes a tree.
        if (ascending && size > 2)
        {
            const ItemPtr first = ByIdentity(members)[0];
            set.Erase(first);
            EXPECT_FALSE(set.Contains(first));
            set.Insert(first);
        }
        std::vector<ItemPtr> ordered = ByIdentity(members);
        ASSERT_EQ(Walk(set), ordered);
        std::vector<ItemPtr> visited;
        set.ForEachMember([&](Item* ip_member) { visited.push_back(ip_member); });
        EXPECT_EQ(visited, ordered);
        EXPECT_EQ(set.Size(), size);
        EXPECT_EQ(static_cast<ItemPtr>(set), size ? ordered[0] : ItemPtr());
        for (std::size_t k = 0; k < size; ++k)
        {
            auto it = set.Find(ordered[k]);
            ASSERT_EQ(it.Item(), ordered[k]);
            EXPECT_EQ(it == set.Begin(), k == 0);
            EXPECT_EQ((++it).Item(), k + 1 < size ? ordered[k + 1] : ItemPtr());
        }
        const ItemPtr outsider = all[size % 300];
        EXPECT_EQ(set.Contains(outsider) || set.Find(outsider) != set.End(), size == 300);
        const ItemSet copy(set);
        ItemSet moved(copy);
        EXPECT_TRUE(copy == set && moved == set && ItemSet(std::move(moved)) == set);
        // Erased in another order, down to nothing, the rest stays in order at every step.
        std::shuffle(members.begin(), members.end(), shuffle);
        for (ItemPtr member : members)
        {
            set.Erase(member);
            set.Erase(member);
            ordered.erase(std::find(ordered.begin(), ordered.end(), member));
            ASSERT_EQ(Walk(set), ordered);
            ASSERT_FALSE(set.Contains(member));
            ASSERT_TRUE(ordered.empty() || set.Contains(ordered.back()));
        }
        EXPECT_TRUE(set.Empty() && set.Begin() == set.End() && copy.Size() == size);
    }
}

// Connected gives the members of one set connected to some member of the other, whichever set
// is smaller and whether the sets are small enough to look up each pair or a member's
// connections are walked.
TEST(StoreItemSet, ConnectedGivesTheSameMembersWhicheverWayItLooks)
{
    Schema schema;
    std::mt19937 random(7);
    std::vector<ItemPtr> users, rooms;
    for (int i = 0; i < 30; ++i)
        users.push_back(schema.user->GetItem(Value("u" + std::to_string(i))));
    for (int i = 0; i < 6; ++i)
        rooms.push_back(schema.room->GetItem(Value("r" + std::to_string(i))));
    // One room every user is in, as a folder holds all of its files; the others at random.
    for (ItemPtr user : users)
    {
        user += rooms[0];
        for (std::size_t r = 1; r < rooms.size(); ++r)
            if (random() % 3 == 0)
                user += rooms[r];
    }
    const auto pick = [&](const std::vector<ItemPtr>& from, std::size_t count) {
        ItemSet picked;
        for (std::size_t taken = 0; taken < count; ++taken)
            picked.Insert(from[random() % from.size()]);
        return picked;
    };
    const auto brute = [](const ItemSet& a, const ItemSet& b) {
        ItemSet result;
        for (ItemPtr x : a)
            for (ItemPtr y : b)
                if (x.IsConnected(y))
                    result.Insert(x);
        return result;
    };
    for (std::size_t userCount : {1u, 2u, 8u, 9u, 20u, 30u})
        for (std::size_t roomCount : {1u, 3u, 6u})
            for (int round = 0; round < 4; ++round)
            {
                const ItemSet someUsers = pick(users, userCount), someRooms = pick(rooms, roomCount);
                EXPECT_EQ(Names(someUsers.Connected(someRooms)), Names(brute(someUsers, someRooms)))
                    << userCount << " users, " << roomCount << " rooms";
                EXPECT_EQ(Names(someRooms.Connected(someUsers)), Names(brute(someRooms, someUsers)))
                    << roomCount << " rooms, " << userCount << " users";
            }
}
