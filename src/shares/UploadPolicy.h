#pragma once

#include <QtGlobal>

#include <functional>

// What a search reply tells the searcher of our upload queue. The transfer queues sit above the
// shares engine, so whoever builds both installs these; a part left empty has its default:
// no free slot (without transfer queues nothing can be uploaded), no queued uploads, and the
// speed the server last reported for us (the setting `upload_speed`, 0 without a value).
struct UploadPolicy
{
    std::function<bool()> isFreeToUpload;
    std::function<int()> queuedUploadCount;
    std::function<quint32()> uploadSpeed;

    bool IsFreeToUpload() const { return isFreeToUpload && isFreeToUpload(); }
    quint32 QueuedUploadCount() const;
    quint32 UploadSpeed() const;
};
