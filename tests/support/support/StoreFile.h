#pragma once

#include <QFile>

#include <map>
#include <vector>

#include "support/support/WireFields.h"

// Stored settings and autojoin rooms written apart from the client's saver, for a client to read.
class StoreFile
{
public:
    StoreFile& Setting(const QString& i_key, const QString& i_value)
    {
        m_settings[i_key] = i_value;
        return *this;
    }
    StoreFile& AutojoinRoom(const QString& i_room)
    {
        m_rooms << i_room;
        return *this;
    }

    // The number of type blocks; each block its type name, a valueless flag, its item count and
    // each item's index (and value); then the connected index pairs.
    QByteArray Bytes() const
    {
        const int l_keys = static_cast<int>(m_settings.size()), l_rooms = m_rooms.size();
        WireFields l_bytes;
        std::vector<std::pair<int, int>> l_pairs;
        int l_index = 1;
        l_bytes.Int32(l_rooms > 0 ? 4 : 2).Text("global").Byte(0).Int32(l_keys);
        for (const auto& l_setting : m_settings)
        {
            // Every key has a value item of its own, numbered after all the keys.
            l_pairs.emplace_back(l_index, l_index + l_keys);
            l_bytes.Int32(l_index++).Text(l_setting.first);
        }
        l_bytes.Text("global_value").Byte(0).Int32(l_keys);
        for (const auto& l_setting : m_settings)
            l_bytes.Int32(l_index++).Text(l_setting.second);
        if (l_rooms > 0)
        {
            l_bytes.Text("room").Byte(0).Int32(l_rooms);
            for (const QString& l_room : m_rooms)
            {
                l_pairs.emplace_back(l_index, l_index + l_rooms);
                l_bytes.Int32(l_index++).Text(l_room);
            }
            l_bytes.Text("room_autojoin").Byte(1).Int32(l_rooms);
            for (int l_room = 0; l_room < l_rooms; ++l_room)
                l_bytes.Int32(l_index++);
        }
        l_bytes.Int32(static_cast<qint32>(l_pairs.size()));
        for (const auto& l_pair : l_pairs)
            l_bytes.Int32(l_pair.first).Int32(l_pair.second);
        return l_bytes;
    }
    bool WriteTo(const QString& i_path) const
    {
        QFile l_file(i_path);
        return l_file.open(QIODevice::WriteOnly | QIODevice::Truncate) && l_file.write(Bytes()) == Bytes().size();
    }

private:
    std::map<QString, QString> m_settings;
    QStringList m_rooms;
};
