#include "store/Settings.h"

#include "store/Data.h"
#include "store/Type.h"

namespace
{
const char* ScopeTypeName(SettingScope i_scope)
{
    return i_scope == SettingScope::Saved ? "global" : "vglobal";
}
} // namespace

ItemPtr SettingValueItem(const QString& i_key, SettingScope i_scope)
{
    Type* lp_keys = d.HasType(ScopeTypeName(i_scope));
    if (!lp_keys)
        return ItemPtr();
    return lp_keys->HasItem(i_key)["global_value"];
}

QString GetSetting(const QString& i_key, SettingScope i_scope)
{
    return SettingValueItem(i_key, i_scope).AsString();
}

qint64 GetSettingInt(const QString& i_key, SettingScope i_scope)
{
    return SettingValueItem(i_key, i_scope).AsInt64();
}

bool IsSettingYes(const QString& i_key, SettingScope i_scope)
{
    ItemPtr l_value = SettingValueItem(i_key, i_scope);
    return l_value && l_value.AsString() == QLatin1String("yes");
}

void SetSetting(const QString& i_key, const Value& i_value, SettingScope i_scope)
{
    d.GetType(ScopeTypeName(i_scope))->NewItem(i_key) +=
        d.GetType("global_value")->NewItem(i_value);
}

void SetFlagSetting(const QString& i_key, bool i_yes, SettingScope i_scope)
{
    SetSetting(i_key, i_yes ? "yes" : "no", i_scope);
}

bool SetSettingIfUnset(const QString& i_key, const Value& i_value, SettingScope i_scope)
{
    if (SettingValueItem(i_key, i_scope))
        return false;
    SetSetting(i_key, i_value, i_scope);
    return true;
}
