#pragma once

#include <cstdint>

// The role of a type in garbage collection: primary items are the roots, marking passes
// through intermediate items, and leaf items are kept when reached but lead nowhere.
enum Primacy : std::int32_t
{
    Primary = 0,
    Intermediate = 1,
    Leaf = 2
};
