#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "ViewsBenchApp.h"
#include "shares/SharedFoldersManager.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "views/transfers/TransfersForm.h"

// The transfer queues over the shared messenger and shares engine, and the transfers view on a
// shown tab page, made once per program; every transfers benchmark fills it with its own
// downloads and empties it again.
struct TransfersBenchEngine
{
    // Never destroyed, as the application: its shown page must not go in the exit handlers,
    // after the toolkit's own globals.
    static TransfersBenchEngine& Get()
    {
        static TransfersBenchEngine* sp_engine = new TransfersBenchEngine;
        return *sp_engine;
    }

    TransfersBenchEngine()
    {
        ViewsBenchShareEngines();
        mp_manager = std::make_unique<TransferQueueManager>();
        SetSetting("download_folder", "/nonexistent/tarnwick-bench");
        mp_pages = std::make_unique<QTabWidget>();
        mp_pages->resize(1000, 600);
        mp_pages->show();
        NewForm();
    }

    // A fresh view whose saved downloads are not loaded yet: the downloads already in the store
    // get their rows from the next OnTransfersLoaded.
    void NewForm()
    {
        delete mp_form;
        mp_pages->addTab(mp_form = new TransfersForm, "Transfers");
        mp_form->Init();
        mp_form->DataLoaded();
    }

    // No view at all, for the transfer queues alone.
    void DropForm()
    {
        delete mp_form;
        mp_form = nullptr;
    }

    // The downloads of a user, in folders of a given size, queued as the queues queue them.
    void AddDownloads(const QString& i_user, int i_count, int i_perFolder, qint64 i_size = 10000000)
    {
        for (int l_index = 0; l_index < i_count; ++l_index)
            mp_manager->AddDownload(i_user, "file" + std::to_string(l_index) + ".mp3",
                                    "Music\\Folder" + std::to_string(l_index / i_perFolder), i_size, 0);
    }

    // A download running as the transfer queues set one up on a file connection, at 100,000 bytes
    // a second and no byte moved yet.
    void Run(ItemPtr i_entry)
    {
        mp_manager->AttachObject(i_entry, "write_position", new qint64(0));
        mp_manager->SetDownloadEntryStatus(i_entry, transfer_status::Downloading);
        mp_manager->AttachObject(i_entry, "last_receipt_time", new QDateTime(QDateTime::currentDateTime()));
        mp_manager->AttachObject(i_entry, "bytes_per_second", new qint32(100000));
    }

    // Every download goes, and with it every row.
    void RemoveAll()
    {
        const TransfersForm::RowRemovals l_rows;
        for (ItemPtr l_entry : g("download_entry"))
            mp_manager->RemoveDownload(l_entry);
    }

    // No transfers left, and a fresh view with its saved downloads loaded on its downloads or
    // its uploads page; or, for the engine alone, no view at all.
    void Fresh(bool i_view, bool i_uploadsPage = false)
    {
        RemoveAll();
        {
            const TransfersForm::RowRemovals l_rows;
            for (ItemPtr l_entry : g("upload_entry"))
                mp_manager->RemoveUpload(l_entry);
        }
        QCoreApplication::processEvents();
        if (!i_view)
        {
            DropForm();
            return;
        }
        NewForm();
        mp_form->OnTransfersLoaded();
        mp_form->findChild<QTabWidget*>("transfersTabControl")->setCurrentIndex(i_uploadsPage ? 1 : 0);
        QCoreApplication::processEvents();
    }

    // Files "file<i>.mp3" in folders "Folder<i / per folder>" below the path, shared with
    // everyone: empty, or holes on disk of the size.
    static void ShareFiles(const QString& i_path, int i_files, int i_perFolder, qint64 i_size = 0)
    {
        for (int l_index = 0; l_index < i_files; ++l_index)
        {
            const QString l_folder = i_path + QString("/Folder%1").arg(l_index / i_perFolder);
            if (l_index % i_perFolder == 0)
                QDir().mkpath(l_folder);
            QFile l_file(l_folder + QString("/file%1.mp3").arg(l_index));
            if (!l_file.open(QIODevice::WriteOnly) || (i_size > 0 && !l_file.resize(i_size)))
                qFatal("cannot make a shared file");
        }
        sharedFoldersManager->AddSharedFolder(i_path).NewItem("shared_public");
    }

    // The files of ShareFiles in a folder of their own, made once per program for each count,
    // folder size and file size. The result is the folder's path as peers ask for it.
    static const QString& SharedRemote(int i_files, int i_perFolder, qint64 i_size = 0)
    {
        static std::map<std::tuple<int, int, qint64>, std::pair<std::unique_ptr<QTemporaryDir>, QString>> s_made;
        auto& [lp_root, l_remote] = s_made[{i_files, i_perFolder, i_size}];
        if (lp_root)
            return l_remote;
        lp_root = std::make_unique<QTemporaryDir>();
        const QString l_path = lp_root->filePath("shared");
        ShareFiles(l_path, i_files, i_perFolder, i_size);
        l_remote = QString(l_path).replace('/', '\\');
        return l_remote;
    }

    std::unique_ptr<TransferQueueManager> mp_manager;
    std::unique_ptr<QTabWidget> mp_pages;
    TransfersForm* mp_form = nullptr;
};
