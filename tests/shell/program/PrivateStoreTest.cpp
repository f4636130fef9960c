#include <QRegularExpression>

#include "ProgramFixture.h"
#include "support/support/FileModes.h"

namespace
{
// What the home folder holds before the client starts there.
struct StoreBefore
{
    const char* name;
    enum { None, Good, Damaged } kind;
    mode_t mode;
};

const StoreBefore g_stores[] = {
    {"FirstStart", StoreBefore::None, 0},
    {"StoreKeptPrivate", StoreBefore::Good, 0600},
    {"StoreAnEarlierVersionLeftOpenToAll", StoreBefore::Good, 0644},
    {"DamagedStoreOpenToAll", StoreBefore::Damaged, 0644},
};

void PrintTo(const StoreBefore& i_store, std::ostream* op_out)
{
    *op_out << i_store.name;
}
} // namespace

// The store holds the password. Under the usual umask, the client keeps it, whatever it found,
// and every copy it makes of it, readable and writable by its owner only.
class PrivateStore : public ProgramFixture, public ::testing::WithParamInterface<StoreBefore>
{
protected:
    // "name mode" of every file of the store's, a kept damaged store's date and time left out.
    QStringList StoreFiles() const
    {
        return FileModes(Home()).filter(QRegularExpression("^\\.Tarnwick"))
            .replaceInStrings(QRegularExpression("damaged-[-0-9]+"), "damaged");
    }
};
INSTANTIATE_TEST_SUITE_P(Stores, PrivateStore, ::testing::ValuesIn(g_stores),
                         [](const auto& i_info) { return std::string(i_info.param.name); });

TEST_P(PrivateStore, StaysTheOwnersAlone)
{
    const StoreBefore& l_before = GetParam();
    const ScopedUmask l_umask(022);
    const StoreFile l_store = StoreFile().Setting("password", "secret").Setting("use_upnp", "no");
    if (l_before.kind != StoreBefore::None)
    {
        ASSERT_TRUE(l_before.kind == StoreBefore::Good ? l_store.WriteTo(StorePath())
                                                       : WriteFile(StorePath(), l_store.Bytes().left(20)));
        ASSERT_EQ(::chmod(QFile::encodeName(StorePath()).constData(), l_before.mode), 0);
    }
    Start();
    ASSERT_EQ(m_loaded, l_before.kind == StoreBefore::Good ? QStringList{"loaded"}
                                                           : QStringList({"loaded", "no data"}));
    const QStringList l_kept =
        l_before.kind == StoreBefore::Damaged ? QStringList{".Tarnwick.damaged 600"} : QStringList();
    EXPECT_EQ(StoreFiles(), l_before.kind == StoreBefore::Good
                                ? QStringList{".Tarnwick " + QString::number(l_before.mode, 8)}
                                : l_kept);

    SetSetting("password", "secret");
    mp_window->EveryFiveMinutes();
    EXPECT_EQ(StoreFiles(), QStringList{".Tarnwick 600"} + l_kept);
    EXPECT_TRUE(StoreBytes().contains("secret"));
    // The last save, at shut-down.
    mp_window.reset();
    EXPECT_EQ(StoreFiles(), QStringList{".Tarnwick 600"} + l_kept);
}
