#pragma once

#include <QStringList>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <string>

#include <gtest/gtest.h>

#include "store/Data.h"
#include "transfers/DownloadWork.h"
#include "transfers/TransferQueueManager.h"

// Downloads for Delete to remove through the transfers list of the whole window: bob's in folders
// of 50 and carl's few beside them. The fixture that mixes it in points mp_list at the list.
class DownloadsToDelete
{
protected:
    static constexpr int BobsDownloads = 300;
    static constexpr int PerFolder = 50;
    static QStringList Carls() { return {"carl 1.mp3", "carl 2.mp3", "carl 3.mp3"}; }

    // The download work slices of a fixed number of steps while it lives.
    struct Slices
    {
        explicit Slices(int i_steps) { DownloadWork::SetStepsPerSlice(i_steps); }
        ~Slices() { DownloadWork::SetStepsPerSlice(0); }
        Slices(const Slices&) = delete;
        Slices& operator=(const Slices&) = delete;
    };

    static QString FileName(int i_index) { return QString("track %1.mp3").arg(i_index, 3, 10, QChar('0')); }
    static std::string FolderOf(int i_index) { return "Music\\Folder" + std::to_string(i_index / PerFolder); }
    static void QueueAll()
    {
        for (int l_index = 0; l_index < BobsDownloads; ++l_index)
            transferQueueManager->AddDownload("bob", FileName(l_index).toStdString(), FolderOf(l_index), 1000, 0);
        for (const QString& l_file : Carls())
            transferQueueManager->AddDownload("carl", l_file.toStdString(), "Music\\Carl", 1000, 0);
    }
    // The download of that file name.
    static ItemPtr Download(const QString& i_name)
    {
        return d.GetType("file_name")->HasItem(i_name.toStdString()).GetItems("download_entry");
    }
    // The file names of the downloads in the store, sorted.
    static QStringList Remaining()
    {
        QStringList l_files;
        for (ItemPtr l_entry : g("download_entry"))
            l_files << l_entry["file_name"].AsString();
        l_files.sort();
        return l_files;
    }
    static QStringList Sorted(QStringList i_names)
    {
        i_names.sort();
        return i_names;
    }

    QTreeWidgetItem* UserRow(const QString& i_user) const
    {
        for (int l_row = 0; l_row < mp_list->topLevelItemCount(); ++l_row)
            if (mp_list->topLevelItem(l_row)->text(0) == i_user)
                return mp_list->topLevelItem(l_row);
        return nullptr;
    }
    // The user's row chosen alone, and the Delete key pressed on the list.
    void Delete(const QString& i_user)
    {
        QTreeWidgetItem* lp_row = UserRow(i_user);
        ASSERT_NE(lp_row, nullptr);
        mp_list->clearSelection();
        lp_row->setSelected(true);
        QTest::keyClick(mp_list, Qt::Key_Delete);
    }
    // The file rows in the list, in its order.
    QStringList FileRows() const
    {
        QStringList l_files;
        for (QTreeWidgetItemIterator l_row(mp_list); *l_row; ++l_row)
            if (!(*l_row)->text(2).isEmpty())
                l_files << (*l_row)->text(2);
        return l_files;
    }

    QTreeWidget* mp_list = nullptr;
};
