#pragma once

#include <QString>
#include <string_view>

// Bytes from the store, the wire or a file name as display text: UTF-8 when the bytes are
// strict UTF-8 (they decode and encode back unchanged), otherwise the user's code page.
QString ToQString(std::string_view i_bytes);
