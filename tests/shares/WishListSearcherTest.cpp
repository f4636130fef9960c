#include <QSignalSpy>
#include <QTimer>

#include <memory>

#include "peer/PeerMessenger.h"
#include "shares/WishListSearcher.h"
#include "store/Settings.h"
#include "support/support/LogLines.h"
#include "support/support/ServerFixture.h"

class WishList : public ServerFixture
{
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        mp_messenger = std::make_unique<PeerMessenger>();
        WishListSearcher::CreateData();
        mp_searcher = std::make_unique<WishListSearcher>();
        mp_timer = mp_searcher->findChild<QTimer*>();
        for (const char* l_text : {"beta", "alpha", "gamma", "delta"})
            d.GetType("wish_list_item")->GetItem(l_text);
        for (const char* l_text : {"beta", "alpha", "gamma"})
            d.GetType("wish_list_item")->GetItem(l_text) +=
                d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
    }

    void TearDown() override
    {
        mp_searcher.reset();
        mp_messenger.reset();
        ServerFixture::TearDown();
    }

    static QString Index() { return GetSetting("wish_list_search_index", SettingScope::Unsaved); }

    // The texts of the wish-list searches the ticks send, each with the index it leaves.
    QStringList Ticks(int i_count)
    {
        QSignalSpy l_searches(mp_server.get(), &Server::SearchRequested);
        QStringList l_sent;
        for (int l_tick = 0; l_tick < i_count; ++l_tick)
        {
            Tick(mp_timer);
            for (const QList<QVariant>& l_search : l_searches)
                l_sent << QString("%1%2 %3").arg(l_search.at(1).toString(), l_search.at(2).toBool() ? "" : "!", Index());
            l_searches.clear();
        }
        return l_sent;
    }

    std::unique_ptr<PeerMessenger> mp_messenger;
    std::unique_ptr<WishListSearcher> mp_searcher;
    QTimer* mp_timer = nullptr;
    LogLines m_log;
};

TEST_F(WishList, EnabledEntriesGoOutInAlphabeticalOrderOnePerTick)
{
    EXPECT_EQ(Ticks(4), QStringList({"alpha 1", "beta 2", "gamma 0", "alpha 1"}));
    // Two entries were removed since the index was stored.
    ::SetSetting("wish_list_search_index", "7", SettingScope::Unsaved);
    EXPECT_EQ(Ticks(1), QStringList("beta 0"));
    ::SetSetting("wish_list_search_index", "-3", SettingScope::Unsaved);
    EXPECT_EQ(Ticks(1), QStringList("alpha 0"));
    EXPECT_EQ(m_log.Count("Wish List: Sent wish list search: alpha"), 3);

    d.GetType("wish_list_item_enabled")->GetGlobalNullItem().Remove();
    ::SetSetting("wish_list_search_index", "2", SettingScope::Unsaved);
    EXPECT_EQ(Ticks(2), QStringList());
    EXPECT_EQ(Index(), "2");
}

TEST_F(WishList, TheServersWaitSetsThePeriodAndAZeroWaitStopsTheSearches)
{
    EXPECT_FALSE(mp_timer->isActive());
    ASSERT_TRUE(LogIn());
    m_fake.SendFrame(104, WireFields().UInt32(120));
    ASSERT_TRUE(QTest::qWaitFor([&] { return mp_timer->isActive(); }, 5000));
    const struct
    {
        uint wait;
        int interval; // 0: stopped
        const char* logged;
    } l_cases[] = {{120, 120000, "Wish list wait period set to 120000 milliseconds"},
                   {0, 0, "Wish list wait period of 0 ignored"},
                   {4294967295u, 2147483000, "Wish list wait period set to 2147483000 milliseconds"},
                   {2147483, 2147483000, "Wish list wait period set to 2147483000 milliseconds"},
                   {1, 1000, "Wish list wait period set to 1000 milliseconds"}};
    for (const auto& l_case : l_cases)
    {
        m_log.m_lines.clear();
        mp_searcher->OnWishListWait(l_case.wait);
        EXPECT_EQ(GetSetting("wish_list_wait", SettingScope::Unsaved), QString::number(l_case.wait));
        EXPECT_EQ(mp_timer->isActive(), l_case.interval != 0);
        EXPECT_EQ(l_case.interval ? mp_timer->interval() : 0, l_case.interval);
        EXPECT_EQ(m_log.Count(QString("Wish List: ") + l_case.logged), 1);
    }
}
