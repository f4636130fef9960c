#pragma once

#include <set>
#include <utility>

#include "store/ItemPtr.h"
#include "store/PathNodeRelation.h"
#include "store/Value.h"

class Data;
class Type;

// One node of a path subscription's pattern: a type, or one item of it (anchored by value), and
// the child nodes that must, or must not, be connected to an item matching this node. A node
// owns its children; the store owns a pattern once it is handed to Data::AddPathEventHandler.
class PathNode
{
public:
    using Child = std::pair<PathNode*, PathNodeRelation>;

    // A root matching every item of the named type.
    PathNode(Data* ip_data, const char* ip_typeName);
    // A root matching the items of the item's type whose value is the item's value.
    explicit PathNode(ItemPtr i_item);
    // Children hang themselves under the parent.
    PathNode(PathNode* ip_parent, const char* ip_typeName, PathNodeRelation i_relation);
    PathNode(PathNode* ip_parent, ItemPtr i_item, PathNodeRelation i_relation);
    ~PathNode();

    PathNode(const PathNode&) = delete;
    PathNode& operator=(const PathNode&) = delete;

    Data* GetData() const { return mp_data; }
    PathNode* GetParent() const { return mp_parent; }
    PathNodeRelation GetRelation() const { return m_relation; }
    Type* GetType() const { return mp_type; }
    bool HasItem() const { return m_hasItem; }
    const Value& GetValue() const { return m_value; }
    const std::set<Child>& Children() const { return m_children; }

    // Whether the item is of this node's type and, when anchored, has its value.
    bool Matches(const Item* ip_item) const;

private:
    void Attach();

    Data* mp_data;
    PathNode* mp_parent = nullptr;
    PathNodeRelation m_relation = ConnectedAndNotify;
    Type* mp_type;
    bool m_hasItem = false;
    Value m_value;
    std::set<Child> m_children;
};
