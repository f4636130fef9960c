#include "shares/WishListSearcher.h"

#include <QString>
#include <QStringList>

#include "diagnostics/Log.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/SchemaDeclaration.h"
#include "store/Settings.h"

WishListSearcher* wishListSearcher = nullptr;

namespace
{
const char* const Area = "Wish List";
} // namespace

WishListSearcher::WishListSearcher(QObject* ip_parent) : QObject(ip_parent), m_timer(this)
{
    wishListSearcher = this;
    connect(gp_server, &Server::WishListWait, this, &WishListSearcher::OnWishListWait);
    SetSetting("wish_list_search_index", "0", SettingScope::Unsaved);
    connect(&m_timer, &QTimer::timeout, this, &WishListSearcher::OnSearchTimerTimeout);
}

WishListSearcher::~WishListSearcher()
{
    if (wishListSearcher == this)
        wishListSearcher = nullptr;
}

void WishListSearcher::CreateData()
{
    DeclareTypes({{"wish_list_item", Primary, false}, {"wish_list_item_enabled", Leaf, true}});
    DeclareRelations({{"wish_list_item", "wish_list_item_enabled", Many, One}});
    dataSaver->AddSavedType("wish_list_item");
    dataSaver->AddSavedType("wish_list_item_enabled");
}

void WishListSearcher::OnWishListWait(uint i_waitPeriod)
{
    SetSetting("wish_list_wait", Value(i_waitPeriod), SettingScope::Unsaved);
    m_timer.stop();
    if (i_waitPeriod == 0)
    {
        // A zero interval would fire on every pass of the event loop and flood the server.
        Log(Area, 1, "Wish list wait period of 0 ignored, no wish list searches until the server sets one");
        return;
    }
    const int l_milliseconds = static_cast<int>(qMin(i_waitPeriod, MaxWaitSeconds) * 1000);
    Log(Area, 1, QString("Wish list wait period set to %1 milliseconds").arg(l_milliseconds));
    m_timer.setInterval(l_milliseconds);
    m_timer.start();
}

void WishListSearcher::OnSearchTimerTimeout()
{
    const qint32 l_index =
        static_cast<qint32>(GetSettingInt("wish_list_search_index", SettingScope::Unsaved));
    QStringList l_texts;
    for (ItemPtr l_entry : g("wish_list_item").Connected("wish_list_item_enabled"))
        l_texts << l_entry.AsString();
    if (l_texts.isEmpty())
        return;
    l_texts.sort();
    const QString l_text = l_texts.at(l_index <= 0 ? 0 : l_index % l_texts.size());
    gp_server->FileSearch(l_text, true);
    Log(Area, 1, QString("Sent wish list search: %1").arg(l_text));
    quint32 l_next = static_cast<quint32>(l_index) + 1u;
    if (l_next >= static_cast<quint32>(l_texts.size()))
        l_next = 0;
    SetSetting("wish_list_search_index", Value(l_next), SettingScope::Unsaved);
}
