#pragma once

class Item;

// The two items of a connection or disconnection event. In a type's event `from` is the item
// of that type.
struct ConnectionInfo
{
    Item* from = nullptr;
    Item* to = nullptr;
};
