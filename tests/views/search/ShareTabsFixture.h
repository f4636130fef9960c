#pragma once

#include <QTextBrowser>

#include <utility>
#include <vector>

#include "peer/PeerLinkFixture.h"
#include "shares/SharesFixture.h"
#include "shell/UIFunctions.h"
#include "shell/ViewPages.h"
#include "transfers/TransferQueueManager.h"
#include "views/search/ShareForm.h"
#include "views/search/SharesForm.h"
#include "views/search/UploadForm.h"

// One folder of a list as a peer sends it.
struct ListFolder
{
    QByteArray path;
    std::vector<ShareFile> files;
};
using List = std::vector<ListFolder>;

// The browse page as the main window holds it, over a messenger, the shares engine and the
// transfer queues, with bob connected from 127.0.0.1 as a fake peer. The page is the second of
// two pages, so that a test can look away from it; menus and links go through the desktop seams.
class ShareTabsFixture : public PeerLinkFixture, protected ShareDisk, protected FakeDesktop, protected ViewPages
{
protected:
    void SetUp() override
    {
        PeerLinkFixture::SetUp();
        BuildViewPages();
        qputenv("HOME", m_disk.Path().c_str());
        mp_shares = std::make_unique<SharedFoldersManager>();
        mp_transfers = std::make_unique<TransferQueueManager>();
        SetSetting("download_folder", Path("downloads"));
        SetSetting("expand_new_shares", "yes");
        d.GetType("excluded_download_extension")->GetItem(".ini");
        mp_pages->addTab(mp_page = new SharesForm, "Browse");
        mp_page->Init();
        mp_pages->show();
        ConnectBob();
    }

    void TearDown() override
    {
        mp_pages.reset();
        FlushDeletes();
        mp_transfers.reset();
        PeerLinkFixture::TearDown();
        mp_shares.reset();
    }

    // Message 5 as a peer sends it: the folders, each with its path and file records.
    static QByteArray ShareListMessage(const List& i_list)
    {
        WireFields l_body;
        l_body.Int32(static_cast<qint32>(i_list.size()));
        for (const ListFolder& l_folder : i_list)
            l_body.UInt32(static_cast<quint32>(l_folder.path.size())).Raw(l_folder.path).Raw(Files(l_folder.files));
        return Word(5) + Deflated(l_body);
    }

    // The codes of bob's messages to us so far, once the user information request sent after
    // them has arrived: what came before it was all there was.
    QList<quint32> BobsCodes()
    {
        mp_messenger->GetUserInfo("bob");
        const int l_fence = mp_bob->Bodies().size() + 1;
        EXPECT_TRUE(QTest::qWaitFor([&] { return mp_bob->Bodies().size() >= l_fence && mp_bob->Bodies().last().startsWith(Word(15)); }, 5000));
        QList<quint32> l_codes;
        for (const QByteArray& l_body : mp_bob->Bodies())
            if (l_body.left(4) != Word(15))
                l_codes << qFromLittleEndian<quint32>(l_body.constData());
        return l_codes;
    }

    // bob's browse tab once bob has answered its request with the list.
    ShareForm* Browse(const List& i_list, const QString& i_user = "bob")
    {
        ShareForm* lp_tab = mp_page->OpenShareBrowse(i_user);
        EXPECT_TRUE(SendKeeps(ShareListMessage(i_list)));
        return lp_tab;
    }

    // Our own files shared with everyone: each folder of the paths given, once written.
    void ShareOwn(const std::vector<const char*>& i_files)
    {
        QStringList l_folders;
        for (const char* l_file : i_files)
        {
            Write(l_file);
            l_folders << QString(l_file).section('/', 0, 0);
        }
        l_folders.removeDuplicates();
        for (const QString& l_folder : l_folders)
            mp_shares->AddSharedFolder(Path(l_folder)) += d.GetType("shared_public")->GetGlobalNullItem();
    }
    void Close(QWidget* ip_tab)
    {
        mp_page->OnTabCloseRequested(mp_page->TabControl()->indexOf(ip_tab));
        FlushDeletes();
    }

    static QTreeWidget* Tree(QWidget* ip_tab) { return Child<QTreeWidget>(ip_tab, "folderTree"); }
    static QTreeWidget* FileList(QWidget* ip_tab) { return Child<QTreeWidget>(ip_tab, "fileList"); }
    static QLineEdit* Filter(QWidget* ip_tab) { return Child<QLineEdit>(ip_tab, "filterEdit"); }
    static QTextBrowser* Messages(QWidget* ip_tab) { return Child<QTextBrowser>(ip_tab, "messageBrowser"); }

    // The folder rows, two blanks per level, "(hidden)" after a hidden one, "+" after an open one
    // with rows below it; the current row marked "*".
    static QStringList Rows(QTreeWidget* ip_tree)
    {
        QStringList l_rows;
        QTreeWidgetItemIterator l_row(ip_tree);
        for (; *l_row; ++l_row)
        {
            int l_level = 0;
            for (QTreeWidgetItem* lp_up = (*l_row)->parent(); lp_up; lp_up = lp_up->parent())
                ++l_level;
            l_rows << QString(2 * l_level, ' ') + (*l_row)->text(0) + ((*l_row)->isHidden() ? " (hidden)" : "") +
                          ((*l_row)->isExpanded() && (*l_row)->childCount() ? " +" : "") + (*l_row == ip_tree->currentItem() ? " *" : "");
        }
        return l_rows;
    }
    // The file rows in their shown order, cells joined by "|", "@download" or "@upload" after a
    // marked one.
    static QStringList FileRows(QTreeWidget* ip_list)
    {
        QStringList l_rows;
        for (int l_index = 0; l_index < ip_list->topLevelItemCount(); ++l_index)
        {
            const QTreeWidgetItem* lp_row = ip_list->topLevelItem(l_index);
            QString l_row = QStringList{lp_row->text(0), lp_row->text(1), lp_row->text(2)}.join('|');
            for (const char* l_icon : {"download", "upload"})
                if (ShowsIcon(lp_row->icon(0), QString(":/icons/%1_icon").arg(l_icon).toLatin1()))
                    l_row += QString("@") + l_icon;
            l_rows << l_row;
        }
        return l_rows;
    }
    // Makes the folder row at that path of texts ("Music/Jazz") current.
    static void Select(QTreeWidget* ip_tree, const QString& i_path)
    {
        QTreeWidgetItem* lp_row = nullptr;
        for (const QString& l_text : i_path.split('/'))
        {
            const int l_count = lp_row ? lp_row->childCount() : ip_tree->topLevelItemCount();
            QTreeWidgetItem* lp_next = nullptr;
            for (int l_index = 0; l_index < l_count && !lp_next; ++l_index)
            {
                QTreeWidgetItem* lp_child = lp_row ? lp_row->child(l_index) : ip_tree->topLevelItem(l_index);
                if (lp_child->text(0) == l_text)
                    lp_next = lp_child;
            }
            ASSERT_TRUE(lp_next) << i_path.toStdString();
            lp_row = lp_next;
        }
        ip_tree->setCurrentItem(lp_row);
    }

    // The texts the context toolbar shows while the focus is in the widget.
    QStringList ToolbarTexts(QWidget* ip_widget) { return ::ToolbarTexts(mp_actions.get(), mp_pages.get(), ip_widget); }
    // Clicks the toolbar action whose text starts so, while the focus is in the widget.
    void ClickToolbar(QWidget* ip_widget, const QString& i_text)
    {
        ToolbarTexts(ip_widget);
        for (QAction* lp_action : mp_actions->actions())
            if (lp_action->isVisible() && lp_action->text().startsWith(i_text))
                return lp_action->trigger();
        ADD_FAILURE() << "no action " << i_text.toStdString();
    }

    // Every download entry as "folder\file level".
    static QStringList Downloads()
    {
        QStringList l_entries;
        for (ItemPtr l_entry : g("download_entry"))
            l_entries << QString("%1\\%2 %3").arg(l_entry["remote_folder"].AsString(), l_entry["file_name"].AsString(),
                                                  l_entry["subfolder_save_level"].AsString());
        return l_entries.sort(), l_entries;
    }

    std::unique_ptr<SharedFoldersManager> mp_shares;
    std::unique_ptr<TransferQueueManager> mp_transfers;
    SharesForm* mp_page = nullptr;
};
