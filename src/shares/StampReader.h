#pragma once

#include <QByteArray>

#include <deque>
#include <string>
#include <vector>

#include "shares/ScanJobs.h"

// Reads the stamps of files (the size and modification time of what lies at each path, as
// MP3Scanner writes them; empty when nothing can be read), a folder at a time, while the scan
// that asks for them goes on. Asking for them one by one took a third of the start-up scan of
// a share of many files the MP3 scanner could not analyse.
class StampReader
{
public:
    // The files of one folder, and once every batch has been read, their stamps.
    struct Batch
    {
        QByteArray folder;
        std::vector<std::string> names;
        std::vector<std::string> stamps;
    };

    // Starts reading; the batch stays where it is until the reader goes.
    const Batch* Read(const QByteArray& i_folder, std::vector<std::string> i_names);
    // Returns once every batch has been read.
    void Wait() { m_jobs.Wait(); }

private:
    std::deque<Batch> m_batches;
    // The disk's metadata is cached after the listing: two threads, which have done before the
    // words are in, and which a busy machine finds room for.
    ScanJobs m_jobs{2};
};
