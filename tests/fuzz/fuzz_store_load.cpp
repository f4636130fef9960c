// Loads arbitrary bytes as a store file: a damaged file must fail with DataLoadFailure and an
// empty store, never crash, hang or exhaust memory.
#include <QFile>
#include <QTemporaryDir>

#include "store/DataSaver.h"
#include "support/support/ClientSchema.h"

namespace
{
// A small schema with valued and valueless types, a One side that replaces and a Many side.
struct Target
{
    Target()
    {
        DeclareSettingsTypes();
        DeclareTypes({{"user", Primary, false, true}, {"user_note", Leaf, false, false},
                      {"is_ignored", Leaf, true, false}, {"room", Primary, false, true}});
        DeclareRelations({{"user", "user_note", One, One}, {"user", "is_ignored", Many, One}, {"user", "room", Many, Many}});
        m_saver.AddSavedType("global");
        m_saver.AddSavedByConnectionType("global_value", "global");
        m_saver.AddSavedType("user_note");
        m_saver.AddSavedType("is_ignored");
        m_saver.AddSavedByConnectionType("user", "user_note");
        m_saver.AddSavedByConnectionType("user", "is_ignored");
    }

    QTemporaryDir m_folder;
    QString m_path = m_folder.path() + "/store";
    DataSaver m_saver;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* ip_data, std::size_t i_size)
{
    static Target s_target;
    {
        QFile l_file(s_target.m_path);
        if (!l_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        l_file.write(reinterpret_cast<const char*>(ip_data), static_cast<qint64>(i_size));
    }
    // A default written before the load, as the shell does.
    d.GetType("global")->GetItem("username") += d.GetType("global_value")->NewItem("default");
    try
    {
        s_target.m_saver.Load(s_target.m_path);
    }
    catch (const DataLoadFailure&)
    {
        // The failed load must have emptied the store.
        for (const auto& l_type : d.Types())
            if (l_type.second->ItemCount() != 0)
                __builtin_trap();
    }
    d.RemoveAllItems();
    return 0;
}
