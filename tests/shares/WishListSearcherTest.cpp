#include <QSignalSpy>
#include <QTimer>

#include <memory>

#include "peer/PeerMessenger.h"
#include "shares/WishListSearcher.h"
#include "store/Settings.h"
#include "support/support/LogLines.h"
#include "support/support/ServerFixture.h"

// beta, alpha and gamma enabled, delta not. Neither engine needs the link when it goes.
class WishList : public ServerFixture
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        mp_messenger = std::make_unique<PeerMessenger>();
        WishListSearcher::CreateData();
        mp_searcher = std::make_unique<WishListSearcher>();
        for (const char* l_text : {"beta", "alpha", "gamma"})
            d.GetType("wish_list_item")->GetItem(l_text).NewItem("wish_list_item_enabled");
        d.GetType("wish_list_item")->GetItem("delta");
    }

    QTimer* Timer() const { return mp_searcher->findChild<QTimer*>(); }
    static QString Index() { return GetSetting("wish_list_search_index", SettingScope::Unsaved); }

    // Each tick's wish-list search, with the index it leaves behind.
    QStringList Ticks(int i_count, const char* i_index = nullptr)
    {
        if (i_index)
            ::SetSetting("wish_list_search_index", i_index, SettingScope::Unsaved);
        QSignalSpy l_searches(mp_server.get(), &Server::SearchRequested);
        QStringList l_sent;
        for (int l_tick = 0; l_tick < i_count; ++l_tick, l_searches.clear())
        {
            Tick(Timer());
            for (const QList<QVariant>& l_search : l_searches)
                l_sent << l_search.at(1).toString() + (l_search.at(2).toBool() ? " " : "! ") + Index();
        }
        return l_sent;
    }

    std::unique_ptr<PeerMessenger> mp_messenger;
    std::unique_ptr<WishListSearcher> mp_searcher;
    LogLines m_log;
};

TEST_F(WishList, EnabledEntriesGoOutInAlphabeticalOrderOnePerTick)
{
    EXPECT_EQ(Ticks(4), QStringList({"alpha 1", "beta 2", "gamma 0", "alpha 1"}));
    // Two entries were removed since the index was stored.
    EXPECT_EQ(Ticks(1, "7"), QStringList("beta 0"));
    EXPECT_EQ(Ticks(1, "-3"), QStringList("alpha 0"));
    EXPECT_EQ(m_log.Count("Wish List: Sent wish list search: alpha"), 3);
    d.GetType("wish_list_item_enabled")->GetGlobalNullItem().Remove();
    EXPECT_EQ(Ticks(2, "2"), QStringList());
    EXPECT_EQ(Index(), "2");
}

TEST_F(WishList, TheServersWaitSetsThePeriodAndAZeroWaitStopsTheSearches)
{
    EXPECT_FALSE(Timer()->isActive());
    ASSERT_TRUE(LogIn());
    m_fake.SendFrame(104, WireFields().UInt32(120));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Timer()->isActive(); }, 5000));
    const struct
    {
        uint wait;
        int interval; // 0: stopped
        const char* logged;
    } l_cases[] = {{120, 120000, "Wish list wait period set to 120000 milliseconds"},
                   {0, 0, "Wish list wait period of 0 ignored"},
                   {4294967295u, 2147483000, "Wish list wait period set to 2147483000 milliseconds"},
                   {1, 1000, "Wish list wait period set to 1000 milliseconds"}};
    for (const auto& l_case : l_cases)
    {
        m_log.m_lines.clear();
        mp_searcher->OnWishListWait(l_case.wait);
        EXPECT_EQ(GetSetting("wish_list_wait", SettingScope::Unsaved), QString::number(l_case.wait));
        EXPECT_EQ(Timer()->isActive() ? Timer()->interval() : 0, l_case.interval);
        EXPECT_EQ(m_log.Count(QString("Wish List: ") + l_case.logged), 1);
    }
}
