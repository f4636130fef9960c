#include "store/RemovalScope.h"

#include <vector>

#include "store/Data.h"

RemovalScope::RemovalScope(Data& i_data) : m_data(i_data)
{
    ++m_data.m_removalDepth;
}

RemovalScope::~RemovalScope()
{
    if (--m_data.m_removalDepth != 0 || m_data.m_removedItems.empty())
        return;
    std::vector<Item*> l_removed;
    l_removed.swap(m_data.m_removedItems);
    for (Item* lp_item : l_removed)
        delete lp_item;
}
