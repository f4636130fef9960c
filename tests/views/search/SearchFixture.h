#pragma once

#include <QContextMenuEvent>

#include <functional>
#include <vector>

#include "peer/PeerMessenger.h"
#include "shell/ActionSetToolBar.h"
#include "shell/UIFunctions.h"
#include "shell/program/ProgramFixture.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "views/search/SearchForm.h"
#include "views/search/SearchResultsForm.h"
#include "views/search/SharesForm.h"

// The search view in the assembled window, logged in to the fake central server, shown and
// active; other users' replies come from a fake peer or are stored as the messenger stores them.
class SearchFixture : public ProgramFixture
{
protected:
    // Sockets the messenger let go of wait for the event loop to delete them; the connections
    // still open go with the window.
    void TearDown() override
    {
        if (mp_window)
        {
            QCoreApplication::processEvents();
            FlushDeletes();
        }
        ProgramFixture::TearDown();
        m_peers.clear();
    }

    void Open()
    {
        StartLoggedIn();
        mp_window->show();
        QApplication::setActiveWindow(mp_window.get());
        FocusWidget(Entry());
    }

    static QLineEdit* Entry() { return Child<QLineEdit>(searchForm, "searchEdit"); }
    static QComboBox* Targets() { return Child<QComboBox>(searchForm, "searchTargetBox"); }
    static QTabWidget* Manual() { return Child<QTabWidget>(searchForm, "searchTabControl"); }
    static QTabWidget* Wishes() { return Child<QTabWidget>(searchForm, "wishListTabControl"); }
    static SearchResultsForm* Page(QTabWidget* ip_tabs, int i_index)
    {
        return qobject_cast<SearchResultsForm*>(ip_tabs->widget(i_index));
    }
    static SearchResultsForm* Page(const QString& i_title)
    {
        for (QTabWidget* lp_tabs : {Manual(), Wishes()})
            for (int l_index = 0; l_index < lp_tabs->count(); ++l_index)
                if (lp_tabs->tabText(l_index) == i_title)
                    return Page(lp_tabs, l_index);
        return nullptr;
    }
    static QStringList TargetTexts()
    {
        QStringList l_texts;
        for (int l_index = 0; l_index < Targets()->count(); ++l_index)
            l_texts << Targets()->itemText(l_index);
        return l_texts;
    }
    // "title icon" per tab, " *" after the current one; icons by their resource name.
    static QStringList Tabs(QTabWidget* ip_tabs)
    {
        QStringList l_tabs;
        for (int l_index = 0; l_index < ip_tabs->count(); ++l_index)
        {
            QString l_icon = "?";
            for (const char* l_name : {"search", "users", "room", "wishlist"})
                if (ShowsIcon(ip_tabs->tabIcon(l_index), QString(":/icons/%1_icon").arg(l_name).toLatin1()))
                    l_icon = l_name;
            l_tabs << ip_tabs->tabText(l_index) + " " + l_icon + (l_index == ip_tabs->currentIndex() ? " *" : "");
        }
        return l_tabs;
    }

    // Picks the target, types the text and presses Return; what the entry holds afterwards.
    static QString Search(const QString& i_target, const QString& i_text)
    {
        Targets()->setCurrentIndex(Targets()->findText(i_target));
        Entry()->setText(i_text);
        QTest::keyClick(Entry(), Qt::Key_Return);
        return Entry()->text();
    }

    // The searches the server received since the last call, behind a keep-alive sent after them:
    // "26 text", "153 text", "42 user text", "120 room text" and "103 text" for a wish list.
    QStringList Searches()
    {
        MemStream l_keepAlive;
        l_keepAlive.Write(qint32(32));
        const int l_fences = m_server.FramesWithCode(32).size() + 1;
        gp_server->SendMessage(l_keepAlive, true);
        EXPECT_TRUE(QTest::qWaitFor([&] { return m_server.FramesWithCode(32).size() >= l_fences; }, 5000));
        QStringList l_searches;
        const QList<FakeCentralServer::Frame> l_frames = m_server.Frames();
        for (int l_index = m_seen; l_index < l_frames.size(); ++l_index)
        {
            const FakeCentralServer::Frame& l_frame = l_frames[l_index];
            int l_at = 0;
            const auto l_text = [&] {
                const int l_size = qFromLittleEndian<qint32>(l_frame.fields.constData() + l_at);
                const QString l_read = QString::fromUtf8(l_frame.fields.mid(l_at + 4, l_size));
                l_at += 4 + l_size;
                return l_read;
            };
            QStringList l_words{QString::number(l_frame.code)};
            if (l_frame.code == 26 || l_frame.code == 103)
                l_at = 4; // the token
            else if (l_frame.code == 42 || l_frame.code == 120)
            {
                l_words << l_text();
                l_at += 4;
            }
            else if (l_frame.code != 153)
                continue;
            l_searches << (l_words << l_text()).join(' ');
        }
        m_seen = l_frames.size();
        return l_searches;
    }

    // The texts the context toolbar shows while the focus is in the widget.
    static QStringList ToolbarTexts(QWidget* ip_widget)
    {
        FocusWidget(ip_widget);
        return VisibleActionTexts(actionBar);
    }
    // Clicks the toolbar action of that text shown for the widget.
    static void ClickAction(QWidget* ip_widget, const QString& i_text)
    {
        FocusWidget(ip_widget);
        for (QAction* lp_action : actionBar->actions())
            if (lp_action->text() == i_text)
                return lp_action->trigger();
        ADD_FAILURE() << "no action " << i_text.toStdString();
    }

    // From then on a menu records its entries in m_shown ("-" for a separator) and triggers the
    // entry named m_choice, in a submenu too; m_onMenu sees each menu first.
    void TakeMenuChoices()
    {
        Desktop::SetPopupMenu([this](QMenu& io_menu, const QPoint&) {
            if (m_onMenu)
                m_onMenu(io_menu);
            m_shown = EntriesOf(io_menu);
            Choose(io_menu, m_choice);
        });
    }
    static QStringList EntriesOf(const QMenu& i_menu)
    {
        QStringList l_texts;
        for (QAction* lp_action : i_menu.actions())
            l_texts << (lp_action->isSeparator() ? QString("-") : lp_action->text());
        return l_texts;
    }
    static bool Choose(QMenu& io_menu, const QString& i_text)
    {
        for (QAction* lp_action : io_menu.actions())
        {
            if (lp_action->menu() ? Choose(*lp_action->menu(), i_text) : lp_action->text() == i_text)
            {
                if (!lp_action->menu())
                    lp_action->trigger();
                return true;
            }
        }
        return false;
    }
    // A right click as the toolkit delivers it: the press, which selects a row not yet selected,
    // then the menu request. The entries of the menu that opened, "no menu" when none did.
    QStringList RightClickAt(QTreeWidget* ip_tree, const QPoint& i_at, const QString& i_choice = {})
    {
        m_shown = QStringList("no menu");
        m_choice = i_choice;
        QTest::mouseClick(ip_tree->viewport(), Qt::RightButton, {}, i_at);
        QContextMenuEvent l_event(QContextMenuEvent::Mouse, i_at, ip_tree->viewport()->mapToGlobal(i_at));
        QApplication::sendEvent(ip_tree->viewport(), &l_event);
        return m_shown;
    }
    QStringList RightClick(QTreeWidgetItem* ip_row, const QString& i_choice = {})
    {
        QTreeWidget* lp_tree = ip_row->treeWidget();
        lp_tree->scrollToItem(ip_row);
        return RightClickAt(lp_tree, lp_tree->visualItemRect(ip_row).center(), i_choice);
    }

    static Type* T(const char* i_type) { return d.GetType(i_type); }
    static std::size_t Count(const char* i_type) { return T(i_type)->ItemCount(); }
    // The token of the search of a tab: its first request's value.
    static quint32 Token(SearchResultsForm* ip_page)
    {
        return T("search_results_widget")->HasItem(Value(ip_page))["search_request"].AsUInt();
    }

    // A messaging connection of that user's to our listening port, once the messenger holds it.
    FakePeer* Peer(const QString& i_user)
    {
        FakePeer* lp_peer = m_peers.emplace_back(std::make_unique<FakePeer>()).get();
        EXPECT_TRUE(lp_peer->ConnectTo(GetSetting("listening_port").toUShort()));
        lp_peer->SendFrame(FakePeer::InitBody(i_user, "P"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !T("user")->GetItem(i_user).GetItems("peer_socket").Empty(); }, 5000));
        return lp_peer;
    }
    // A search reply (peer message 9) of files without attributes, with a free slot.
    static QByteArray ReplyMessage(quint32 i_token, const QString& i_user, const QList<QByteArray>& i_paths)
    {
        WireFields l_body;
        l_body.Text(i_user).UInt32(i_token).Int32(i_paths.size());
        for (const QByteArray& l_path : i_paths)
            l_body.Byte(1).UInt32(l_path.size()).Raw(l_path).UInt32(1000).UInt32(0).Text("mp3").Int32(0);
        l_body.Byte(1).Int32(0).Int32(0);
        return WireFields().UInt32(9).Raw(qCompress(l_body, 9).mid(4));
    }

    // A file of a reply; attributes below 0 and a null mode are left out.
    struct File
    {
        const char* path;
        qint64 size = 1000;
        int bitrate = -1;
        const char* mode = nullptr;
        int length = -1;
    };
    struct Replier
    {
        const char* user;
        bool free = true;
        int speed = 0;
        int queue = 0;
    };
    // A user's reply as a peer sends it (message 9), attributes on the wire by their codes.
    static QByteArray ReplyMessage(quint32 i_token, const Replier& i_replier, const std::vector<File>& i_files)
    {
        WireFields l_body;
        l_body.Text(i_replier.user).UInt32(i_token).Int32(static_cast<qint32>(i_files.size()));
        for (const File& l_file : i_files)
        {
            const int l_vbr = l_file.mode ? int(qstrcmp(l_file.mode, "vbr") == 0) : -1;
            WireFields l_attributes;
            qint32 l_count = 0;
            for (const auto& [l_code, l_value] : {std::pair{0, l_file.bitrate}, {1, l_file.length}, {2, l_vbr}})
                if (l_value >= 0)
                {
                    l_attributes.Int32(l_code).Int32(l_value);
                    ++l_count;
                }
            l_body.Byte(1).Text(l_file.path).UInt32(quint32(l_file.size)).UInt32(quint32(l_file.size >> 32)).Text("mp3")
                .Int32(l_count).Raw(l_attributes);
        }
        l_body.Byte(i_replier.free).Int32(i_replier.speed).Int32(i_replier.queue);
        return WireFields().UInt32(9).Raw(qCompress(l_body, 9).mid(4));
    }
    // A user's reply to the search of that token, stored as the messenger stores it, then signalled.
    static ItemPtr Deliver(quint32 i_token, const Replier& i_replier, const std::vector<File>& i_files)
    {
        ItemPtr l_reply = T("search_results")->NewItem();
        for (const File& l_file : i_files)
        {
            ItemPtr l_result = T("search_result")->NewItem();
            if (l_file.bitrate >= 0)
                l_result += T("bitrate")->GetItem(Value(l_file.bitrate));
            if (l_file.length >= 0)
                l_result += T("length_seconds")->GetItem(Value(l_file.length));
            if (l_file.mode)
                l_result += T("bitrate_mode")->GetItem(l_file.mode);
            l_result += l_reply;
            l_result += T("search_result_file_name")->GetItem(Value(GetFileName(l_file.path)));
            l_result += T("search_result_file_folder")->GetItem(Value(GetFolder(l_file.path)));
            l_result += T("file_size")->GetItem(Value(static_cast<long long>(l_file.size)));
        }
        l_reply += T("search_request")->HasItem(Value(i_token));
        l_reply += T("user")->GetItem(i_replier.user);
        l_reply += T("search_results_user_available")->GetItem(i_replier.free ? "yes" : "no");
        l_reply += T("search_results_user_speed")->GetItem(Value(i_replier.speed));
        l_reply += T("search_results_uploads_in_queue")->GetItem(Value(i_replier.queue));
        emit peerMessenger->SearchResults(l_reply);
        return l_reply;
    }

    // Each row indented by its level: a user "name|free|speed", a folder its path, a file
    // "name|size|attributes"; " -" after a hidden row, " +" after a file marked for download.
    static QStringList Rows(QTreeWidget* ip_tree)
    {
        QStringList l_rows;
        const std::function<void(QTreeWidgetItem*, int)> l_add = [&](QTreeWidgetItem* ip_row, int i_level) {
            static const std::vector<std::vector<int>> s_columns{{0, 1, 2}, {3}, {4, 5, 6}};
            QStringList l_cells;
            for (int l_column : s_columns[std::min(i_level, 2)])
                l_cells << ip_row->text(l_column);
            l_rows << QString(2 * i_level, ' ') + l_cells.join('|') + (ip_row->isHidden() ? " -" : "") +
                          (ip_row->icon(4).isNull() ? "" : " +");
            for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
                l_add(ip_row->child(l_child), i_level + 1);
        };
        for (int l_index = 0; l_index < ip_tree->topLevelItemCount(); ++l_index)
            l_add(ip_tree->topLevelItem(l_index), 0);
        return l_rows;
    }
    // The names of the rows the user can see: shown, under shown rows.
    static QStringList Shown(QTreeWidget* ip_tree)
    {
        QStringList l_shown;
        const std::function<void(QTreeWidgetItem*)> l_add = [&](QTreeWidgetItem* ip_row) {
            if (ip_row->isHidden())
                return;
            for (int l_column : {0, 3, 4})
                if (!ip_row->text(l_column).isEmpty())
                    l_shown << ip_row->text(l_column);
            for (int l_child = 0; l_child < ip_row->childCount(); ++l_child)
                l_add(ip_row->child(l_child));
        };
        for (int l_index = 0; l_index < ip_tree->topLevelItemCount(); ++l_index)
            l_add(ip_tree->topLevelItem(l_index));
        return l_shown;
    }
    // The queued downloads in queue order: user|folder|file|size|search.
    static QStringList Downloads()
    {
        QStringList l_downloads;
        for (ItemPtr l_entry : T("download_entry")->GetItems().SortNumericBy("download_order", true))
        {
            QStringList l_fields;
            for (const char* l_type : {"user", "remote_folder", "file_name", "file_size", "search_request_text"})
                l_fields << l_entry[l_type].AsString();
            l_downloads << l_fields.join('|');
        }
        return l_downloads;
    }
    // A search of all users from the entry and its tab.
    static SearchResultsForm* NewTab(const QString& i_text)
    {
        Search("All", i_text);
        return Page(Manual(), Manual()->count() - 1);
    }
    static void CloseTab(QTabWidget* ip_tabs, int i_index)
    {
        qobject_cast<QAbstractButton*>(ip_tabs->tabBar()->tabButton(i_index, QTabBar::RightSide))->click();
    }
    // A wish-list entry, enabled or not, with its filter text when one is given; and a search of it.
    static void Wish(const char* i_text, bool i_enabled = true, const char* i_filter = nullptr)
    {
        ItemPtr l_entry = T("wish_list_item")->GetItem(i_text);
        if (i_enabled)
            l_entry += T("wish_list_item_enabled")->GetGlobalNullItem();
        if (i_filter)
            l_entry += T("wish_list_item_filter_text")->GetItem(i_filter);
    }
    static quint32 WishSearch(const char* i_text) { return gp_server->FileSearch(i_text, true); }
    // The texts of a tree's top-level rows in that column.
    static QStringList TopTexts(QTreeWidget* ip_tree, int i_column = 0)
    {
        QStringList l_texts;
        for (int l_index = 0; l_index < ip_tree->topLevelItemCount(); ++l_index)
            l_texts << ip_tree->topLevelItem(l_index)->text(i_column);
        return l_texts;
    }
    // The user's list of those folders arrives; the folder then current in the user's browse tab.
    static QString BrowsedTo(const QString& i_user, const std::vector<const char*>& i_folders)
    {
        FileInfoMap l_list;
        for (const char* l_folder : i_folders)
            l_list[l_folder].insert(FileInfo{});
        AttributeTranslationTable l_attributes;
        emit peerMessenger->UserShare(i_user, l_list, l_attributes);
        QTabWidget* lp_tabs = dynamic_cast<SharesForm*>(sharesForm)->TabControl();
        QWidget* lp_tab = nullptr;
        for (int l_index = 0; l_index < lp_tabs->count(); ++l_index)
            if (lp_tabs->tabText(l_index) == i_user)
                lp_tab = lp_tabs->widget(l_index);
        auto* lp_folders = lp_tab ? Child<QTreeWidget>(lp_tab, "folderTree") : nullptr;
        return lp_folders && lp_folders->currentItem() ? lp_folders->currentItem()->text(0) : "(none)";
    }

    int m_seen = 0;
    std::vector<std::unique_ptr<FakePeer>> m_peers;
    QStringList m_shown;
    QString m_choice;
    std::function<void(QMenu&)> m_onMenu;
};
