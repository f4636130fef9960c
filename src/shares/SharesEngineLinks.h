#pragma once

#include <QObject>
#include <QThread>

#include "shares/MP3Scanner.h"

class SharedFoldersManager;

// The shares manager's ties to the engines around it, made with the manager and cut with it:
// the MP3 scanner on a worker thread of its own, and the signals of the server link, the peer
// messenger and the distributed network that exist when the manager is made.
class SharesEngineLinks
{
public:
    explicit SharesEngineLinks(SharedFoldersManager& io_manager);
    // Stops the scanner (a scan under way ends after its block in hand) and waits for the thread.
    ~SharesEngineLinks();
    SharesEngineLinks(const SharesEngineLinks&) = delete;
    SharesEngineLinks& operator=(const SharesEngineLinks&) = delete;

private:
    QThread m_thread;
    MP3Scanner m_scanner;
};
