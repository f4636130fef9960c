#include <gtest/gtest.h>

#include "StoreTesting.h"

using namespace store_testing;

namespace
{
// The owned chain of a search, held by users, next to the settings.
struct SearchSchema : Schema
{
    SearchSchema()
    {
        request = d.NewType("search_request", Primary, false, true);
        results = d.NewType("search_results", Intermediate, true, false);
        result = d.NewType("search_result", Intermediate, true, false);
        file = d.NewType("file_name", Leaf, false, true);
        request->RelateToType(results, One, Many, true);
        results->RelateToType(result, One, Many, true);
        result->RelateToType(file, Many, One, false);
        user->RelateToType(result, Many, Many, false);
        user->RelateToType(results, Many, Many, false);
    }

    // A request with one results item holding n results, each with its file name.
    ItemPtr Search(const std::string& text, int n)
    {
        ItemPtr req = request->GetItem(text), res = req.Connect(results->NewItem());
        for (int k = 0; k < n; ++k)
            res.Connect(result->NewItem()).Connect(file->GetItem(text + "-" + std::to_string(k)));
        return req;
    }
    Type *request, *results, *result, *file;
};

// Types without owners, for reachability alone: root - x - y, x - leaf, y - leaf.
struct ChainSchema
{
    ChainSchema()
    {
        root->RelateToType(x, Many, Many, false);
        x->RelateToType(y, Many, Many, false);
        x->RelateToType(leaf, Many, Many, false);
        y->RelateToType(leaf, Many, Many, false);
    }
    Type* root = d.NewType("root", Primary, false, true);
    Type* x = d.NewType("x", Intermediate, false, true);
    Type* y = d.NewType("y", Intermediate, false, true);
    Type* leaf = d.NewType("leaf", Leaf, false, true);
};
} // namespace

TEST(StoreCollection, NothingToCollectIsSilentAndAnOrphanSettingValueGoes)
{
    SearchSchema schema;
    schema.Search("cats", 3);
    schema.global->GetItem("port").Connect(schema.value->GetItem("2234"));
    EventTap silence;
    silence.WatchStore();
    silence.WatchRemovals(d.m_removedEvent);
    const std::string before = Snapshot();
    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);
    EXPECT_TRUE(silence.calls.empty());
    EXPECT_EQ(Snapshot(), before);

    schema.results->NewItem();
    d.RemoveAllItems();
    EXPECT_EQ(d.RemoveDisconnectedItems(), 0) << "after removing everything";

    // A setting value that no setting holds goes.
    ItemPtr port = schema.global->GetItem("port");
    port.Connect(schema.value->GetItem("2234"));
    port.Connect(schema.value->GetItem("2240"));
    silence.calls.clear();
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1);
    EXPECT_EQ(silence.calls, (Log{"removed 2234"}));
    EXPECT_EQ(port["global_value"].AsStdString(), "2240");
}

TEST(StoreCollection, OwnedChainGoesWithItsRequest)
{
    SearchSchema schema;
    schema.Search("cats", 3).Remove();
    schema.Search("dogs", 2);
    // The results item misses its owner; its results still hold it, so they go in the sweep,
    // and their file names with them (nothing reaches a leaf that nothing holds).
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1 + 3 + 3);
    EXPECT_EQ(schema.results->ItemCount() + schema.result->ItemCount(), 1u + 2u);
    EXPECT_EQ(Names(schema.file), "dogs-0 dogs-1");
    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);

    // An owned item without its owner goes even when reached.
    schema.user->GetItem("alice").Connect(schema.results->NewItem());
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1);
    EXPECT_EQ(schema.results->ItemCount(), 1u);
    EXPECT_EQ(Names(schema.user), "alice");
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
    EXPECT_EQ(schema.result->ItemCount() + schema.file->ItemCount(), 0u);
}

TEST(StoreCollection, MarkingStopsAtALeafAndUnreachedClustersGoWhole)
{
    ChainSchema schema;
    ItemPtr x = schema.root->GetItem("r").Connect(schema.x->GetItem("x1"));
    ItemPtr leaf = x.Connect(schema.leaf->GetItem("l"));
    leaf.Connect(schema.y->GetItem("y1"));
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1);
    EXPECT_EQ(Names(schema.x) + " " + Names(schema.y) + " " + Names(schema.leaf), "x1  l");
    // Reached some other way, it stays.
    ItemPtr again = schema.y->GetItem("y2");
    leaf.Connect(again);
    x.Connect(again);
    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);

    ItemPtr y3 = schema.x->GetItem("x2").Connect(schema.y->GetItem("y3"));
    y3.Connect(schema.x->GetItem("x3"));
    y3.Connect(schema.leaf->GetItem("l2"));
    schema.leaf->GetItem("alone");
    EXPECT_EQ(d.RemoveDisconnectedItems(), 5);
    EXPECT_EQ(Names(schema.x) + " " + Names(schema.y) + " " + Names(schema.leaf), "x1 y2 l");

    // Valueless primary items are roots as well.
    Type* session = d.NewType("session", Primary, true, false);
    session->RelateToType(schema.x, Many, Many, false);
    session->NewItem().Connect(schema.x->GetItem("held"));
    schema.x->GetItem("dropped");
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1);
    EXPECT_EQ(Names(schema.x), "held x1");
}

TEST(StoreCollection, LongChainIsMarkedWithoutDeepRecursion)
{
    ChainSchema schema;
    const int length = 200000;
    ItemPtr root = schema.root->GetItem("r"), first = schema.x->GetItem(0), previous = first;
    for (int k = 1; k < length; ++k)
        previous = previous.Connect((k % 2 ? schema.y : schema.x)->GetItem(k));
    previous.Connect(schema.leaf->GetItem("end"));
    root.Connect(first);

    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);
    EXPECT_TRUE(schema.leaf->HasItem("end"));
    root.Disconnect(first);
    EXPECT_EQ(d.RemoveDisconnectedItems(), length + 1);
    EXPECT_EQ(schema.x->ItemCount() + schema.y->ItemCount() + schema.leaf->ItemCount(), 0u);
}

TEST(StoreCollection, HandlersRemovingFurtherItemsAreSafe)
{
    SearchSchema schema;
    schema.Search("cats", 3).Remove();
    schema.Search("dogs", 2);
    schema.results->NewItem(); // a results item that never had a request
    ItemPtr port = schema.global->GetItem("port");
    port.Connect(schema.value->GetItem("old"));
    port.Connect(schema.value->GetItem("new"));
    EventTap log;
    log.WatchRemovals(d.m_removedEvent);
    // The first removal takes a doomed item, a swept item and a surviving one with it.
    log.onItem = [&](ItemPtr) {
        if (log.calls.size() > 1)
            return;
        for (ItemPtr results : schema.results->GetItems())
            if (!results.IsConnected("search_request"))
                results.Remove();
        schema.value->HasItem("old").Remove();
        schema.file->HasItem("dogs-0").Remove();
    };
    // The collection removes one doomed results item and sweeps three results with their files;
    // the handler takes the other doomed one, the old value and a surviving file name. Nothing
    // is counted or removed twice.
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1 + 3 + 3);
    EXPECT_EQ(log.calls.size(), 1u + 3u + 6u);
    EXPECT_EQ(schema.results->ItemCount() + schema.result->ItemCount(), 1u + 2u);
    EXPECT_EQ(Names(schema.file) + " " + Names(schema.value), "dogs-1 new");
    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);
}

TEST(StoreCollection, NestedCollectionRequestAndNewItemsDuringTheSweep)
{
    ChainSchema schema;
    schema.x->GetItem("a");
    schema.x->GetItem("b");
    schema.y->GetItem("c");
    EventTap log;
    log.WatchRemovals(d.m_removedEvent);
    int nested = -1;
    log.onItem = [&](ItemPtr) {
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
