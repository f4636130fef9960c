#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "StoreTestLog.h"
#include "store/Data.h"
#include "support/TestSupport.h"

using namespace store_testing;

namespace
{
// Records every removal and runs an optional action inside it.
class RemovedLog : public DataHandler
{
public:
    RemovedLog() { d.m_removedEvent.AddHandler(NewEventHandler(this, &RemovedLog::OnRemoved)); }
    void OnRemoved(ItemPtr item)
    {
        removed.push_back(Name(item.Get()));
        if (action)
            action(item);
    }
    std::vector<std::string> removed;
    std::function<void(ItemPtr)> action;
};

// Records every event of the store, to show that a collection with nothing to do is silent.
class Silence : public DataHandler
{
public:
    Silence()
    {
        d.m_newItemEvent.AddHandler(NewEventHandler(this, &Silence::OnItem));
        d.m_removedEvent.AddHandler(NewEventHandler(this, &Silence::OnItem));
        d.m_connectedEvent.AddHandler(NewEventHandler(this, &Silence::OnPair));
        d.m_disconnectedEvent.AddHandler(NewEventHandler(this, &Silence::OnPair));
    }
    void OnItem(ItemPtr) { ++events; }
    void OnPair(ConnectionInfo) { ++events; }
    int events = 0;
};

// The owned chain of a search, a user who may hold results, and the settings.
struct SearchSchema
{
    SearchSchema()
    {
        request = d.NewType("search_request", Primary, false, true);
        results = d.NewType("search_results", Intermediate, true, false);
        result = d.NewType("search_result", Intermediate, true, false);
        file = d.NewType("file_name", Leaf, false, true);
        user = d.NewType("user", Primary, false, true);
        global = d.NewType("global", Primary, false, true);
        value = d.NewType("global_value", Leaf, false, true);
        request->RelateToType(results, One, Many, true);
        results->RelateToType(result, One, Many, true);
        result->RelateToType(file, Many, One, false);
        user->RelateToType(result, Many, Many, false);
        user->RelateToType(results, Many, Many, false);
        global->RelateToType(value, Many, One, false);
    }

    // A request with one results item holding n results, each with its file name.
    ItemPtr Search(const std::string& text, int n)
    {
        ItemPtr req = request->GetItem(text);
        ItemPtr res = results->NewItem();
        req.Connect(res);
        for (int k = 0; k < n; ++k)
        {
            ItemPtr one = result->NewItem();
            res.Connect(one);
            one.Connect(file->GetItem(text + "-" + std::to_string(k)));
        }
        return req;
    }

    Type* request;
    Type* results;
    Type* result;
    Type* file;
    Type* user;
    Type* global;
    Type* value;
};

// Types without owners, for reachability alone.
struct ChainSchema
{
    ChainSchema()
    {
        root = d.NewType("root", Primary, false, true);
        x = d.NewType("x", Intermediate, false, true);
        y = d.NewType("y", Intermediate, false, true);
        leaf = d.NewType("leaf", Leaf, false, true);
        root->RelateToType(x, Many, Many, false);
        x->RelateToType(y, Many, Many, false);
        x->RelateToType(leaf, Many, Many, false);
        y->RelateToType(leaf, Many, Many, false);
    }
    Type* root;
    Type* x;
    Type* y;
    Type* leaf;
};
} // namespace

// ---- What goes and what stays ----

TEST(StoreCollection, NothingToCollectReturnsZeroAndFiresNothing)
{
    SearchSchema schema;
    schema.Search("cats", 3);
    schema.global->GetItem("port").Connect(schema.value->GetItem("2234"));
    Silence silence;
    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);
    EXPECT_EQ(silence.events, 0);
    EXPECT_EQ(schema.result->ItemCount(), 3u);
    EXPECT_EQ(schema.file->ItemCount(), 3u);
}

TEST(StoreCollection, OwnedChainGoesWithItsRequest)
{
    SearchSchema schema;
    schema.Search("cats", 3).Remove();
    schema.Search("dogs", 2);

    // The results item misses its owner; its results still hold it, so they go in the sweep,
    // and their file names with them (nothing reaches a leaf that nothing holds).
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1 + 3 + 3);
    EXPECT_EQ(schema.results->ItemCount(), 1u);
    EXPECT_EQ(schema.result->ItemCount(), 2u);
    EXPECT_EQ(schema.file->ItemCount(), 2u);
    EXPECT_FALSE(schema.file->HasItem("cats-0"));
    EXPECT_TRUE(schema.file->HasItem("dogs-1"));
    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);
}

TEST(StoreCollection, ResultReachedFromElsewhereGoesOneCollectionLater)
{
    SearchSchema schema;
    ItemPtr request = schema.Search("cats", 2);
    ItemPtr kept = request["search_results"]["search_result"];
    schema.user->GetItem("alice").Connect(kept);
    request.Remove();

    EXPECT_EQ(d.RemoveDisconnectedItems(), 1 + 1 + 1) << "the results, one result, one file";
    EXPECT_EQ(schema.result->ItemCount(), 1u);
    EXPECT_TRUE(kept.IsConnected("user"));
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1 + 1) << "the kept result holds no owner now";
    EXPECT_EQ(schema.result->ItemCount(), 0u);
    EXPECT_EQ(schema.file->ItemCount(), 0u);
}

TEST(StoreCollection, OwnedItemWithoutItsOwnerGoesEvenWhenReached)
{
    SearchSchema schema;
    ItemPtr results = schema.results->NewItem();
    schema.user->GetItem("alice").Connect(results);
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1);
    EXPECT_EQ(schema.results->ItemCount(), 0u);
    EXPECT_EQ(schema.user->ItemCount(), 1u);
}

TEST(StoreCollection, OrphanSettingValueGoes)
{
    SearchSchema schema;
    ItemPtr port = schema.global->GetItem("port");
    port.Connect(schema.value->GetItem("2234"));
    port.Connect(schema.value->GetItem("2240"));
    RemovedLog log;
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1);
    EXPECT_EQ(log.removed, std::vector<std::string>({"2234"}));
    EXPECT_EQ(port["global_value"].AsStdString(), "2240");
}

TEST(StoreCollection, MarkingStopsAtALeaf)
{
    ChainSchema schema;
    ItemPtr root = schema.root->GetItem("r");
    ItemPtr x = schema.x->GetItem("x1");
    ItemPtr leaf = schema.leaf->GetItem("l");
    ItemPtr beyond = schema.y->GetItem("y1");
    root.Connect(x);
    x.Connect(leaf);
    leaf.Connect(beyond);
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1);
    EXPECT_FALSE(schema.y->HasItem("y1"));
    EXPECT_TRUE(schema.x->HasItem("x1"));
    EXPECT_TRUE(schema.leaf->HasItem("l"));

    // Reached some other way, it stays.
    ItemPtr again = schema.y->GetItem("y2");
    leaf.Connect(again);
    x.Connect(again);
    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);
}

TEST(StoreCollection, UnreachableClusterGoesWhole)
{
    ChainSchema schema;
    schema.root->GetItem("r").Connect(schema.x->GetItem("kept"));
    ItemPtr x = schema.x->GetItem("x1");
    ItemPtr y = schema.y->GetItem("y1");
    x.Connect(y);
    y.Connect(schema.x->GetItem("x2"));
    y.Connect(schema.leaf->GetItem("l"));
    schema.leaf->GetItem("alone");
    EXPECT_EQ(d.RemoveDisconnectedItems(), 5);
    EXPECT_EQ(schema.x->ItemCount(), 1u);
    EXPECT_EQ(schema.y->ItemCount(), 0u);
    EXPECT_EQ(schema.leaf->ItemCount(), 0u);
}

TEST(StoreCollection, AfterRemovingEverythingThereIsNothingToCollect)
{
    SearchSchema schema;
    schema.Search("cats", 4);
    schema.results->NewItem();
    d.RemoveAllItems();
    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);
}

// ---- A long chain ----

TEST(StoreCollection, LongChainIsMarkedWithoutDeepRecursion)
{
    ChainSchema schema;
    const int length = 200000;
    ItemPtr root = schema.root->GetItem("r");
    ItemPtr first = schema.x->GetItem(0);
    ItemPtr previous = first;
    for (int k = 1; k < length; ++k)
    {
        ItemPtr next = (k % 2 ? schema.y : schema.x)->GetItem(k);
        previous.Connect(next);
        previous = next;
    }
    previous.Connect(schema.leaf->GetItem("end"));
    root.Connect(first);

    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);
    EXPECT_TRUE(schema.leaf->HasItem("end"));
    root.Disconnect(first);
    EXPECT_EQ(d.RemoveDisconnectedItems(), length + 1);
    EXPECT_EQ(schema.x->ItemCount() + schema.y->ItemCount() + schema.leaf->ItemCount(), 0u);
}

// ---- Handlers that change the store during a collection ----

TEST(StoreCollection, HandlersRemovingFurtherItemsAreSafe)
{
    SearchSchema schema;
    schema.Search("cats", 3).Remove();
    schema.Search("dogs", 2);
    schema.results->NewItem(); // a results item that never had a request
    ItemPtr port = schema.global->GetItem("port");
    port.Connect(schema.value->GetItem("old"));
    port.Connect(schema.value->GetItem("new"));

    RemovedLog log;
    bool done = false;
    // The first removal takes a doomed item, a swept item and a surviving one with it.
    log.action = [&](ItemPtr) {
        if (done)
            return;
        done = true;
        for (ItemPtr results : schema.results->GetItems())
            if (!results.IsConnected("search_request"))
                results.Remove();
        schema.value->HasItem("old").Remove();
        schema.file->HasItem("dogs-0").Remove();
    };
    const int count = d.RemoveDisconnectedItems();
    EXPECT_TRUE(done);
    // The collection removed one doomed results item and swept three results with their
    // files; the handler took the other doomed one, the old value and a surviving file name.
    // Nothing is counted or removed twice.
    EXPECT_EQ(count, 1 + 3 + 3);
    EXPECT_EQ(log.removed.size(), 1u + 3u + 6u);
    EXPECT_EQ(schema.results->ItemCount(), 1u);
    EXPECT_EQ(schema.result->ItemCount(), 2u);
    EXPECT_EQ(schema.file->ItemCount(), 1u);
    EXPECT_EQ(schema.value->ItemCount(), 1u);
    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);
}

TEST(StoreCollection, NestedCollectionRequestAndNewItemsDuringTheSweep)
{
    ChainSchema schema;
    schema.x->GetItem("a");
    schema.x->GetItem("b");
    schema.y->GetItem("c");
    RemovedLog log;
    int nested = -1;
    log.action = [&](ItemPtr) {
        if (nested != -1)
            return;
        nested = d.RemoveDisconnectedItems();
        schema.y->GetItem("made-during");
    };
    EXPECT_EQ(d.RemoveDisconnectedItems(), 3);
    EXPECT_EQ(nested, 0) << "a collection does not nest";
    EXPECT_TRUE(schema.y->HasItem("made-during")) << "not a candidate of this collection";
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1);
}

TEST(StoreCollection, ValuelessPrimaryRootsMarkToo)
{
    ChainSchema schema;
    Type* session = d.NewType("session", Primary, true, false);
    session->RelateToType(schema.x, Many, Many, false);
    session->NewItem().Connect(schema.x->GetItem("held"));
    schema.x->GetItem("dropped");
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1);
    EXPECT_TRUE(schema.x->HasItem("held"));
}
