#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "store/Data.h"
#include "store/DataSaver.h"
#include "support/TestSupport.h"

// What the store keeps to itself and its tests look at.
class StoreTesting
{
public:
    // "handler/subscriptions/pair handlers" that the path index holds for a pair of types.
    static std::string PathIndex(Type* ip_a, Type* ip_b, bool i_onConnect)
    {
        const Data::TypePair l_key(ip_a, ip_b);
        const auto& l_index = i_onConnect ? d.m_pathConnectionIndex : d.m_pathDisconnectionIndex;
        const auto& l_pairs = i_onConnect ? d.m_connectionEventHandlers : d.m_disconnectionEventHandlers;
        const auto l_subscriptions = l_index.find(l_key);
        const auto l_pair = l_pairs.find(l_key);
        return std::to_string((i_onConnect ? d.m_pathConnectionHandlers : d.m_pathDisconnectionHandlers).count(l_key)) +
               "/" + std::to_string(l_subscriptions == l_index.end() ? 0 : l_subscriptions->second.size()) + "/" +
               std::to_string(l_pair == l_pairs.end() ? 0 : HandlerCount(l_pair->second));
    }
    template <class T>
    static std::size_t HandlerCount(const Event<T>& i_event) { return i_event.m_handlers.size(); }
    static void SetWriteLimit(DataSaver& io_saver, qint64 i_bytes) { io_saver.m_writeLimit = i_bytes; }
};

// What the store core tests share: an event recorder, a textual picture of the store and the
// schema most of them need.
using Log = std::vector<std::string>;

// Store file bytes, field by field.
struct FileBytes
{
    FileBytes& Int(std::int32_t i_value)
    {
        for (int l_shift = 0; l_shift < 32; l_shift += 8)
            bytes.push_back(static_cast<char>((static_cast<std::uint32_t>(i_value) >> l_shift) & 0xff));
        return *this;
    }
    FileBytes& Flag(bool i_value) { return bytes.push_back(i_value ? 1 : 0), *this; }
    FileBytes& Text(const std::string& i_text) { return Int(static_cast<std::int32_t>(i_text.size())), bytes += i_text, *this; }
    // A type's header: name, valueless flag, item count.
    FileBytes& Type(const std::string& i_name, bool i_null, std::int32_t i_count) { return Text(i_name).Flag(i_null).Int(i_count); }
    std::string bytes;
};

// An item's value, or "(type)" for an item of a null type.
inline std::string Name(const Item* item)
{
    if (!item)
        return "null";
    if (item->GetValue().Empty())
        return "(" + item->GetType()->GetName() + ")";
    return std::string(item->GetValue().Bytes());
}

// Appends one line per event to a log: "<tag> new x", "<tag> + from to", "<tag> - from to",
// "<tag> type name", "<tag> removed x", or "<tag> x" ("x" without a tag) for a path or plain
// item handler. The actions run inside the events they follow.
class EventTap : public DataHandler
{
public:
    explicit EventTap(std::string tag = {}) : m_log(&calls), m_tag(std::move(tag)) {}
    EventTap(Log& log, std::string tag) : m_log(&log), m_tag(std::move(tag)) {}

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
    void WatchRemovals(Event<ItemPtr>& event) { event.AddHandler(NewEventHandler(this, &EventTap::OnRemoved)); }
    void WatchConnections(Event<ConnectionInfo>& event) { event.AddHandler(NewEventHandler(this, &EventTap::OnConnected)); }
    void WatchDisconnections(Event<ConnectionInfo>& event) { event.AddHandler(NewEventHandler(this, &EventTap::OnDisconnected)); }
    EventHandlerBase<ItemPtr>* Handler() { return NewEventHandler(this, &EventTap::OnItem); }
    void Subscribe(Event<ItemPtr>& event) { event.AddHandler(Handler()); }
    std::size_t HandlerCount() const { return m_handlers.size(); }

    void OnNewType(Type* type) { Add("type " + type->GetName()); }
    void OnNewItem(ItemPtr item) { Note("new ", item); }
    void OnRemoved(ItemPtr item) { Note("removed ", item); }
    void OnItem(ItemPtr item) { Note("", item); }
    void OnConnected(ConnectionInfo info) { Pair("+ ", info); }
    void OnDisconnected(ConnectionInfo info) { Pair("- ", info); }
    void OnPairConnected(ConnectionInfo& info) { Pair("+ ", info); }
    void OnPairDisconnected(ConnectionInfo& info) { Pair("- ", info); }

    Log calls;
    std::function<void(ItemPtr)> onItem;
    std::function<void(ConnectionInfo)> onPair;

private:
    void Add(const std::string& line) { m_log->push_back(m_tag.empty() ? line : m_tag + " " + line); }
    void Note(const char* what, ItemPtr item)
    {
        Add(what + Name(item.Get()));
        if (onItem)
            onItem(item);
    }
    void Pair(const char* sign, const ConnectionInfo& info)
    {
        Add(sign + Name(info.from) + " " + Name(info.to));
        if (onPair)
            onPair(info);
    }

    Log* m_log;
    std::string m_tag;
};

inline std::size_t Count(const Log& log, const std::string& line)
{
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), line));
}

inline ItemSet SetOf(std::initializer_list<ItemPtr> items)
{
    ItemSet set;
    for (ItemPtr item : items)
        set.Insert(item);
    return set;
}

// The members' names, sorted and joined by blanks: "alice bob".
inline std::string Names(const ItemSet& items)
{
    std::vector<std::string> names;
    for (ItemPtr item : items)
        names.push_back(Name(item.Get()));
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const std::string& name : names)
        joined += (joined.empty() ? "" : " ") + name;
    return joined;
}
inline std::string Names(const Type* type) { return Names(type->GetItems()); }

// Settings (a setting holds one value, a user many), users in rooms, and a shared online flag.
struct Schema
{
    explicit Schema(bool valuesAutoCreate = true) : value(d.NewType("global_value", Leaf, false, valuesAutoCreate))
    {
        global->RelateToType(value, Many, One, false);
        user->RelateToType(value, Many, Many, false);
        user->RelateToType(room, Many, Many, false);
        user->RelateToType(online, Many, One, false);
    }
    Type* global = d.NewType("global", Primary, false, true);
    Type* value;
    Type* user = d.NewType("user", Primary, false, true);
    Type* room = d.NewType("room", Primary, false, true);
    Type* online = d.NewType("is_online", Leaf, true, false);
};

// The shared schema as a test fixture: TEST_F of a name that stands for this class.
struct SchemaTest : ::testing::Test, Schema
{
};

// Every type with its flags and relations, every item with its connections, as text in an
// order that does not depend on addresses: two pictures are equal when a call has changed
// nothing in the store, or when a load has brought back what was saved.
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
        Log items;
        for (ItemPtr item : type->GetItems())
        {
            Log connected;
            const TypeItemsMap& connections = item->Connections();
            for (auto it = connections.Begin(); it != connections.End(); ++it)
                for (ItemPtr other : *it.Set())
                    connected.push_back(" " + it.GetType()->GetName() + "/" + Name(other.Get()));
            std::sort(connected.begin(), connected.end());
            items.push_back("  " + Name(item.Get()) + ":");
            for (const std::string& line : connected)
                items.back() += line;
        }
        std::sort(items.begin(), items.end());
        for (const std::string& line : items)
            out << line << '\n';
    }
    return out.str();
}
