#pragma once

#include "server/StreamReadable.h"
#include "server/StreamWritable.h"

// Base of every record that travels inside messages and reads and writes itself.
class Persistent : public StreamReadable, public StreamWritable
{
protected:
    Persistent() = default;
    Persistent(const Persistent&) = default;
    Persistent& operator=(const Persistent&) = default;
    ~Persistent() = default;
};
