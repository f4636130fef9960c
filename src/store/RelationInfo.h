#pragma once

#include "store/OneOrMany.h"

// The relation that a type X holds toward a related type Y. Both types always hold the
// relation, mirrored: Y's entry for X has the sides swapped and owns/owned-by swapped.
struct RelationInfo
{
    OneOrMany thisSide = Many;  // how many X items one Y item may be connected to
    OneOrMany otherSide = Many; // how many Y items one X item may be connected to
    bool owns = false;          // X owns Y
    bool ownedBy = false;       // Y owns X

    friend bool operator==(const RelationInfo& i_a, const RelationInfo& i_b)
    {
        return i_a.thisSide == i_b.thisSide && i_a.otherSide == i_b.otherSide &&
               i_a.owns == i_b.owns && i_a.ownedBy == i_b.ownedBy;
    }
};
