#include "shares/SharesEngineLinks.h"

#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/DNetManager.h"
#include "shares/SharedFoldersManager.h"

SharesEngineLinks::SharesEngineLinks(SharedFoldersManager& io_manager)
{
    m_thread.start(QThread::InheritPriority);
    m_scanner.moveToThread(&m_thread);
    // Across threads these run queued: requests are scanned one at a time in the order sent, and
    // answers come back in order on the manager's thread.
    QObject::connect(&io_manager, &SharedFoldersManager::MP3ScanRequired, &m_scanner,
                     &MP3Scanner::OnMP3ScanRequired);
    QObject::connect(&m_scanner, &MP3Scanner::MP3Scanned, &io_manager,
                     &SharedFoldersManager::OnMP3Scanned);
    QObject::connect(&m_scanner, &MP3Scanner::MP3ScanFailed, &io_manager,
                     &SharedFoldersManager::OnMP3ScanFailed);

    if (peerMessenger)
    {
        QObject::connect(peerMessenger, &PeerMessenger::SharedFilesInFolderRequested, &io_manager,
                         &SharedFoldersManager::OnFilesInFoldersRequested);
        QObject::connect(peerMessenger, &PeerMessenger::SharedFileListRequested, &io_manager,
                         &SharedFoldersManager::OnSharedFileListRequested);
    }
    // A search from the tree is answered before it is relayed to the children.
    if (dnetManager)
        QObject::connect(dnetManager, &DNetManager::DNetSearchRequest, &io_manager,
                         &SharedFoldersManager::OnDNetSearchRequest);
    if (gp_server)
    {
        QObject::connect(gp_server, &Server::Connected, &io_manager,
                         &SharedFoldersManager::OnConnectedToServer);
        QObject::connect(gp_server, &Server::ReceivedUserStats, &io_manager,
                         &SharedFoldersManager::OnReceivedUserStats);
        QObject::connect(gp_server, &Server::DirectFileSearch, &io_manager,
                         &SharedFoldersManager::OnDirectFileSearch);
    }
}

SharesEngineLinks::~SharesEngineLinks()
{
    m_scanner.Quit();
    m_thread.exit(0);
    m_thread.wait();
}
