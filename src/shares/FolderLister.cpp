#include "shares/FolderLister.h"

FolderLister::FolderLister()
{
    m_pool.setMaxThreadCount(2);
}

FolderLister::~FolderLister()
{
    m_pool.waitForDone();
}

void FolderLister::Prefetch(const std::vector<QString>& i_folders)
{
    for (const QString& l_folder : i_folders)
    {
        auto lp_slot = std::make_shared<Slot>();
        {
            std::lock_guard<std::mutex> l_lock(m_mutex);
            if (m_slots.contains(l_folder))
                continue;
            m_slots.insert(l_folder, lp_slot);
        }
        m_pool.start([this, lp_slot, l_folder] {
            auto lp_listing = std::make_unique<FolderListing>(l_folder);
            lp_listing->Close();
            std::lock_guard<std::mutex> l_lock(m_mutex);
            lp_slot->listing = std::move(lp_listing);
            lp_slot->done = true;
            m_listed.notify_all();
        });
    }
}

std::unique_ptr<FolderListing> FolderLister::Take(const QString& i_folder)
{
    std::unique_lock<std::mutex> l_lock(m_mutex);
    const std::shared_ptr<Slot> lp_slot = m_slots.take(i_folder);
    if (!lp_slot)
    {
        l_lock.unlock();
        return std::make_unique<FolderListing>(i_folder);
    }
    m_listed.wait(l_lock, [&] { return lp_slot->done; });
    return std::move(lp_slot->listing);
}
