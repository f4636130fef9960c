#pragma once

#include <QCoreApplication>
#include <QMenu>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <set>
#include <string>

#include "TransfersBenchEngine.h"
#include "shell/Desktop.h"
#include "views/search/ShareForm.h"
#include "views/search/SharesForm.h"

// Another user's big folder of N files beside a small one, open on the browse page: on a tab
// beside the transfers page, or in a window of its own. Its files are queued through the page's
// "Download Folder" or, for the transfer queues alone, as the queues add them.
class BrowsedFolder
{
public:
    static constexpr const char* Uploader = "bob";
    static constexpr const char* Folder = "Music\\Big";

    enum class Place
    {
        BesideTransfers,
        OwnWindow
    };

    BrowsedFolder(int i_files, Place i_place) : m_ownWindow(i_place == Place::OwnWindow)
    {
        ViewsBenchBrowsePageTypes();
        if (m_ownWindow)
        {
            m_page.resize(800, 500);
            m_page.show();
        }
        else
        {
            TransfersBenchEngine::Get().mp_pages->addTab(&m_page, "Browse");
            TransfersBenchEngine::Get().mp_pages->setCurrentWidget(&m_page);
        }
        mp_tab = new ShareForm(Uploader, nullptr);
        m_page.TabControl()->addTab(mp_tab, Uploader);
        FileInfoMap l_list = List(i_files);
        AttributeTranslationTable l_names;
        m_page.OnUserShare(Uploader, l_list, l_names);
        QTreeWidget* lp_tree = mp_tab->findChild<QTreeWidget*>("folderTree");
        mp_row = lp_tree->findItems("Big", Qt::MatchExactly | Qt::MatchRecursive).value(0);
        lp_tree->setCurrentItem(mp_row);
        QCoreApplication::processEvents();
    }
    ~BrowsedFolder()
    {
        m_page.OnTabCloseRequested(0);
        if (!m_ownWindow)
            TransfersBenchEngine::Get().mp_pages->removeTab(TransfersBenchEngine::Get().mp_pages->indexOf(&m_page));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    BrowsedFolder(const BrowsedFolder&) = delete;
    BrowsedFolder& operator=(const BrowsedFolder&) = delete;

    static std::string FileName(int i_index) { return "Track " + std::to_string(i_index) + ".mp3"; }

    // The uploader's list: the big folder of N files beside a small one.
    static FileInfoMap List(int i_files)
    {
        FileInfoMap l_list;
        std::set<FileInfo>& l_big = l_list[Folder];
        for (int l_index = 0; l_index < i_files; ++l_index)
        {
            FileInfo l_file;
            l_file.name = FileName(l_index);
            l_file.size = 3000000 + l_index;
            l_file.attributeMap.attributes = {{0, 192}, {1, 180 + l_index % 100}};
            l_big.insert(l_file);
        }
        FileInfo l_other;
        l_other.name = "cover.jpg";
        l_other.size = 20000;
        l_list["Music"].insert(l_other);
        return l_list;
    }

    // The right click on the folder's row and the menu's one action chosen.
    void DownloadFolder()
    {
        Desktop::SetPopupMenu([](QMenu& io_menu, const QPoint&) {
            for (QAction* lp_action : io_menu.actions())
                if (lp_action->text() == "Download Folder")
                    lp_action->trigger();
        });
        QTreeWidget* lp_tree = mp_row->treeWidget();
        mp_tab->OnFolderContextMenuRequested(lp_tree->visualItemRect(mp_row).center());
        Desktop::SetPopupMenu({});
    }

    // The same downloads as the transfer queues add them, with no page.
    static void QueueAlone(int i_files)
    {
        for (int l_index = 0; l_index < i_files; ++l_index)
            TransfersBenchEngine::Get().mp_manager->AddDownload(Uploader, FileName(l_index), Folder, 3000000 + l_index, 0);
    }

    // The server's answer that the uploader is online, at the next turn of the event loop.
    static void AnswerOnline()
    {
        QTimer::singleShot(0, [] { d.GetType("user")->GetItem(Uploader).NewItem("is_online"); });
    }

private:
    SharesForm m_page;
    ShareForm* mp_tab = nullptr;
    QTreeWidgetItem* mp_row = nullptr;
    bool m_ownWindow;
};
