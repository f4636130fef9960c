#include <map>

#include "StoreTesting.h"

using StoreRelations = SchemaTest;

TEST(StoreTypes, NewTypeIsAnnouncedOnceItIsFindable)
{
    struct Probe : DataHandler
    {
        void OnNewType(Type* type) { found.push_back(type->GetName() + (d.HasType(type->GetName()) == type ? "" : "?")); }
        Log found;
    } probe;
    d.m_newTypeEvent.AddHandler(probe.NewEventHandler(&probe, &Probe::OnNewType));
    Type* user = d.NewType("user", Primary, false, true);
    d.NewType("is_online", Leaf, true, false);
    EXPECT_EQ(probe.found, (Log{"user", "is_online"}));
    EXPECT_TRUE(d.GetType("user") == user && user->GetData() == &d && user->Relations().empty());
}

TEST_F(StoreRelations, MirroredAndOwnersFoundFromTheOwnedSide)
{
    EXPECT_FALSE(global->IsRelated(user));
    EXPECT_EQ(global->FindRelation(user), nullptr);
    std::map<Type*, RelationInfo> related{{user, RelationInfo()}};
    global->GetRelatedTypes(related);
    ASSERT_EQ(related.size(), 1u);
    EXPECT_EQ(related.begin()->first, value);

    Type* request = d.NewType("search_request", Primary, false, true);
    Type* results = d.NewType("search_results", Intermediate, true, false);
    Type* result = d.NewType("search_result", Leaf, true, false);
    request->RelateToType(results, One, Many, true);
    results->RelateToType(result, One, Many, true);
    results->RelateToType(user, Many, Many, false);
    std::set<Type*> owners{user};
    d.GetTypeOwningTypes(results, owners);
    EXPECT_EQ(owners, (std::set<Type*>{user, request})) << "adds without clearing";
    std::set<Type*> none;
    d.GetTypeOwningTypes(request, none);
    EXPECT_TRUE(none.empty());
}

// Every misuse of the schema throws its exception by pointer and changes nothing: no type, no
// relation, no item, no connection and no event.
class StoreSchemaMisuse : public ::testing::Test, protected Schema
{
protected:
    StoreSchemaMisuse() : Schema(false) {}
    void SetUp() override
    {
        g1 += v1;
        alice.NewItem("is_online");
        tap.WatchStore();
        for (Type* type : {global, value, user, online})
            tap.WatchType(type);
        before = Snapshot();
    }
    void TearDown() override
    {
        EXPECT_EQ(Snapshot(), before);
        EXPECT_TRUE(tap.calls.empty()) << tap.calls.front();
    }

    ItemPtr g1 = global->GetItem("port"), v1 = value->NewItem("2234"), alice = user->GetItem("alice");
    EventTap tap;
    std::string before;
};

TEST_F(StoreSchemaMisuse, UnknownOrDuplicateNames)
{
    EXPECT_TRUE(d.HasType("users") == nullptr && d.HasType("") == nullptr);
    EXPECT_THROWS_PTR(d.GetType("users"), TypeNotFoundException);
    EXPECT_THROWS_PTR(d.GetType("use"), TypeNotFoundException);
    EXPECT_THROWS_PTR(d.NewType("global", Leaf, true, false), TypeAlreadyExistsException);
    EXPECT_THROWS_PTR(global->RelateToType(value, One, One, true), AlreadyRelatedException);
    EXPECT_THROWS_PTR(value->RelateToType(global, Many, Many, true), AlreadyRelatedException);

    EXPECT_THROWS_PTR(g1.NewItem("nothing"), TypeNotFoundException);
    EXPECT_THROWS_PTR(g1["nothing"], TypeNotFoundException);
    EXPECT_THROWS_PTR(g1.Disconnect("nothing"), TypeNotFoundException);
    EXPECT_THROWS_PTR(i("nothing", "x"), TypeNotFoundException);
    EXPECT_THROWS_PTR(g("global").NotConnected("nothing", "x"), TypeNotFoundException);
    EXPECT_THROWS_PTR(g("global").SortNumericBy("nothing", true), TypeNotFoundException);
}

TEST_F(StoreSchemaMisuse, UnrelatedTypes)
{
    EXPECT_THROWS_PTR(global->GetRelation(user), NotRelatedException);
    EXPECT_THROWS_PTR(g1 += alice, NotRelatedException);
    EXPECT_THROWS_PTR(g1.NewItem("is_online"), NotRelatedException);
    ItemSet out(alice);
    EXPECT_THROWS_PTR(g1->GetItems("user", out), NotRelatedException);
    EXPECT_EQ(out, ItemSet(alice));
    EXPECT_THROWS_PTR(ItemSet(g1).GetItems("user"), NotRelatedException);
    // Lookups by name answer "nothing" for an unrelated type instead.
    EXPECT_FALSE(g1["user"]);
    EXPECT_FALSE(g1.IsConnected("user"));
    g1.Disconnect("user");
}

TEST_F(StoreSchemaMisuse, ValueOperationsOnANullTypeAndNullOperationsOnAValuedType)
{
    EXPECT_THROWS_PTR(online->GetItem("x"), NullTypeException);
    EXPECT_THROWS_PTR(online->NewItem(Value("x")), NullTypeException);
    EXPECT_THROWS_PTR(online->HasItem(""), NullTypeException);
    EXPECT_THROWS_PTR(value->NewItem(), NullTypeException);
    EXPECT_THROWS_PTR(value->GetGlobalNullItem(), NullTypeException);
    EXPECT_THROWS_PTR(alice.NewItem("global_value"), NullTypeException);
}
