#pragma once

#include "store/ItemPtr.h"
#include "store/Value.h"

#include <QString>

// Settings are `global` items (saved with the store) or `vglobal` items (not saved), whose value
// is the key, each connected to one `global_value` item holding the text. The relation is one
// value per key, so writing a new text replaces the old one. Flags are "yes" or "no".
enum class SettingScope
{
    Saved,   // `global`
    Unsaved, // `vglobal`
};

// The key's `global_value` item, or null when the key has no value. Reading never creates items.
ItemPtr SettingValueItem(const QString& i_key, SettingScope i_scope = SettingScope::Saved);

// The key's text; empty when unset.
QString GetSetting(const QString& i_key, SettingScope i_scope = SettingScope::Saved);

// The key's text as a number; 0 when unset or not a number.
qint64 GetSettingInt(const QString& i_key, SettingScope i_scope = SettingScope::Saved);

// Whether the key's value is the `global_value` item "yes".
bool IsSettingYes(const QString& i_key, SettingScope i_scope = SettingScope::Saved);

// Connects the key's item (created on demand) to the `global_value` item of the text.
void SetSetting(const QString& i_key, const Value& i_value,
                SettingScope i_scope = SettingScope::Saved);

// Writes "yes" or "no".
void SetFlagSetting(const QString& i_key, bool i_yes, SettingScope i_scope = SettingScope::Saved);

// Writes the value only when the key has none yet; returns whether it wrote.
bool SetSettingIfUnset(const QString& i_key, const Value& i_value,
                       SettingScope i_scope = SettingScope::Saved);
