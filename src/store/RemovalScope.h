#pragma once

class Data;

// Holds the freeing of removed items back until the outermost scope of the store ends. A removed
// item stays readable meanwhile and reports itself dead (`Item::IsAlive`), so code that goes on
// after a handler ran can tell it from a live one without touching freed memory.
class RemovalScope
{
public:
    explicit RemovalScope(Data& i_data);
    ~RemovalScope();
    RemovalScope(const RemovalScope&) = delete;
    RemovalScope& operator=(const RemovalScope&) = delete;

private:
    Data& m_data;
};
