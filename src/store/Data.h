#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
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

    Type* NewType(const std::string& i_name, Primacy i_primacy, bool i_isNull, bool i_autoCreate);
    Type* GetType(std::string_view i_name) const;
    Type* HasType(std::string_view i_name) const;
    void GetTypes(std::map<std::string, Type*>& o_out) const;
    const std::map<std::string, Type*>& Types() const { return m_types; }
    void GetTypeOwningTypes(Type* ip_type, std::set<Type*>& o_out) const;
    void Audit() {}

    void AddConnectionEventHandler(Type* ip_a, Type* ip_b,
                                   EventHandlerBase<ConnectionInfo&>* ip_handler);
    void AddDisconnectionEventHandler(Type* ip_a, Type* ip_b,
                                      EventHandlerBase<ConnectionInfo&>* ip_handler);
    void NotifyConnectionEventHandlers(Item* ip_a, Item* ip_b);
    // Whether anyone hears of a connection between items of these types.
    bool HearsConnection(Type* ip_a, Type* ip_b) const;
    void NotifyDisconnectionEventHandlers(Item* ip_a, Item* ip_b);

    void GetItems(ItemSet& i_members, const char* ip_typeName, ItemSet& o_out);
    ItemSet GetItems(const ItemSet& i_members, const char* ip_typeName);
    ItemSet GetItemSubset(const ItemSet& i_members, const char* ip_typeName);
    ItemSet GetItems(ItemPtr i_a, ItemPtr i_b, const char* ip_typeName);
    ItemPtr GetItem(const ItemSet& i_members, const char* ip_typeName);
    ItemPtr GetItem(ItemPtr i_a, ItemPtr i_b, const char* ip_typeName);

    void RemoveAllItems();
    int RemoveDisconnectedItems();
    void MarkItemConnections(Item* ip_item);

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
    void AddPathEventHandler(PathNode* ip_root, EventHandlerBase<ItemPtr>* ip_handler);
    void RemovePathEventHandler(PathNodeHandlerInfo* ip_subscription);
    void OnPathNodeEventConnection(ConnectionInfo& i_info);
    void OnPathNodeEventDisconnection(ConnectionInfo& i_info);
    void GetPathNodePairs(PathNode* ip_node, std::map<TypePair, PathNodePairInfo>& i_pairs);
    bool VerifyPathNodeSubNodeConnections(Item* ip_item, PathNode* ip_node, PathNode* ip_excluded);
    bool VerifyPathNodeParentNodeConnections(Item* ip_item, PathNode* ip_node, PathNode* ip_from,
                                             PathNode* ip_root, ItemPtr& i_rootItem);

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

    void AddPairHandler(PairHandlers& i_map, Type* ip_a, Type* ip_b,
                        EventHandlerBase<ConnectionInfo&>* ip_handler);
    void NotifyPair(PairHandlers& i_map, Item* ip_a, Item* ip_b);
    void OnPathNodeEvent(PathIndex& i_index, ConnectionInfo& i_info);
    void WithdrawPathPair(PathIndex& i_index, PathHandlers& i_handlers, PairHandlers& i_pairs,
                          const TypePair& i_key, PathNodeHandlerInfo* ip_subscription);
    void ErasePairEntry(PairHandlers& i_pairs, const TypePair& i_key, bool i_onlyWhenEmpty);
    void EndPairWalk();
    static void DeleteSubscription(PathNodeHandlerInfo* ip_subscription);
    // Called by Type::Remove: ends every subscription and pair handler that names the type.
    void ForgetType(Type* ip_type);

    std::map<std::string, Type*> m_types;
    // The same types by name, for look-ups: most code finds its types by name all the time.
    // The names are the types' own.
    std::unordered_map<std::string_view, Type*> m_typesByName;
    PairHandlers m_connectionEventHandlers;
    PairHandlers m_disconnectionEventHandlers;
    // The last pair of types that had no handler either way, and in which map: a scan connects
    // millions of pairs of the same two types. Only a new handler can make it wrong.
    const PairHandlers* mp_pairMissMap = nullptr;
    TypePair m_pairMiss;
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
        PairHandlers* mp_map;
        TypePair m_key;
        bool m_onlyWhenEmpty;
    };
    std::vector<PendingPairErasure> m_pendingPairErasures;
    bool m_collecting = false;
    // Items removed while a removal is under way are freed only when the outermost one ends,
    // so the snapshots of bulk removals can tell a removed item (its type is cleared) from a
    // live one without touching freed memory.
    int m_removalDepth = 0;
    std::vector<Item*> m_removedItems;
};

extern Data d;

// The item of that type with that value, never created; empty when there is none.
ItemSet i(const char* ip_typeName, const Value& i_value);
// Every item of that type.
ItemSet g(const char* ip_typeName);
