#pragma once

#include <QCoreApplication>

#include <memory>

#include "../BenchApplication.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/DataSaver.h"
#include "support/support/ClientSchema.h"

// The application, the store's file keeper and the shares engine with the types it needs. A
// program makes it once: the store's types can be declared only once.
struct SharesBenchEngine
{
    SharesBenchEngine() : mp_app(NewBenchApplication()), mp_saver(std::make_unique<DataSaver>())
    {
        DeclareSettingsTypes();
        Server::CreateData();
        DeclarePeerFileTypes();
        mp_shares = std::make_unique<SharedFoldersManager>();
    }

    std::unique_ptr<QCoreApplication> mp_app;
    std::unique_ptr<DataSaver> mp_saver;
    std::unique_ptr<SharedFoldersManager> mp_shares;
};
