#pragma once

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>

#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "support/TestSupport.h"
#include "support/support/ClientSchema.h"
#include "support/support/LogLines.h"

// A tree on disk to share, of one-byte files.
class ShareDisk
{
protected:
    QString Path(const QString& i_relative = "") const
    {
        return QString::fromStdString(m_disk.Path()) + (i_relative.isEmpty() ? "" : "/") + i_relative;
    }

    void Write(const QString& i_relative, const QByteArray& i_bytes = "x") const
    {
        QDir().mkpath(QFileInfo(Path(i_relative)).path());
        QFile l_file(Path(i_relative));
        ASSERT_TRUE(l_file.open(QIODevice::WriteOnly) && l_file.write(i_bytes) == i_bytes.size());
    }

    TemporaryFolder m_disk;
};

// The start-up order of the engines below the shares manager, and a tree on disk to share.
class SharesFixture : public ::testing::Test, protected ShareDisk
{
protected:
    void SetUp() override
    {
        mp_saver = std::make_unique<DataSaver>();
        DeclareSettingsTypes();
        Server::CreateData();
        DeclarePeerFileTypes();
        mp_shares = std::make_unique<SharedFoldersManager>();
    }

    // The counts a full rescan reports.
    std::pair<int, int> Rescan()
    {
        QSignalSpy l_spy(mp_shares.get(), &SharedFoldersManager::SharedFilesRescanned);
        mp_shares->RescanShares();
        const QList<QVariant> l_counts = l_spy.value(0, {-1, -1});
        return {l_counts[0].toInt(), l_counts[1].toInt()};
    }

    static std::size_t Count(const char* i_type) { return d.GetType(i_type)->ItemCount(); }

    // Saves the store with the settings, empties it, lets the disk change, and loads it again:
    // the program closed and started.
    void Restart(const std::function<void()>& i_whileClosed = {})
    {
        mp_saver->AddSavedType("global");
        mp_saver->AddSavedByConnectionType("global_value", "global");
        TemporaryFolder l_storeFolder;
        const QString l_store = QString::fromStdString(l_storeFolder.File("store"));
        mp_saver->Save(l_store);
        d.RemoveAllItems();
        if (i_whileClosed)
            i_whileClosed();
        mp_saver->Load(l_store);
    }

    // The files of every MP3 scan request a spy saw, below the shared tree, in order.
    QString Requested(const QSignalSpy& i_requests) const
    {
        QStringList l_files;
        for (const QList<QVariant>& l_request : i_requests)
            for (const QString& l_file : l_request[0].toStringList())
                l_files << l_file.mid(Path().size() + 1);
        return l_files.join('|');
    }

    std::unique_ptr<DataSaver> mp_saver;
    std::unique_ptr<SharedFoldersManager> mp_shares;
};
