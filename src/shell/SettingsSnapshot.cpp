#include "shell/SettingsSnapshot.h"

#include "store/Data.h"
#include "store/Item.h"
#include "store/ItemPtr.h"
#include "store/Type.h"

SettingsSnapshot SettingsSnapshot::Take()
{
    SettingsSnapshot l_snapshot;
    l_snapshot.m_saved = TakeScope("global");
    l_snapshot.m_unsaved = TakeScope("vglobal");
    return l_snapshot;
}

void SettingsSnapshot::Restore() const
{
    RestoreScope("global", m_saved);
    RestoreScope("vglobal", m_unsaved);
}

SettingsSnapshot::Pairs SettingsSnapshot::TakeScope(const char* i_keyType)
{
    Pairs l_pairs;
    Type* lp_keys = d.HasType(i_keyType);
    if (!lp_keys)
        return l_pairs;
    for (const auto& l_entry : lp_keys->ItemsByValue())
    {
        const ItemPtr l_value = ItemPtr(l_entry.second)["global_value"];
        if (l_value)
            l_pairs.emplace_back(l_entry.first, l_value.GetValue());
    }
    return l_pairs;
}

void SettingsSnapshot::RestoreScope(const char* i_keyType, const Pairs& i_pairs)
{
    if (i_pairs.empty())
        return;
    Type* lp_keys = d.GetType(i_keyType);
    Type* lp_values = d.GetType("global_value");
    for (const auto& l_pair : i_pairs)
        lp_keys->NewItem(l_pair.first) += lp_values->NewItem(l_pair.second);
}
