#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
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
        QString folder;
        QByteArray encodedFolder;
        // Every name, each ended by a zero byte, and where each begins.
        std::string names;
        std::vector<std::uint32_t> starts;
        // What stat told of each, or nothing: an empty stamp.
        struct Stamp
        {
            qint64 size = 0;
            qint64 nanoseconds = 0;
            bool read = false;
        };
        std::vector<Stamp> stamps;

        const char* Name(std::size_t i_at) const { return names.c_str() + starts[i_at]; }
        void Add(std::string_view i_name)
        {
            starts.push_back(std::uint32_t(names.size()));
            names.append(i_name);
            names.push_back('\0');
        }
        std::string StampText(std::size_t i_at) const;
        // Whether the n-th file's stamp is that text.
        bool HasStamp(std::size_t i_at, std::string_view i_stamp) const;
    };

    // Starts reading the files of a batch, taken; the batch stays where it is until the reader
    // goes.
    const Batch* Read(Batch&& i_batch);
    // Returns once every batch has been read.
    void Wait() { m_jobs.Wait(); }

private:
    std::deque<Batch> m_batches;
    // One thread has done long before the words are in; more only slowed the walk, whose
    // listings they share the processor's caches and the kernel's with.
    ScanJobs m_jobs{1};
};
