#pragma once

#include <QString>
#include <string>

// Bytes from the store, the wire or a file name as display text: UTF-8 when the bytes are
// strict UTF-8 (they decode and encode back unchanged), otherwise the user's code page.
QString ToQString(const std::string& i_bytes);
