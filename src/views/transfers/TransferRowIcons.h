#pragma once

class QIcon;

// The icons of the transfer rows, each read from the resources once: a list of thousands of
// rows would otherwise decode the same file for every row.
class TransferRowIcons
{
public:
    static const QIcon& Online(bool i_online);
    static const QIcon& Alert();
};
