#pragma once

#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "store/Data.h"

// Helpers shared by the store core tests: an event recorder and a textual picture of the store.
namespace store_testing
{
using Log = std::vector<std::string>;

// An item as the logs show it: its value, or "(type)" for an item of a null type.
inline std::string Name(const Item* item)
{
    if (!item)
        return "null";
    if (item->GetValue().Empty())
        return "(" + item->GetType()->GetName() + ")";
    return item->GetValue().Bytes();
}

// Appends one line per event it watches to a shared log, prefixed with its tag:
// "<tag> new x", "<tag> + from to", "<tag> - from to", "<tag> type name".
class EventTap : public DataHandler
{
public:
    EventTap(Log& log, std::string tag) : m_log(log), m_tag(std::move(tag)) {}

    void WatchType(Type* type)
    {
        type->m_newItemEvent.AddHandler(NewEventHandler(this, &EventTap::OnNewItem));
        type->m_connectedEvent.AddHandler(NewEventHandler(this, &EventTap::OnConnected));
        type->m_disconnectedEvent.AddHandler(NewEventHandler(this, &EventTap::OnDisconnected));
    }

    void WatchStore()
    {
        d.m_newTypeEvent.AddHandler(NewEventHandler(this, &EventTap::OnNewType));
        d.m_newItemEvent.AddHandler(NewEventHandler(this, &EventTap::OnNewItem));
        d.m_connectedEvent.AddHandler(NewEventHandler(this, &EventTap::OnConnected));
        d.m_disconnectedEvent.AddHandler(NewEventHandler(this, &EventTap::OnDisconnected));
    }

    void WatchPair(Type* a, Type* b)
    {
        d.AddConnectionEventHandler(a, b, NewEventHandler(this, &EventTap::OnPairConnected));
        d.AddDisconnectionEventHandler(a, b, NewEventHandler(this, &EventTap::OnPairDisconnected));
    }

    void OnNewType(Type* type) { m_log.push_back(m_tag + " type " + type->GetName()); }
    void OnNewItem(ItemPtr item) { m_log.push_back(m_tag + " new " + Name(item.Get())); }
    void OnConnected(ConnectionInfo info) { Pair("+", info); }
    void OnDisconnected(ConnectionInfo info) { Pair("-", info); }
    void OnPairConnected(ConnectionInfo& info) { Pair("+", info); }
    void OnPairDisconnected(ConnectionInfo& info) { Pair("-", info); }

private:
    void Pair(const char* sign, const ConnectionInfo& info)
    {
        m_log.push_back(m_tag + " " + sign + " " + Name(info.from) + " " + Name(info.to));
    }

    Log& m_log;
    std::string m_tag;
};

// Every type with its flags and relations, every item with its connections, as text; two
// pictures are equal when a call has changed nothing in the store.
inline std::string Snapshot()
{
    std::ostringstream out;
    for (const auto& entry : d.Types())
    {
        const Type* type = entry.second;
        out << entry.first << ' ' << type->GetPrimacy() << type->IsNull() << type->IsAutoCreate()
            << " items " << type->ItemCount() << '\n';
        for (const auto& relation : type->Relations())
            out << "  ~" << relation.first->GetName() << ' ' << relation.second.thisSide
                << relation.second.otherSide << relation.second.owns << relation.second.ownedBy
                << '\n';
        for (ItemPtr item : type->GetItems())
        {
            out << "  " << Name(item.Get()) << ':';
            const TypeItemsMap& connections = item->Connections();
            for (auto it = connections.Begin(); it != connections.End(); ++it)
                for (ItemPtr other : *it.Set())
                    out << ' ' << it.GetType()->GetName() << '/' << Name(other.Get());
            out << '\n';
        }
    }
    return out.str();
}
} // namespace store_testing

// Readable failure messages for handles and sets.
inline void PrintTo(ItemPtr item, std::ostream* out)
{
    *out << store_testing::Name(item.Get());
}

inline void PrintTo(const ItemSet& set, std::ostream* out)
{
    *out << '{';
    for (ItemPtr item : set)
        *out << ' ' << store_testing::Name(item.Get());
    *out << " }";
}
