#pragma once

#include <cstdint>

enum OneOrMany : std::int32_t
{
    One = 0,
    Many = 1
};
