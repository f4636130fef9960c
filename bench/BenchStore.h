#pragma once

#include <QCoreApplication>

#include <memory>

#include "BenchApplication.h"
#include "server/Server.h"
#include "store/DataSaver.h"
#include "support/support/ClientSchema.h"

// The application, the store's file keeper and the settings and server types that every engine
// benchmark starts from. A program makes it once: the store's types can be declared only once.
struct BenchStore
{
    BenchStore() : mp_app(NewBenchApplication()), mp_saver(std::make_unique<DataSaver>())
    {
        DeclareSettingsTypes();
        Server::CreateData();
    }

    std::unique_ptr<QCoreApplication> mp_app;
    std::unique_ptr<DataSaver> mp_saver;
};
