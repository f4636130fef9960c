#pragma once

// What the fuzz targets that drive the engines share: a fatal check, an application, a data
// saver and a server link over the fake gateway, with the settings and link schemas declared.
#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "server/MemStream.h"
#include "server/Server.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "support/support/ClientSchema.h"
#include "support/support/FakeUpnpBackend.h"

inline void Check(bool i_condition)
{
    if (!i_condition)
        std::abort();
}

// The input's bytes after the first, which picked the way in.
inline MemStream Body(const std::uint8_t* ip_data, std::size_t i_size)
{
    MemStream l_body;
    Check(l_body.WriteBuffer(ip_data + 1, i_size - 1));
    return l_body;
}

// What one input left behind goes before the next, so the store stays small; settings stay.
inline void ClearStore()
{
    for (const auto& l_type : d.Types())
        if (l_type.first != "global" && l_type.first != "global_value")
            l_type.second->RemoveAllItems();
}

struct Engine
{
    explicit Engine(const char* i_name)
    {
        static int s_argc = 1;
        static char* s_argv[] = {const_cast<char*>(i_name), nullptr};
        mp_application = std::make_unique<QCoreApplication>(s_argc, s_argv);
        mp_timers = std::make_unique<TimerManager>();
        mp_saver = std::make_unique<DataSaver>();
        mp_server = std::make_unique<Server>(std::make_unique<FakeUpnpBackend>());
        DeclareSettingsTypes();
        Server::CreateData();
    }

    std::unique_ptr<QCoreApplication> mp_application;
    std::unique_ptr<TimerManager> mp_timers;
    std::unique_ptr<DataSaver> mp_saver;
    std::unique_ptr<Server> mp_server;
};
