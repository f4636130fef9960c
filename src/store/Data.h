#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "store/ConnectionInfo.h"
#include "store/DataHandler.h"
#include "store/Event.h"
#include "store/EventHandler.h"
#include "store/Item.h"
#include "store/ItemPtr.h"
#include "store/ItemSet.h"
#include "store/OneOrMany.h"
#include "store/PathNode.h"
#include "store/PathNodeRelation.h"
#include "store/Primacy.h"
#include "store/RelationInfo.h"
#include "store/RemovalScope.h"
#include "store/StoreExceptions.h"
#include "store/ToQString.h"
#include "store/Type.h"
#include "store/TypeItemsMap.h"
#include "store/Value.h"

// The item store: every piece of the client's state is an item of a named type, connected to
// items of related types. There is one store, the global `d`, used from the GUI thread only.
class Data : public DataHandler
{
public:
    using TypePair = std::pair<Type*, Type*>;

    Data();
    ~Data() override;

    Event<Type*> m_newTypeEvent;
    Event<Type*> m_typeRemovedEvent;
    Event<ItemPtr> m_newItemEvent;
    Event<ItemPtr> m_removedEvent;
    Event<ConnectionInfo> m_connectedEvent;
    Event<ConnectionInfo> m_disconnectedEvent;

    Type* NewType(const std::string& name, Primacy primacy, bool isNull, bool autoCreate);
    Type* GetType(const std::string& name) const;
    Type* HasType(const std::string& name) const;
    void GetTypes(std::map<std::string, Type*>& out) const;
    const std::map<std::string, Type*>& Types() const { return m_types; }
    void GetTypeOwningTypes(Type* type, std::set<Type*>& out) const;
    void Audit() {}

    void AddConnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler);
    void AddDisconnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler);
    void NotifyConnectionEventHandlers(Item* a, Item* b);
    void NotifyDisconnectionEventHandlers(Item* a, Item* b);

    void GetItems(ItemSet& members, const char* typeName, ItemSet& out);
    ItemSet GetItems(const ItemSet& members, const char* typeName);
    ItemSet GetItemSubset(const ItemSet& members, const char* typeName);
    ItemSet GetItems(ItemPtr a, ItemPtr b, const char* typeName);
    ItemPtr GetItem(const ItemSet& members, const char* typeName);
    ItemPtr GetItem(ItemPtr a, ItemPtr b, const char* typeName);

    void RemoveAllItems();
    int RemoveDisconnectedItems();
    void MarkItemConnections(Item* item);

    // ---- Path subscriptions ----

    // One edge of a pattern.
    struct PathNodePairInfo
    {
        PathNode* mp_parentNode = nullptr;
        PathNode* mp_childNode = nullptr;
        PathNodeRelation m_relation = ConnectedAndNotify;
    };

    // One subscription: it owns its handler and its whole pattern.
    struct PathNodeHandlerInfo
    {
        std::map<TypePair, PathNodePairInfo> m_pairs;
        EventHandlerBase<ItemPtr>* mp_handler = nullptr;
        PathNode* mp_rootNode = nullptr;
        // Set once it is taken out of the indexes; an outer walk's copy may still list it.
        bool m_tornDown = false;
    };

    // Calls the handler with the root item whenever a connection or disconnection completes the
    // pattern. The store owns the pattern and the handler from here on, also when this throws
    // NotRelatedException (a triggering edge between unrelated types; nothing is subscribed).
    void AddPathEventHandler(PathNode* root, EventHandlerBase<ItemPtr>* handler);
    void RemovePathEventHandler(PathNodeHandlerInfo* subscription);
    void OnPathNodeEventConnection(ConnectionInfo& info);
    void OnPathNodeEventDisconnection(ConnectionInfo& info);
    void GetPathNodePairs(PathNode* node, std::map<TypePair, PathNodePairInfo>& pairs);
    bool VerifyPathNodeSubNodeConnections(Item* item, PathNode* node, PathNode* excluded);
    bool VerifyPathNodeParentNodeConnections(Item* item, PathNode* node, PathNode* from,
                                             PathNode* root, ItemPtr& rootItem);

private:
    friend class Type;
    friend class Item;
    friend class RemovalScope;
    // The tests' view of the indexes behind the subscriptions.
    friend class StoreTesting;
    struct PairWalkGuard;
    using PairHandlers = std::map<TypePair, Event<ConnectionInfo&>>;
    using PathIndex = std::map<TypePair, std::set<PathNodeHandlerInfo*>>;
    using PathHandlers = std::map<TypePair, EventHandler<Data, ConnectionInfo&>*>;

    void AddPairHandler(PairHandlers& map, Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler);
    void NotifyPair(PairHandlers& map, Item* a, Item* b);
    void OnPathNodeEvent(PathIndex& index, ConnectionInfo& info);
    void WithdrawPathPair(PathIndex& index, PathHandlers& handlers, PairHandlers& pairs,
                          const TypePair& key, PathNodeHandlerInfo* subscription);
    void ErasePairEntry(PairHandlers& pairs, const TypePair& key, bool onlyWhenEmpty);
    void EndPairWalk();
    static void DeleteSubscription(PathNodeHandlerInfo* subscription);
    // Called by Type::Remove: ends every subscription and pair handler that names the type.
    void ForgetType(Type* type);

    std::map<std::string, Type*> m_types;
    PairHandlers m_connectionEventHandlers;
    PairHandlers m_disconnectionEventHandlers;
    PathIndex m_pathConnectionIndex;
    PathHandlers m_pathConnectionHandlers;
    PathIndex m_pathDisconnectionIndex;
    PathHandlers m_pathDisconnectionHandlers;
    std::set<PathNodeHandlerInfo*> m_pathSubscriptions;
    // While any pair walk runs, torn-down subscriptions and emptied pair entries wait here, so
    // an outer walk never reaches freed memory.
    int m_pairWalks = 0;
    std::vector<PathNodeHandlerInfo*> m_doomedSubscriptions;
    struct PendingPairErasure
    {
        PairHandlers* map;
        TypePair key;
        bool onlyWhenEmpty;
    };
    std::vector<PendingPairErasure> m_pendingPairErasures;
    ItemSet m_collectionWorkSet;
    bool m_collecting = false;
    // Items removed while a removal is under way are freed only when the outermost one ends,
    // so the snapshots of bulk removals can tell a removed item (its type is cleared) from a
    // live one without touching freed memory.
    int m_removalDepth = 0;
    std::vector<Item*> m_removedItems;
};

extern Data d;

// The item of that type with that value, never created; empty when there is none.
ItemSet i(const char* typeName, const Value& value);
// Every item of that type.
ItemSet g(const char* typeName);
