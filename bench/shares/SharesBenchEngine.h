#pragma once

#include <memory>

#include "../BenchStore.h"
#include "shares/SharedFoldersManager.h"
#include "support/support/ClientSchema.h"

// The store and the shares engine with the file types it needs, made once per program.
struct SharesBenchEngine : BenchStore
{
    SharesBenchEngine()
    {
        DeclarePeerFileTypes();
        mp_shares = std::make_unique<SharedFoldersManager>();
    }

    std::unique_ptr<SharedFoldersManager> mp_shares;
};
