#pragma once

#include <QHash>
#include <QString>
#include <QThreadPool>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "shares/FolderListing.h"

// Lists folders ahead of a scan, on threads of its own: the subfolders of a folder are listed
// while the scan works through that folder's files, and the scan takes each listing made. A
// listing made ahead holds no folder open.
class FolderLister
{
public:
    FolderLister();
    ~FolderLister();
    FolderLister(const FolderLister&) = delete;
    FolderLister& operator=(const FolderLister&) = delete;

    // Starts listing these folders, in this order.
    void Prefetch(const std::vector<QString>& i_folders);
    // The folder's listing: the one made ahead, once it is done, or one made now.
    std::unique_ptr<FolderListing> Take(const QString& i_folder);

private:
    struct Slot
    {
        std::unique_ptr<FolderListing> listing;
        bool done = false;
    };

    std::mutex m_mutex;
    std::condition_variable m_listed;
    QHash<QString, std::shared_ptr<Slot>> m_slots;
    QThreadPool m_pool;
};
