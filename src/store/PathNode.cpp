#include "store/PathNode.h"

#include "store/Data.h"

PathNode::PathNode(Data* data, const char* typeName)
    : mp_data(data), mp_type(data->GetType(typeName))
{
}

PathNode::PathNode(ItemPtr item)
    : mp_data(item->GetType()->GetData()), mp_type(item->GetType()), m_hasItem(true),
      m_value(item->GetValue())
{
}

PathNode::PathNode(PathNode* parent, const char* typeName, PathNodeRelation relation)
    : mp_data(parent->mp_data), mp_parent(parent), m_relation(relation),
      mp_type(parent->mp_data->GetType(typeName))
{
    Attach();
}

PathNode::PathNode(PathNode* parent, ItemPtr item, PathNodeRelation relation)
    : mp_data(parent->mp_data), mp_parent(parent), m_relation(relation),
      mp_type(item->GetType()), m_hasItem(true), m_value(item->GetValue())
{
    Attach();
}

PathNode::~PathNode()
{
    std::set<Child> children;
    children.swap(m_children);
    for (const Child& child : children)
    {
        child.first->mp_parent = nullptr;
        delete child.first;
    }
    // A node deleted on its own leaves no dangling child entry in its parent.
    if (mp_parent)
        mp_parent->m_children.erase(Child(this, m_relation));
}

void PathNode::Attach()
{
    mp_parent->m_children.insert(Child(this, m_relation));
}

bool PathNode::Matches(const Item* item) const
{
    return item->GetType() == mp_type && (!m_hasItem || item->GetValue() == m_value);
}
