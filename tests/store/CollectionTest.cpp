#include "StoreTesting.h"

namespace
{
// The owned chain of a search, held by users, next to the settings; and types without owners,
// for reachability alone: root - x - y, x - leaf, y - leaf.
struct StoreCollection : ::testing::Test, Schema
{
    StoreCollection()
    {
        request->RelateToType(results, One, Many, true);
        results->RelateToType(result, One, Many, true);
        result->RelateToType(file, Many, One, false);
        user->RelateToType(result, Many, Many, false);
        user->RelateToType(results, Many, Many, false);
        root->RelateToType(x, Many, Many, false);
        x->RelateToType(y, Many, Many, false);
        x->RelateToType(leaf, Many, Many, false);
        y->RelateToType(leaf, Many, Many, false);
    }

    // A request with one results item holding n results, each with its file name.
    ItemPtr Search(const std::string& text, int n)
    {
        ItemPtr req = request->GetItem(text), res = req.Connect(results->NewItem());
        for (int k = 0; k < n; ++k)
            res.Connect(result->NewItem()).Connect(file->GetItem(text + "-" + std::to_string(k)));
        return req;
    }

    Type* request = d.NewType("search_request", Primary, false, true);
    Type* results = d.NewType("search_results", Intermediate, true, false);
    Type* result = d.NewType("search_result", Intermediate, true, false);
    Type* file = d.NewType("file_name", Leaf, false, true);
    Type* root = d.NewType("root", Primary, false, true);
    Type* x = d.NewType("x", Intermediate, false, true);
    Type* y = d.NewType("y", Intermediate, false, true);
    Type* leaf = d.NewType("leaf", Leaf, false, true);
};
} // namespace

TEST_F(StoreCollection, NothingToCollectIsSilentAndAnOrphanSettingValueGoes)
{
    Search("cats", 3);
    global->GetItem("port").Connect(value->GetItem("2234"));
    EventTap silence;
    silence.WatchStore();
    silence.WatchRemovals(d.m_removedEvent);
    const std::string before = Snapshot();
    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);
    EXPECT_TRUE(silence.calls.empty());
    EXPECT_EQ(Snapshot(), before);

    // A setting value that no setting holds goes.
    ItemPtr port = global->GetItem("port");
    port.Connect(value->GetItem("2240"));
    silence.calls.clear();
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1);
    EXPECT_EQ(silence.calls, (Log{"removed 2234"}));
    EXPECT_EQ(port["global_value"].AsStdString(), "2240");
}

TEST_F(StoreCollection, OwnedItemWithoutItsOwnerGoesEvenWhenReached)
{
    user->GetItem("alice").Connect(results->NewItem());
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1);
    EXPECT_EQ(results->ItemCount(), 0u);
    EXPECT_EQ(Names(user), "alice");
}

TEST_F(StoreCollection, ResultReachedFromElsewhereGoesOneCollectionLater)
{
    ItemPtr cats = Search("cats", 2);
    ItemPtr kept = cats["search_results"]["search_result"];
    user->GetItem("alice").Connect(kept);
    cats.Remove();
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1 + 1 + 1) << "the results, one result, one file";
    EXPECT_EQ(result->ItemCount(), 1u);
    EXPECT_TRUE(kept.IsConnected("user"));
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1 + 1) << "the kept result holds no owner now";
    EXPECT_EQ(result->ItemCount() + file->ItemCount(), 0u);
}

TEST_F(StoreCollection, MarkingStopsAtALeafAndUnreachedClustersGoWhole)
{
    ItemPtr x1 = root->GetItem("r").Connect(x->GetItem("x1"));
    ItemPtr l = x1.Connect(leaf->GetItem("l"));
    l.Connect(y->GetItem("y1"));
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1);
    EXPECT_EQ(Names(x) + " " + Names(y) + " " + Names(leaf), "x1  l");
    // Reached some other way, it stays.
    ItemPtr y2 = y->GetItem("y2");
    l.Connect(y2);
    x1.Connect(y2);
    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);

    ItemPtr y3 = x->GetItem("x2").Connect(y->GetItem("y3"));
    y3.Connect(x->GetItem("x3"));
    y3.Connect(leaf->GetItem("l2"));
    leaf->GetItem("alone");
    EXPECT_EQ(d.RemoveDisconnectedItems(), 5);
    EXPECT_EQ(Names(x) + " " + Names(y) + " " + Names(leaf), "x1 y2 l");

    // Valueless primary items are roots as well.
    Type* session = d.NewType("session", Primary, true, false);
    session->RelateToType(x, Many, Many, false);
    session->NewItem().Connect(x->GetItem("held"));
    x->GetItem("dropped");
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1);
    EXPECT_EQ(Names(x), "held x1");
}

TEST_F(StoreCollection, LongChainIsMarkedWithoutDeepRecursion)
{
    const int length = 200000;
    ItemPtr r = root->GetItem("r"), first = x->GetItem(0), previous = first;
    for (int k = 1; k < length; ++k)
        previous = previous.Connect((k % 2 ? y : x)->GetItem(k));
    previous.Connect(leaf->GetItem("end"));
    r.Connect(first);

    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);
    EXPECT_TRUE(leaf->HasItem("end"));
    r.Disconnect(first);
    EXPECT_EQ(d.RemoveDisconnectedItems(), length + 1);
    EXPECT_EQ(x->ItemCount() + y->ItemCount() + leaf->ItemCount(), 0u);
}

TEST_F(StoreCollection, HandlersRemovingFurtherItemsAreSafe)
{
    Search("cats", 3).Remove();
    Search("dogs", 2);
    results->NewItem(); // a results item that never had a request
    ItemPtr port = global->GetItem("port");
    port.Connect(value->GetItem("old"));
    port.Connect(value->GetItem("new"));
    EventTap log;
    log.WatchRemovals(d.m_removedEvent);
    log.onItem = [&](ItemPtr) {
        if (log.calls.size() > 1)
            return;
        for (ItemPtr held : results->GetItems())
            if (!held.IsConnected("search_request"))
                held.Remove();
        value->HasItem("old").Remove();
        file->HasItem("dogs-0").Remove();
    };
    // The cats' results item misses its owner; its results still hold it, so they go in the
    // sweep, and their file names with them (nothing reaches a leaf that nothing holds). The
    // first removal takes the other doomed results item, the old value and a surviving file
    // name with it; nothing is counted or removed twice.
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1 + 3 + 3);
    EXPECT_EQ(log.calls.size(), 1u + 3u + 6u);
    EXPECT_EQ(results->ItemCount() + result->ItemCount(), 1u + 2u);
    EXPECT_EQ(Names(file) + " " + Names(value), "dogs-1 new");
    EXPECT_EQ(d.RemoveDisconnectedItems(), 0);
}

TEST_F(StoreCollection, NestedCollectionRequestAndNewItemsDuringTheSweep)
{
    x->GetItem("a");
    x->GetItem("b");
    y->GetItem("c");
    EventTap log;
    log.WatchRemovals(d.m_removedEvent);
    int nested = -1;
    log.onItem = [&](ItemPtr) {
        if (nested != -1)
            return;
        nested = d.RemoveDisconnectedItems();
        y->GetItem("made-during");
    };
    EXPECT_EQ(d.RemoveDisconnectedItems(), 3);
    EXPECT_EQ(nested, 0) << "a collection does not nest";
    EXPECT_TRUE(y->HasItem("made-during")) << "not a candidate of this collection";
    EXPECT_EQ(d.RemoveDisconnectedItems(), 1);
}
