#include "StoreFile.h"

#include <QFile>
#include <QtEndian>

#include <vector>

namespace
{
void Int(QByteArray& io_bytes, qint32 i_value)
{
    char l_raw[4];
    qToLittleEndian(i_value, l_raw);
    io_bytes.append(l_raw, 4);
}

void Text(QByteArray& io_bytes, const QString& i_text)
{
    const QByteArray l_utf8 = i_text.toUtf8();
    Int(io_bytes, l_utf8.size());
    io_bytes.append(l_utf8);
}

// A type block's head: its name, whether it is valueless, and its item count.
void Block(QByteArray& io_bytes, const QString& i_type, bool i_valueless, int i_count)
{
    Text(io_bytes, i_type);
    io_bytes.append(i_valueless ? '\1' : '\0');
    Int(io_bytes, i_count);
}
} // namespace

StoreFile& StoreFile::Setting(const QString& i_key, const QString& i_value)
{
    m_settings[i_key] = i_value;
    return *this;
}

StoreFile& StoreFile::AutojoinRoom(const QString& i_room)
{
    m_rooms << i_room;
    return *this;
}

// The file: the number of type blocks; each block its type name, a valueless flag, its item
// count and each item's index (and value); then the connected index pairs.
QByteArray StoreFile::Bytes() const
{
    QByteArray l_bytes;
    std::vector<std::pair<int, int>> l_pairs;
    const int l_keyCount = static_cast<int>(m_settings.size());
    const int l_roomCount = m_rooms.size();
    Int(l_bytes, l_roomCount > 0 ? 4 : 2);

    int l_index = 1;
    Block(l_bytes, "global", false, l_keyCount);
    for (const auto& l_setting : m_settings)
    {
        Int(l_bytes, l_index);
        Text(l_bytes, l_setting.first);
        // Every key has a value item of its own, numbered after all the keys.
        l_pairs.emplace_back(l_index, l_index + l_keyCount);
        ++l_index;
    }
    Block(l_bytes, "global_value", false, l_keyCount);
    for (const auto& l_setting : m_settings)
    {
        Int(l_bytes, l_index++);
        Text(l_bytes, l_setting.second);
    }
    if (l_roomCount > 0)
    {
        Block(l_bytes, "room", false, l_roomCount);
        for (const QString& l_room : m_rooms)
        {
            l_pairs.emplace_back(l_index, l_index + l_roomCount);
            Int(l_bytes, l_index++);
            Text(l_bytes, l_room);
        }
        Block(l_bytes, "room_autojoin", true, l_roomCount);
        for (int l_room = 0; l_room < l_roomCount; ++l_room)
            Int(l_bytes, l_index++);
    }
    Int(l_bytes, static_cast<qint32>(l_pairs.size()));
    for (const auto& l_pair : l_pairs)
        Int(l_bytes, l_pair.first), Int(l_bytes, l_pair.second);
    return l_bytes;
}

bool StoreFile::WriteTo(const QString& i_path) const
{
    QFile l_file(i_path);
    return l_file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           l_file.write(Bytes()) == Bytes().size();
}
