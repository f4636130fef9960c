#pragma once

#include <utility>
#include <vector>

#include "store/Value.h"

// Every setting as it stands, saved and unsaved, to be written back later. The start-up takes
// one just before the store file is read: a file that fails to load empties the store, and the
// defaults that every component wrote before the load are put back from it.
class SettingsSnapshot
{
public:
    static SettingsSnapshot Take();
    // Writes each key's text again; keys written since keep their new value only when the
    // snapshot had none for them.
    void Restore() const;
    std::size_t Size() const { return m_saved.size() + m_unsaved.size(); }

private:
    using Pairs = std::vector<std::pair<Value, Value>>;
    static Pairs TakeScope(const char* i_keyType);
    static void RestoreScope(const char* i_keyType, const Pairs& i_pairs);

    Pairs m_saved;
    Pairs m_unsaved;
};
