#pragma once

#include <cstdint>

// How a path pattern's child node hangs off its parent: whether an item of the child's type must
// or must not be connected there, and whether a change on that edge triggers the subscription.
enum PathNodeRelation : std::int32_t
{
    ConnectedAndNotify = 0,    // must be connected; a connection here triggers
    Connected = 1,             // must be connected
    NotifyOnConnect = 2,       // triggers on a connection here, never holds otherwise
    NotConnectedAndNotify = 3, // must not be connected; a disconnection here triggers
    NotConnected = 4,          // must not be connected
    NotifyOnDisconnect = 5     // triggers on a disconnection here, never holds otherwise
};
