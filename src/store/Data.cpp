#include "store/Data.h"

#include <algorithm>
#include <vector>

#include "store/ItemWalk.h"

Data d;

Data::Data()
{
    qRegisterMetaType<ItemPtr>("ItemPtr");
}

Data::~Data()
{
    // At exit nothing is removed and no event fires; the memory is only given back.
    RemoveDataHandlers();
    for (PathNodeHandlerInfo* subscription : m_pathSubscriptions)
        DeleteSubscription(subscription);
    m_pathSubscriptions.clear();
    for (PathNodeHandlerInfo* subscription : m_doomedSubscriptions)
        DeleteSubscription(subscription);
    m_doomedSubscriptions.clear();
    for (auto& entry : m_types)
    {
        Type* type = entry.second;
        for (auto& item : type->m_itemsByValue)
            delete item.second;
        for (ItemPtr item : type->m_nullItems)
            delete item.Get();
        delete type;
    }
    m_types.clear();
    for (Item* item : m_removedItems)
        delete item;
    m_removedItems.clear();
}

Type* Data::NewType(const std::string& name, Primacy primacy, bool isNull, bool autoCreate)
{
    auto found = m_types.lower_bound(name);
    if (found != m_types.end() && found->first == name)
        throw new TypeAlreadyExistsException;
    Type* type = new Type(this, name, primacy, isNull, autoCreate);
    m_types.emplace_hint(found, name, type);
    m_newTypeEvent.Notify(type);
    return type;
}

Type* Data::GetType(const std::string& name) const
{
    Type* type = HasType(name);
    if (!type)
        throw new TypeNotFoundException;
    return type;
}

Type* Data::HasType(const std::string& name) const
{
    auto found = m_types.find(name);
    return found == m_types.end() ? nullptr : found->second;
}

void Data::GetTypes(std::map<std::string, Type*>& out) const
{
    if (&out != &m_types)
        out = m_types;
}

void Data::GetTypeOwningTypes(Type* type, std::set<Type*>& out) const
{
    for (const auto& relation : type->Relations())
        if (relation.second.ownedBy)
            out.insert(relation.first);
}

void Data::RemoveAllItems()
{
    RemovalScope scope(*this);
    const std::map<std::string, Type*> types(m_types);
    for (const auto& entry : types)
    {
        // A handler may have removed the type meanwhile.
        auto live = m_types.find(entry.first);
        if (live != m_types.end() && live->second == entry.second)
            entry.second->RemoveAllItems();
    }
}

// ---- Collection ----

int Data::RemoveDisconnectedItems()
{
    // A handler that asks for a collection while one runs gets nothing: the outer one is not
    // finished with its work set.
    if (m_collecting)
        return 0;
    m_collecting = true;
    RemovalScope scope(*this);
    struct Finish
    {
        Data& data;
        ~Finish()
        {
            data.m_collectionWorkSet.Clear();
            data.m_collecting = false;
        }
    } finish{*this};
    m_collectionWorkSet.Clear();

    // Ownership: an item that misses an owner of its type is doomed; the rest are candidates.
    std::set<Item*> doomed;
    for (const auto& entry : m_types)
    {
        Type* type = entry.second;
        std::set<Type*> owners;
        GetTypeOwningTypes(type, owners);
        auto test = [&](Item* item) {
            for (Type* owner : owners)
                if (!item->IsConnected(owner))
                {
                    doomed.insert(item);
                    return;
                }
            m_collectionWorkSet.Insert(item);
        };
        if (type->IsNull())
            for (ItemPtr item : type->m_nullItems)
                test(item.Get());
        else
            for (const auto& indexed : type->m_itemsByValue)
                test(indexed.second);
    }

    int count = 0;
    const auto l_remove = [&count](Item* ip_item) {
        ip_item->Remove();
        if (!ip_item->IsAlive())
            ++count;
    };
    // Handlers of these removals may remove further items, work set members included; those
    // stay allocated, dead, until the collection ends, and the walks pass over them.
    ItemWalk(*this, std::vector<Item*>(doomed.begin(), doomed.end())).Run(l_remove);

    for (const auto& entry : m_types)
    {
        Type* type = entry.second;
        if (type->GetPrimacy() != Primary)
            continue;
        if (type->IsNull())
            for (ItemPtr item : type->m_nullItems)
                MarkItemConnections(item.Get());
        else
            for (const auto& indexed : type->m_itemsByValue)
                MarkItemConnections(indexed.second);
    }

    std::vector<Item*> l_unreached;
    l_unreached.reserve(m_collectionWorkSet.Size());
    for (ItemPtr l_item : m_collectionWorkSet)
        l_unreached.push_back(l_item.Get());
    m_collectionWorkSet.Clear();
    ItemWalk(*this, std::move(l_unreached)).Run(l_remove);
    return count;
}

void Data::MarkItemConnections(Item* item)
{
    if (!item || !m_collectionWorkSet.Contains(item))
        return;
    // An explicit stack: a long chain of intermediate items must not exhaust the call stack.
    std::vector<Item*> pending{item};
    while (!pending.empty())
    {
        Item* current = pending.back();
        pending.pop_back();
        if (!m_collectionWorkSet.Contains(current))
            continue;
        m_collectionWorkSet.Erase(current);
        if (!current->IsAlive() || current->GetType()->GetPrimacy() == Leaf)
            continue;
        const TypeItemsMap& connections = current->Connections();
        for (auto entry = connections.Begin(); entry != connections.End(); ++entry)
        {
            if (entry.GetType()->GetPrimacy() == Primary)
                continue;
            for (ItemPtr other : *entry.Set())
                if (m_collectionWorkSet.Contains(other))
                    pending.push_back(other.Get());
        }
    }
}

// ---- Pair handlers ----

// Counts the pair walks under way; when the outermost one ends, what was withdrawn meanwhile
// is freed.
struct Data::PairWalkGuard
{
    explicit PairWalkGuard(Data& data) : m_data(data) { ++m_data.m_pairWalks; }
    ~PairWalkGuard()
    {
        if (--m_data.m_pairWalks == 0)
            m_data.EndPairWalk();
    }
    PairWalkGuard(const PairWalkGuard&) = delete;
    PairWalkGuard& operator=(const PairWalkGuard&) = delete;
    Data& m_data;
};

void Data::AddPairHandler(PairHandlers& map, Type* a, Type* b,
                          EventHandlerBase<ConnectionInfo&>* handler)
{
    if (!a->IsRelated(b))
        throw new NotRelatedException;
    map[TypePair(a, b)].AddHandler(handler);
}

void Data::AddConnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler)
{
    AddPairHandler(m_connectionEventHandlers, a, b, handler);
}

void Data::AddDisconnectionEventHandler(Type* a, Type* b,
                                        EventHandlerBase<ConnectionInfo&>* handler)
{
    AddPairHandler(m_disconnectionEventHandlers, a, b, handler);
}

void Data::NotifyPair(PairHandlers& map, Item* a, Item* b)
{
    if (map.empty())
        return;
    auto forward = map.find(TypePair(a->GetType(), b->GetType()));
    if (forward == map.end() && map.find(TypePair(b->GetType(), a->GetType())) == map.end())
        return;
    // Handlers may remove either item or empty these very entries; both stay allocated until
    // the walks are over.
    RemovalScope scope(*this);
    PairWalkGuard guard(*this);
    if (forward != map.end())
    {
        ConnectionInfo info{a, b};
        forward->second.Notify(info);
    }
    if (!a->IsAlive() || !b->IsAlive())
        return;
    auto backward = map.find(TypePair(b->GetType(), a->GetType()));
    if (backward != map.end())
    {
        ConnectionInfo info{b, a};
        backward->second.Notify(info);
    }
}

void Data::NotifyConnectionEventHandlers(Item* a, Item* b)
{
    NotifyPair(m_connectionEventHandlers, a, b);
}

void Data::NotifyDisconnectionEventHandlers(Item* a, Item* b)
{
    NotifyPair(m_disconnectionEventHandlers, a, b);
}

void Data::ErasePairEntry(PairHandlers& pairs, const TypePair& key, bool onlyWhenEmpty)
{
    if (m_pairWalks > 0)
    {
        m_pendingPairErasures.push_back(PendingPairErasure{&pairs, key, onlyWhenEmpty});
        return;
    }
    auto entry = pairs.find(key);
    if (entry != pairs.end() && (!onlyWhenEmpty || entry->second.Empty()))
        pairs.erase(entry);
}

void Data::EndPairWalk()
{
    std::vector<PathNodeHandlerInfo*> subscriptions;
    subscriptions.swap(m_doomedSubscriptions);
    for (PathNodeHandlerInfo* subscription : subscriptions)
        DeleteSubscription(subscription);
    std::vector<PendingPairErasure> erasures;
    erasures.swap(m_pendingPairErasures);
    for (const PendingPairErasure& erasure : erasures)
        ErasePairEntry(*erasure.map, erasure.key, erasure.onlyWhenEmpty);
}

// ---- Path subscriptions ----

namespace
{
bool RegistersConnections(PathNodeRelation relation)
{
    return relation == ConnectedAndNotify || relation == NotifyOnConnect;
}

bool RegistersDisconnections(PathNodeRelation relation)
{
    return relation == NotConnectedAndNotify || relation == NotifyOnDisconnect;
}

bool MustBeConnected(PathNodeRelation relation)
{
    return relation == ConnectedAndNotify || relation == Connected;
}

bool MustNotBeConnected(PathNodeRelation relation)
{
    return relation == NotConnectedAndNotify || relation == NotConnected;
}
} // namespace

void Data::GetPathNodePairs(PathNode* node, std::map<TypePair, PathNodePairInfo>& pairs)
{
    for (const PathNode::Child& child : node->Children())
    {
        pairs[TypePair(node->GetType(), child.first->GetType())] =
            PathNodePairInfo{node, child.first, child.second};
        GetPathNodePairs(child.first, pairs);
    }
}

void Data::AddPathEventHandler(PathNode* root, EventHandlerBase<ItemPtr>* handler)
{
    auto* subscription = new PathNodeHandlerInfo;
    subscription->mp_handler = handler;
    subscription->mp_rootNode = root;
    GetPathNodePairs(root, subscription->m_pairs);
    // A root without edges could never fire.
    if (subscription->m_pairs.empty())
    {
        DeleteSubscription(subscription);
        return;
    }
    // Every triggering pair is checked before any is indexed, so a refused pattern leaves no
    // half-registered subscription behind.
    for (const auto& pair : subscription->m_pairs)
    {
        const PathNodeRelation relation = pair.second.m_relation;
        if ((RegistersConnections(relation) || RegistersDisconnections(relation)) &&
            !pair.first.first->IsRelated(pair.first.second))
        {
            DeleteSubscription(subscription);
            throw new NotRelatedException;
        }
    }
    for (const auto& pair : subscription->m_pairs)
    {
        const TypePair& key = pair.first;
        const PathNodeRelation relation = pair.second.m_relation;
        if (RegistersConnections(relation))
        {
            auto entry = m_pathConnectionIndex.find(key);
            if (entry == m_pathConnectionIndex.end())
            {
                auto* own = NewEventHandler(this, &Data::OnPathNodeEventConnection);
                AddConnectionEventHandler(key.first, key.second, own);
                m_pathConnectionHandlers[key] = own;
                entry = m_pathConnectionIndex.emplace(key, std::set<PathNodeHandlerInfo*>()).first;
            }
            entry->second.insert(subscription);
        }
        else if (RegistersDisconnections(relation))
        {
            auto entry = m_pathDisconnectionIndex.find(key);
            if (entry == m_pathDisconnectionIndex.end())
            {
                auto* own = NewEventHandler(this, &Data::OnPathNodeEventDisconnection);
                AddDisconnectionEventHandler(key.first, key.second, own);
                m_pathDisconnectionHandlers[key] = own;
                entry =
                    m_pathDisconnectionIndex.emplace(key, std::set<PathNodeHandlerInfo*>()).first;
            }
            entry->second.insert(subscription);
        }
    }
    m_pathSubscriptions.insert(subscription);
}

void Data::OnPathNodeEventConnection(ConnectionInfo& info)
{
    OnPathNodeEvent(m_pathConnectionIndex, info);
}

void Data::OnPathNodeEventDisconnection(ConnectionInfo& info)
{
    OnPathNodeEvent(m_pathDisconnectionIndex, info);
}

void Data::OnPathNodeEvent(PathIndex& index, ConnectionInfo& info)
{
    Item* from = info.from;
    Item* to = info.to;
    if (!from || !to || !from->IsAlive() || !to->IsAlive())
        return;
    const TypePair key(from->GetType(), to->GetType());
    auto entry = index.find(key);
    if (entry == index.end())
        return;
    const std::vector<PathNodeHandlerInfo*> subscriptions(entry->second.begin(),
                                                          entry->second.end());
    // Handlers may remove items, subscribe, and end subscriptions that this copy still lists.
    RemovalScope scope(*this);
    PairWalkGuard guard(*this);
    for (PathNodeHandlerInfo* subscription : subscriptions)
    {
        if (subscription->m_tornDown)
            continue;
        if (subscription->mp_handler->m_removed)
        {
            RemovePathEventHandler(subscription);
            continue;
        }
        // An earlier handler removed one of the two: this change is over.
        if (!from->IsAlive() || !to->IsAlive())
            continue;
        auto pair = subscription->m_pairs.find(key);
        if (pair == subscription->m_pairs.end())
            continue;
        ItemPtr rootItem;
        if (VerifyPathNodeParentNodeConnections(from, pair->second.mp_parentNode,
                                                pair->second.mp_childNode,
                                                subscription->mp_rootNode, rootItem) &&
            rootItem && VerifyPathNodeSubNodeConnections(to, pair->second.mp_childNode, nullptr))
            subscription->mp_handler->Handle(rootItem);
    }
}

bool Data::VerifyPathNodeSubNodeConnections(Item* item, PathNode* node, PathNode* excluded)
{
    if (node->HasItem() && item->GetValue() != node->GetValue())
        return false;
    for (const PathNode::Child& child : node->Children())
    {
        if (child.first == excluded)
            continue;
        const PathNodeRelation relation = child.second;
        const ItemSet* connected = item->Connections().FindSet(child.first->GetType());
        if (MustBeConnected(relation))
        {
            if (!connected)
                return false;
            bool matched = false;
            for (ItemPtr other : *connected)
                if (VerifyPathNodeSubNodeConnections(other.Get(), child.first, nullptr))
                {
                    matched = true;
                    break;
                }
            if (!matched)
                return false;
        }
        else if (MustNotBeConnected(relation))
        {
            if (!connected)
                continue;
            bool everyMatches = true;
            for (ItemPtr other : *connected)
                if (!VerifyPathNodeSubNodeConnections(other.Get(), child.first, nullptr))
                {
                    everyMatches = false;
                    break;
                }
            if (everyMatches)
                return false;
        }
        else
            return false; // a notify-only edge holds only as the trigger
    }
    return true;
}

// The root item is filled in only along edges that must be connected: above an edge that must
// not be connected no single root item follows from the change, and the caller then calls
// nobody.
bool Data::VerifyPathNodeParentNodeConnections(Item* item, PathNode* node, PathNode* from,
                                               PathNode* root, ItemPtr& rootItem)
{
    if (node->HasItem() && item->GetValue() != node->GetValue())
        return false;
    if (!VerifyPathNodeSubNodeConnections(item, node, from))
        return false;
    if (node == root || !node->GetParent())
    {
        rootItem = item;
        return true;
    }
    PathNode* parent = node->GetParent();
    const PathNodeRelation relation = node->GetRelation();
    const ItemSet* connected = item->Connections().FindSet(parent->GetType());
    if (MustBeConnected(relation))
    {
        if (!connected)
            return false;
        for (ItemPtr other : *connected)
        {
            ItemPtr candidate;
            if (VerifyPathNodeParentNodeConnections(other.Get(), parent, node, root, candidate))
            {
                rootItem = candidate;
                return true;
            }
        }
        return false;
    }
    if (MustNotBeConnected(relation))
    {
        if (!connected)
            return true;
        for (ItemPtr other : *connected)
        {
            ItemPtr ignored;
            if (!VerifyPathNodeParentNodeConnections(other.Get(), parent, node, root, ignored))
                return true;
        }
        return false;
    }
    return false;
}

void Data::RemovePathEventHandler(PathNodeHandlerInfo* subscription)
{
    if (!subscription || subscription->m_tornDown)
        return;
    subscription->m_tornDown = true;
    for (const auto& pair : subscription->m_pairs)
    {
        const PathNodeRelation relation = pair.second.m_relation;
        if (RegistersConnections(relation))
            WithdrawPathPair(m_pathConnectionIndex, m_pathConnectionHandlers,
                             m_connectionEventHandlers, pair.first, subscription);
        else if (RegistersDisconnections(relation))
            WithdrawPathPair(m_pathDisconnectionIndex, m_pathDisconnectionHandlers,
                             m_disconnectionEventHandlers, pair.first, subscription);
    }
    m_pathSubscriptions.erase(subscription);
    if (m_pairWalks > 0)
        m_doomedSubscriptions.push_back(subscription);
    else
        DeleteSubscription(subscription);
}

void Data::WithdrawPathPair(PathIndex& index, PathHandlers& handlers, PairHandlers& pairs,
                            const TypePair& key, PathNodeHandlerInfo* subscription)
{
    auto entry = index.find(key);
    if (entry == index.end())
        return;
    entry->second.erase(subscription);
    if (!entry->second.empty())
        return;
    index.erase(entry);
    auto own = handlers.find(key);
    if (own == handlers.end())
        return;
    EventHandler<Data, ConnectionInfo&>* handler = own->second;
    handlers.erase(own);
    // Flagged, it is never called again; the pair entry frees it once no walk of the entry
    // runs, and freeing takes it out of the store's own handler set.
    handler->m_removed = true;
    auto pair = pairs.find(key);
    if (pair == pairs.end())
        return;
    pair->second.Purge();
    ErasePairEntry(pairs, key, true);
}

void Data::DeleteSubscription(PathNodeHandlerInfo* subscription)
{
    delete subscription->mp_handler;
    delete subscription->mp_rootNode;
    delete subscription;
}

void Data::ForgetType(Type* type)
{
    std::vector<PathNodeHandlerInfo*> naming;
    for (PathNodeHandlerInfo* subscription : m_pathSubscriptions)
        for (const auto& pair : subscription->m_pairs)
            if (pair.first.first == type || pair.first.second == type)
            {
                naming.push_back(subscription);
                break;
            }
    for (PathNodeHandlerInfo* subscription : naming)
        RemovePathEventHandler(subscription);
    for (PairHandlers* pairs : {&m_connectionEventHandlers, &m_disconnectionEventHandlers})
    {
        std::vector<TypePair> keys;
        for (const auto& entry : *pairs)
            if (entry.first.first == type || entry.first.second == type)
                keys.push_back(entry.first);
        for (const TypePair& key : keys)
            ErasePairEntry(*pairs, key, false);
    }
}

// ---- Store queries ----

void Data::GetItems(ItemSet& members, const char* typeName, ItemSet& out)
{
    out = GetItems(static_cast<const ItemSet&>(members), typeName);
}

ItemSet Data::GetItems(const ItemSet& members, const char* typeName)
{
    return members.GetItems(GetType(typeName));
}

ItemSet Data::GetItemSubset(const ItemSet& members, const char* typeName)
{
    Type* type = GetType(typeName);
    if (members.Empty())
        return ItemSet();
    // Start from the member with the fewest connected items; equal counts keep set order.
    std::vector<std::pair<std::size_t, const ItemSet*>> byCount;
    for (ItemPtr member : members)
    {
        const ItemSet* connected = member->Connections().FindSet(type);
        if (!connected)
            return ItemSet();
        byCount.emplace_back(connected->Size(), connected);
    }
    std::stable_sort(byCount.begin(), byCount.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    ItemSet candidates = *byCount.front().second;
    for (std::size_t n = 1; n < byCount.size(); ++n)
    {
        const ItemSet& connected = *byCount[n].second;
        const ItemSet before(candidates);
        for (ItemPtr candidate : before)
            if (!connected.Contains(candidate))
                candidates.Erase(candidate);
        if (candidates.Empty())
            return ItemSet();
    }
    return candidates;
}

ItemSet Data::GetItems(ItemPtr a, ItemPtr b, const char* typeName)
{
    ItemSet members;
    members.Insert(a);
    members.Insert(b);
    return GetItemSubset(members, typeName);
}

ItemPtr Data::GetItem(const ItemSet& members, const char* typeName)
{
    return GetItemSubset(members, typeName);
}

ItemPtr Data::GetItem(ItemPtr a, ItemPtr b, const char* typeName)
{
    return GetItems(a, b, typeName);
}

ItemSet i(const char* typeName, const Value& value)
{
    return ItemSet(d.GetType(typeName)->HasItem(value));
}

ItemSet g(const char* typeName)
{
    return d.GetType(typeName)->GetItems();
}
