#include "store/Data.h"

#include <algorithm>
#include <functional>
#include <set>
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
    for (PathNodeHandlerInfo* lp_subscription : m_pathSubscriptions)
        DeleteSubscription(lp_subscription);
    m_pathSubscriptions.clear();
    for (PathNodeHandlerInfo* lp_subscription : m_doomedSubscriptions)
        DeleteSubscription(lp_subscription);
    m_doomedSubscriptions.clear();
    for (auto& l_entry : m_types)
    {
        Type* lp_type = l_entry.second;
        lp_type->ForEachItem([](Item* ip_item) { delete ip_item; });
        delete lp_type;
    }
    m_types.clear();
    m_typesByName.clear();
    for (Item* lp_item : m_removedItems)
        delete lp_item;
    m_removedItems.clear();
}

Type* Data::NewType(const std::string& i_name, Primacy i_primacy, bool i_isNull, bool i_autoCreate)
{
    auto l_found = m_types.lower_bound(i_name);
    if (l_found != m_types.end() && l_found->first == i_name)
        throw new TypeAlreadyExistsException;
    Type* lp_type = new Type(this, i_name, i_primacy, i_isNull, i_autoCreate);
    m_types.emplace_hint(l_found, i_name, lp_type);
    m_typesByName.emplace(lp_type->GetName(), lp_type);
    m_newTypeEvent.Notify(lp_type);
    return lp_type;
}

Type* Data::GetType(std::string_view i_name) const
{
    Type* lp_type = HasType(i_name);
    if (!lp_type)
        throw new TypeNotFoundException;
    return lp_type;
}

Type* Data::HasType(std::string_view i_name) const
{
    auto l_found = m_typesByName.find(i_name);
    return l_found == m_typesByName.end() ? nullptr : l_found->second;
}

void Data::GetTypes(std::map<std::string, Type*>& o_out) const
{
    if (&o_out != &m_types)
        o_out = m_types;
}

void Data::GetTypeOwningTypes(Type* ip_type, std::set<Type*>& o_out) const
{
    for (const auto& l_relation : ip_type->Relations())
        if (l_relation.second.ownedBy)
            o_out.insert(l_relation.first);
}

void Data::RemoveAllItems()
{
    RemovalScope l_scope(*this);
    const std::map<std::string, Type*> l_types(m_types);
    for (const auto& l_entry : l_types)
    {
        // A handler may have removed the type meanwhile.
        auto l_live = m_types.find(l_entry.first);
        if (l_live != m_types.end() && l_live->second == l_entry.second)
            l_entry.second->RemoveAllItems();
    }
}

// ---- Collection ----

namespace
{
// What an item's scratch holds while a collection runs: whether it is still to be reached.
constexpr int NotReached = -1;
constexpr int Reached = 0;
} // namespace

int Data::RemoveDisconnectedItems()
{
    // A handler that asks for a collection while one runs gets nothing: the outer one is not
    // finished with its marks.
    if (m_collecting)
        return 0;
    m_collecting = true;
    RemovalScope l_scope(*this);
    struct Finish
    {
        bool& m_collecting;
        ~Finish() { m_collecting = false; }
    } l_finish{m_collecting};

    // Ownership: an item that misses an owner of its type is doomed; the rest are to be reached.
    // Every item is marked here, so a mark left from an earlier walk counts for nothing, and one
    // made while the collection runs is never taken for unreached.
    std::set<Item*> l_doomed;
    for (const auto& l_entry : m_types)
    {
        Type* lp_type = l_entry.second;
        std::set<Type*> l_owners;
        GetTypeOwningTypes(lp_type, l_owners);
        auto l_test = [&](Item* ip_item) {
            ip_item->m_scratch = NotReached;
            for (Type* lp_owner : l_owners)
                if (!ip_item->IsConnected(lp_owner))
                {
                    ip_item->m_scratch = Reached;
                    l_doomed.insert(ip_item);
                    return;
                }
        };
        lp_type->ForEachItem(l_test);
    }

    int l_count = 0;
    const auto l_remove = [&l_count](Item* ip_item) {
        ip_item->Remove();
        if (!ip_item->IsAlive())
            ++l_count;
    };
    // Handlers of these removals may remove further items, unreached ones included; those stay
    // allocated, dead, until the collection ends, and the walks pass over them.
    ItemWalk(*this, std::vector<Item*>(l_doomed.begin(), l_doomed.end())).Run(l_remove);

    for (const auto& l_entry : m_types)
    {
        Type* lp_type = l_entry.second;
        if (lp_type->GetPrimacy() != Primary)
            continue;
        lp_type->ForEachItem([this](Item* ip_item) { MarkItemConnections(ip_item); });
    }

    // Removed in identity order, as a set of them would give them.
    std::vector<Item*> l_unreached;
    for (const auto& l_entry : m_types)
        l_entry.second->ForEachItem([&](Item* ip_item) {
            if (ip_item->m_scratch == NotReached)
                l_unreached.push_back(ip_item);
        });
    std::sort(l_unreached.begin(), l_unreached.end(), std::less<Item*>());
    ItemWalk(*this, std::move(l_unreached)).Run(l_remove);
    return l_count;
}

void Data::MarkItemConnections(Item* ip_item)
{
    if (!ip_item || ip_item->m_scratch != NotReached)
        return;
    // An explicit stack: a long chain of intermediate items must not exhaust the call stack.
    std::vector<Item*> l_pending{ip_item};
    while (!l_pending.empty())
    {
        Item* lp_current = l_pending.back();
        l_pending.pop_back();
        if (lp_current->m_scratch != NotReached)
            continue;
        lp_current->m_scratch = Reached;
        if (!lp_current->IsAlive() || lp_current->GetType()->GetPrimacy() == Leaf)
            continue;
        const TypeItemsMap& l_connections = lp_current->Connections();
        for (auto l_entry = l_connections.Begin(); l_entry != l_connections.End(); ++l_entry)
        {
            if (l_entry.GetType()->GetPrimacy() == Primary)
                continue;
            l_entry.Set()->ForEachMember([&](Item* ip_other) {
                if (ip_other->m_scratch == NotReached)
                    l_pending.push_back(ip_other);
            });
        }
    }
}

// ---- Pair handlers ----

// Counts the pair walks under way; when the outermost one ends, what was withdrawn meanwhile
// is freed.
struct Data::PairWalkGuard
{
    explicit PairWalkGuard(Data& i_data) : m_data(i_data) { ++m_data.m_pairWalks; }
    ~PairWalkGuard()
    {
        if (--m_data.m_pairWalks == 0)
            m_data.EndPairWalk();
    }
    PairWalkGuard(const PairWalkGuard&) = delete;
    PairWalkGuard& operator=(const PairWalkGuard&) = delete;
    Data& m_data;
};

void Data::AddPairHandler(PairHandlers& i_map, Type* ip_a, Type* ip_b,
                          EventHandlerBase<ConnectionInfo&>* ip_handler)
{
    if (!ip_a->IsRelated(ip_b))
        throw new NotRelatedException;
    i_map[TypePair(ip_a, ip_b)].AddHandler(ip_handler);
    mp_pairMissMap = nullptr;
}

void Data::AddConnectionEventHandler(Type* ip_a, Type* ip_b,
                                     EventHandlerBase<ConnectionInfo&>* ip_handler)
{
    AddPairHandler(m_connectionEventHandlers, ip_a, ip_b, ip_handler);
}

void Data::AddDisconnectionEventHandler(Type* ip_a, Type* ip_b,
                                        EventHandlerBase<ConnectionInfo&>* ip_handler)
{
    AddPairHandler(m_disconnectionEventHandlers, ip_a, ip_b, ip_handler);
}

void Data::NotifyPair(PairHandlers& i_map, Item* ip_a, Item* ip_b)
{
    if (i_map.empty())
        return;
    const TypePair l_pair(ip_a->GetType(), ip_b->GetType());
    if (mp_pairMissMap == &i_map && m_pairMiss == l_pair)
        return;
    auto l_forward = i_map.find(l_pair);
    if (l_forward == i_map.end() &&
        i_map.find(TypePair(ip_b->GetType(), ip_a->GetType())) == i_map.end())
    {
        mp_pairMissMap = &i_map;
        m_pairMiss = l_pair;
        return;
    }
    // Handlers may remove either item or empty these very entries; both stay allocated until
    // the walks are over.
    RemovalScope l_scope(*this);
    PairWalkGuard l_guard(*this);
    if (l_forward != i_map.end())
    {
        ConnectionInfo l_info{ip_a, ip_b};
        l_forward->second.Notify(l_info);
    }
    if (!ip_a->IsAlive() || !ip_b->IsAlive())
        return;
    auto l_backward = i_map.find(TypePair(ip_b->GetType(), ip_a->GetType()));
    if (l_backward != i_map.end())
    {
        ConnectionInfo l_info{ip_b, ip_a};
        l_backward->second.Notify(l_info);
    }
}

bool Data::HearsConnection(Type* ip_a, Type* ip_b) const
{
    if (!ip_a->m_connectedEvent.Empty() || !ip_b->m_connectedEvent.Empty() ||
        !m_connectedEvent.Empty())
        return true;
    return !m_connectionEventHandlers.empty() &&
           (m_connectionEventHandlers.count(TypePair(ip_a, ip_b)) != 0 ||
            m_connectionEventHandlers.count(TypePair(ip_b, ip_a)) != 0);
}

void Data::NotifyConnectionEventHandlers(Item* ip_a, Item* ip_b)
{
    NotifyPair(m_connectionEventHandlers, ip_a, ip_b);
}

void Data::NotifyDisconnectionEventHandlers(Item* ip_a, Item* ip_b)
{
    NotifyPair(m_disconnectionEventHandlers, ip_a, ip_b);
}

void Data::ErasePairEntry(PairHandlers& i_pairs, const TypePair& i_key, bool i_onlyWhenEmpty)
{
    if (m_pairWalks > 0)
    {
        m_pendingPairErasures.push_back(PendingPairErasure{&i_pairs, i_key, i_onlyWhenEmpty});
        return;
    }
    auto l_entry = i_pairs.find(i_key);
    if (l_entry != i_pairs.end() && (!i_onlyWhenEmpty || l_entry->second.Empty()))
        i_pairs.erase(l_entry);
}

void Data::EndPairWalk()
{
    std::vector<PathNodeHandlerInfo*> l_subscriptions;
    l_subscriptions.swap(m_doomedSubscriptions);
    for (PathNodeHandlerInfo* lp_subscription : l_subscriptions)
        DeleteSubscription(lp_subscription);
    std::vector<PendingPairErasure> l_erasures;
    l_erasures.swap(m_pendingPairErasures);
    for (const PendingPairErasure& l_erasure : l_erasures)
        ErasePairEntry(*l_erasure.mp_map, l_erasure.m_key, l_erasure.m_onlyWhenEmpty);
}

// ---- Path subscriptions ----

namespace
{
bool RegistersConnections(PathNodeRelation i_relation)
{
    return i_relation == ConnectedAndNotify || i_relation == NotifyOnConnect;
}

bool RegistersDisconnections(PathNodeRelation i_relation)
{
    return i_relation == NotConnectedAndNotify || i_relation == NotifyOnDisconnect;
}

bool MustBeConnected(PathNodeRelation i_relation)
{
    return i_relation == ConnectedAndNotify || i_relation == Connected;
}

bool MustNotBeConnected(PathNodeRelation i_relation)
{
    return i_relation == NotConnectedAndNotify || i_relation == NotConnected;
}
} // namespace

void Data::GetPathNodePairs(PathNode* ip_node, std::map<TypePair, PathNodePairInfo>& i_pairs)
{
    for (const PathNode::Child& l_child : ip_node->Children())
    {
        i_pairs[TypePair(ip_node->GetType(), l_child.first->GetType())] =
            PathNodePairInfo{ip_node, l_child.first, l_child.second};
        GetPathNodePairs(l_child.first, i_pairs);
    }
}

void Data::AddPathEventHandler(PathNode* ip_root, EventHandlerBase<ItemPtr>* ip_handler)
{
    auto* lp_subscription = new PathNodeHandlerInfo;
    lp_subscription->mp_handler = ip_handler;
    lp_subscription->mp_rootNode = ip_root;
    GetPathNodePairs(ip_root, lp_subscription->m_pairs);
    // A root without edges could never fire.
    if (lp_subscription->m_pairs.empty())
    {
        DeleteSubscription(lp_subscription);
        return;
    }
    // Every triggering pair is checked before any is indexed, so a refused pattern leaves no
    // half-registered subscription behind.
    for (const auto& l_pair : lp_subscription->m_pairs)
    {
        const PathNodeRelation l_relation = l_pair.second.m_relation;
        if ((RegistersConnections(l_relation) || RegistersDisconnections(l_relation)) &&
            !l_pair.first.first->IsRelated(l_pair.first.second))
        {
            DeleteSubscription(lp_subscription);
            throw new NotRelatedException;
        }
    }
    for (const auto& l_pair : lp_subscription->m_pairs)
    {
        const TypePair& l_key = l_pair.first;
        const PathNodeRelation l_relation = l_pair.second.m_relation;
        if (RegistersConnections(l_relation))
        {
            auto l_entry = m_pathConnectionIndex.find(l_key);
            if (l_entry == m_pathConnectionIndex.end())
            {
                auto* lp_own = NewEventHandler(this, &Data::OnPathNodeEventConnection);
                AddConnectionEventHandler(l_key.first, l_key.second, lp_own);
                m_pathConnectionHandlers[l_key] = lp_own;
                l_entry =
                    m_pathConnectionIndex.emplace(l_key, std::set<PathNodeHandlerInfo*>()).first;
            }
            l_entry->second.insert(lp_subscription);
        }
        else if (RegistersDisconnections(l_relation))
        {
            auto l_entry = m_pathDisconnectionIndex.find(l_key);
            if (l_entry == m_pathDisconnectionIndex.end())
            {
                auto* lp_own = NewEventHandler(this, &Data::OnPathNodeEventDisconnection);
                AddDisconnectionEventHandler(l_key.first, l_key.second, lp_own);
                m_pathDisconnectionHandlers[l_key] = lp_own;
                l_entry =
                    m_pathDisconnectionIndex.emplace(l_key, std::set<PathNodeHandlerInfo*>()).first;
            }
            l_entry->second.insert(lp_subscription);
        }
    }
    m_pathSubscriptions.insert(lp_subscription);
}

void Data::OnPathNodeEventConnection(ConnectionInfo& i_info)
{
    OnPathNodeEvent(m_pathConnectionIndex, i_info);
}

void Data::OnPathNodeEventDisconnection(ConnectionInfo& i_info)
{
    OnPathNodeEvent(m_pathDisconnectionIndex, i_info);
}

void Data::OnPathNodeEvent(PathIndex& i_index, ConnectionInfo& i_info)
{
    Item* lp_from = i_info.from;
    Item* lp_to = i_info.to;
    if (!lp_from || !lp_to || !lp_from->IsAlive() || !lp_to->IsAlive())
        return;
    const TypePair l_key(lp_from->GetType(), lp_to->GetType());
    auto l_entry = i_index.find(l_key);
    if (l_entry == i_index.end())
        return;
    const std::vector<PathNodeHandlerInfo*> l_subscriptions(l_entry->second.begin(),
                                                          l_entry->second.end());
    // Handlers may remove items, subscribe, and end subscriptions that this copy still lists.
    RemovalScope l_scope(*this);
    PairWalkGuard l_guard(*this);
    for (PathNodeHandlerInfo* lp_subscription : l_subscriptions)
    {
        if (lp_subscription->m_tornDown)
            continue;
        if (lp_subscription->mp_handler->m_removed)
        {
            RemovePathEventHandler(lp_subscription);
            continue;
        }
        // An earlier handler removed one of the two: this change is over.
        if (!lp_from->IsAlive() || !lp_to->IsAlive())
            continue;
        auto l_pair = lp_subscription->m_pairs.find(l_key);
        if (l_pair == lp_subscription->m_pairs.end())
            continue;
        ItemPtr l_rootItem;
        if (VerifyPathNodeParentNodeConnections(lp_from, l_pair->second.mp_parentNode,
                                                l_pair->second.mp_childNode,
                                                lp_subscription->mp_rootNode, l_rootItem) &&
            l_rootItem &&
            VerifyPathNodeSubNodeConnections(lp_to, l_pair->second.mp_childNode, nullptr))
            lp_subscription->mp_handler->Handle(l_rootItem);
    }
}

bool Data::VerifyPathNodeSubNodeConnections(Item* ip_item, PathNode* ip_node, PathNode* ip_excluded)
{
    if (ip_node->HasItem() && ip_item->GetValue() != ip_node->GetValue())
        return false;
    for (const PathNode::Child& l_child : ip_node->Children())
    {
        if (l_child.first == ip_excluded)
            continue;
        const PathNodeRelation l_relation = l_child.second;
        const ItemSet* lp_connected = ip_item->Connections().FindSet(l_child.first->GetType());
        if (MustBeConnected(l_relation))
        {
            if (!lp_connected)
                return false;
            bool l_matched = false;
            for (ItemPtr l_other : *lp_connected)
                if (VerifyPathNodeSubNodeConnections(l_other.Get(), l_child.first, nullptr))
                {
                    l_matched = true;
                    break;
                }
            if (!l_matched)
                return false;
        }
        else if (MustNotBeConnected(l_relation))
        {
            if (!lp_connected)
                continue;
            bool l_everyMatches = true;
            for (ItemPtr l_other : *lp_connected)
                if (!VerifyPathNodeSubNodeConnections(l_other.Get(), l_child.first, nullptr))
                {
                    l_everyMatches = false;
                    break;
                }
            if (l_everyMatches)
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
bool Data::VerifyPathNodeParentNodeConnections(Item* ip_item, PathNode* ip_node, PathNode* ip_from,
                                               PathNode* ip_root, ItemPtr& i_rootItem)
{
    if (ip_node->HasItem() && ip_item->GetValue() != ip_node->GetValue())
        return false;
    if (!VerifyPathNodeSubNodeConnections(ip_item, ip_node, ip_from))
        return false;
    if (ip_node == ip_root || !ip_node->GetParent())
    {
        i_rootItem = ip_item;
        return true;
    }
    PathNode* lp_parent = ip_node->GetParent();
    const PathNodeRelation l_relation = ip_node->GetRelation();
    const ItemSet* lp_connected = ip_item->Connections().FindSet(lp_parent->GetType());
    if (MustBeConnected(l_relation))
    {
        if (!lp_connected)
            return false;
        for (ItemPtr l_other : *lp_connected)
        {
            ItemPtr l_candidate;
            if (VerifyPathNodeParentNodeConnections(l_other.Get(), lp_parent, ip_node, ip_root,
                                                    l_candidate))
            {
                i_rootItem = l_candidate;
                return true;
            }
        }
        return false;
    }
    if (MustNotBeConnected(l_relation))
    {
        if (!lp_connected)
            return true;
        for (ItemPtr l_other : *lp_connected)
        {
            ItemPtr l_ignored;
            if (!VerifyPathNodeParentNodeConnections(l_other.Get(), lp_parent, ip_node, ip_root,
                                                     l_ignored))
                return true;
        }
        return false;
    }
    return false;
}

void Data::RemovePathEventHandler(PathNodeHandlerInfo* ip_subscription)
{
    if (!ip_subscription || ip_subscription->m_tornDown)
        return;
    ip_subscription->m_tornDown = true;
    for (const auto& l_pair : ip_subscription->m_pairs)
    {
        const PathNodeRelation l_relation = l_pair.second.m_relation;
        if (RegistersConnections(l_relation))
            WithdrawPathPair(m_pathConnectionIndex, m_pathConnectionHandlers,
                             m_connectionEventHandlers, l_pair.first, ip_subscription);
        else if (RegistersDisconnections(l_relation))
            WithdrawPathPair(m_pathDisconnectionIndex, m_pathDisconnectionHandlers,
                             m_disconnectionEventHandlers, l_pair.first, ip_subscription);
    }
    m_pathSubscriptions.erase(ip_subscription);
    if (m_pairWalks > 0)
        m_doomedSubscriptions.push_back(ip_subscription);
    else
        DeleteSubscription(ip_subscription);
}

void Data::WithdrawPathPair(PathIndex& i_index, PathHandlers& i_handlers, PairHandlers& i_pairs,
                            const TypePair& i_key, PathNodeHandlerInfo* ip_subscription)
{
    auto l_entry = i_index.find(i_key);
    if (l_entry == i_index.end())
        return;
    l_entry->second.erase(ip_subscription);
    if (!l_entry->second.empty())
        return;
    i_index.erase(l_entry);
    auto l_own = i_handlers.find(i_key);
    if (l_own == i_handlers.end())
        return;
    EventHandler<Data, ConnectionInfo&>* lp_handler = l_own->second;
    i_handlers.erase(l_own);
    // Flagged, it is never called again; the pair entry frees it once no walk of the entry
    // runs, and freeing takes it out of the store's own handler set.
    lp_handler->m_removed = true;
    auto l_pair = i_pairs.find(i_key);
    if (l_pair == i_pairs.end())
        return;
    l_pair->second.Purge();
    ErasePairEntry(i_pairs, i_key, true);
}

void Data::DeleteSubscription(PathNodeHandlerInfo* ip_subscription)
{
    delete ip_subscription->mp_handler;
    delete ip_subscription->mp_rootNode;
    delete ip_subscription;
}

void Data::ForgetType(Type* ip_type)
{
    std::vector<PathNodeHandlerInfo*> l_naming;
    for (PathNodeHandlerInfo* lp_subscription : m_pathSubscriptions)
        for (const auto& l_pair : lp_subscription->m_pairs)
            if (l_pair.first.first == ip_type || l_pair.first.second == ip_type)
            {
                l_naming.push_back(lp_subscription);
                break;
            }
    for (PathNodeHandlerInfo* lp_subscription : l_naming)
        RemovePathEventHandler(lp_subscription);
    for (PairHandlers* lp_pairs : {&m_connectionEventHandlers, &m_disconnectionEventHandlers})
    {
        std::vector<TypePair> l_keys;
        for (const auto& l_entry : *lp_pairs)
            if (l_entry.first.first == ip_type || l_entry.first.second == ip_type)
                l_keys.push_back(l_entry.first);
        for (const TypePair& l_key : l_keys)
            ErasePairEntry(*lp_pairs, l_key, false);
    }
}

// ---- Store queries ----

void Data::GetItems(ItemSet& i_members, const char* ip_typeName, ItemSet& o_out)
{
    o_out = GetItems(static_cast<const ItemSet&>(i_members), ip_typeName);
}

ItemSet Data::GetItems(const ItemSet& i_members, const char* ip_typeName)
{
    return i_members.GetItems(GetType(ip_typeName));
}

ItemSet Data::GetItemSubset(const ItemSet& i_members, const char* ip_typeName)
{
    Type* lp_type = GetType(ip_typeName);
    if (i_members.Empty())
        return ItemSet();
    // Start from the member with the fewest connected items; equal counts keep set order.
    std::vector<std::pair<std::size_t, const ItemSet*>> l_byCount;
    for (ItemPtr l_member : i_members)
    {
        const ItemSet* lp_connected = l_member->Connections().FindSet(lp_type);
        if (!lp_connected)
            return ItemSet();
        l_byCount.emplace_back(lp_connected->Size(), lp_connected);
    }
    std::stable_sort(l_byCount.begin(), l_byCount.end(),
                     [](const auto& i_a, const auto& i_b) { return i_a.first < i_b.first; });
    ItemSet l_candidates = *l_byCount.front().second;
    for (std::size_t l_n = 1; l_n < l_byCount.size(); ++l_n)
    {
        const ItemSet& l_connected = *l_byCount[l_n].second;
        const ItemSet l_before(l_candidates);
        for (ItemPtr l_candidate : l_before)
            if (!l_connected.Contains(l_candidate))
                l_candidates.Erase(l_candidate);
        if (l_candidates.Empty())
            return ItemSet();
    }
    return l_candidates;
}

ItemSet Data::GetItems(ItemPtr i_a, ItemPtr i_b, const char* ip_typeName)
{
    ItemSet l_members;
    l_members.Insert(i_a);
    l_members.Insert(i_b);
    return GetItemSubset(l_members, ip_typeName);
}

ItemPtr Data::GetItem(const ItemSet& i_members, const char* ip_typeName)
{
    return GetItemSubset(i_members, ip_typeName);
}

ItemPtr Data::GetItem(ItemPtr i_a, ItemPtr i_b, const char* ip_typeName)
{
    return GetItems(i_a, i_b, ip_typeName);
}

ItemSet i(const char* ip_typeName, const Value& i_value)
{
    return ItemSet(d.GetType(ip_typeName)->HasItem(i_value));
}

ItemSet g(const char* ip_typeName)
{
    return d.GetType(ip_typeName)->GetItems();
}
