#include "store/PathNode.h"

#include "store/Data.h"

PathNode::PathNode(Data* ip_data, const char* ip_typeName)
    : mp_data(ip_data), mp_type(ip_data->GetType(ip_typeName))
{
}

PathNode::PathNode(ItemPtr i_item)
    : mp_data(i_item->GetType()->GetData()), mp_type(i_item->GetType()), m_hasItem(true),
      m_value(i_item->GetValue())
{
}

PathNode::PathNode(PathNode* ip_parent, const char* ip_typeName, PathNodeRelation i_relation)
    : mp_data(ip_parent->mp_data), mp_parent(ip_parent), m_relation(i_relation),
      mp_type(ip_parent->mp_data->GetType(ip_typeName))
{
    Attach();
}

PathNode::PathNode(PathNode* ip_parent, ItemPtr i_item, PathNodeRelation i_relation)
    : mp_data(ip_parent->mp_data), mp_parent(ip_parent), m_relation(i_relation),
      mp_type(i_item->GetType()), m_hasItem(true), m_value(i_item->GetValue())
{
    Attach();
}

PathNode::~PathNode()
{
    std::set<Child> l_children;
    l_children.swap(m_children);
    for (const Child& l_child : l_children)
    {
        l_child.first->mp_parent = nullptr;
        delete l_child.first;
    }
    // A node deleted on its own leaves no dangling child entry in its parent.
    if (mp_parent)
        mp_parent->m_children.erase(Child(this, m_relation));
}

void PathNode::Attach()
{
    mp_parent->m_children.insert(Child(this, m_relation));
}

bool PathNode::Matches(const Item* ip_item) const
{
    return ip_item->GetType() == mp_type && (!m_hasItem || ip_item->GetValue() == m_value);
}
