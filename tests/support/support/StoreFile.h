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
    // Two items of any saved types connected; a null value stands for a valueless type's item, and
    // so does any value of a type named valueless, which tells that type's items apart.
    StoreFile& Valueless(const QString& i_type)
    {
        m_valueless << i_type;
        return *this;
    }
    StoreFile& Link(const QString& i_type, const QString& i_value, const QString& i_other, const QString& i_otherValue)
    {
        m_links.push_back({{i_type, i_value}, {i_other, i_otherValue}});
        return *this;
    }

    // Every connection in a store file as "type=value~type=value" ("type~..." for a valueless one).
    static QStringList Links(const QByteArray& i_bytes)
    {
        int l_at = 0;
        const auto l_int = [&] {
            const qint32 l_number = qFromLittleEndian<qint32>(i_bytes.constData() + l_at);
            l_at += 4;
            return l_number;
        };
        const auto l_text = [&] {
            const int l_size = l_int();
            const QString l_read = QString::fromUtf8(i_bytes.mid(l_at, l_size));
            l_at += l_size;
            return l_read;
        };
        std::map<int, QString> l_items;
        for (int l_blocks = l_int(); l_blocks > 0; --l_blocks)
        {
            const QString l_type = l_text();
            const bool l_valueless = i_bytes.at(l_at++) != 0;
            for (int l_count = l_int(); l_count > 0; --l_count)
            {
                const int l_index = l_int();
                l_items[l_index] = l_valueless ? l_type : l_type + "=" + l_text();
            }
        }
        QStringList l_links;
        for (int l_pairs = l_int(); l_pairs > 0; --l_pairs)
        {
            const int l_first = l_int();
            l_links << l_items[l_first] + "~" + l_items[l_int()];
        }
        return l_links;
    }

    // The number of type blocks; each block its type name, a valueless flag, its item count and
    // each item's index (and value); then the connected index pairs.
    QByteArray Bytes() const
    {
        const int l_keys = static_cast<int>(m_settings.size()), l_rooms = m_rooms.size();
        WireFields l_bytes;
        std::vector<std::pair<int, int>> l_pairs;
        int l_index = 1;
        std::map<QString, QStringList> l_linked;
        for (const auto& l_link : m_links)
            for (const auto& [l_type, l_value] : {l_link.first, l_link.second})
                if (!l_linked[l_type].contains(l_value))
                    l_linked[l_type] << l_value;
        l_bytes.Int32((l_rooms > 0 ? 4 : 2) + static_cast<int>(l_linked.size())).Text("global").Byte(0).Int32(l_keys);
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
        std::map<std::pair<QString, QString>, int> l_indexes;
        for (const auto& [l_type, l_values] : l_linked)
        {
            const bool l_valueless = l_values.first().isNull() || m_valueless.contains(l_type);
            l_bytes.Text(l_type).Byte(l_valueless ? 1 : 0).Int32(l_values.size());
            for (const QString& l_value : l_values)
            {
                l_indexes[{l_type, l_value}] = l_index;
                l_bytes.Int32(l_index++);
                if (!l_valueless)
                    l_bytes.Text(l_value);
            }
        }
        for (const auto& l_link : m_links)
            l_pairs.emplace_back(l_indexes[l_link.first], l_indexes[l_link.second]);
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
    QStringList m_rooms, m_valueless;
    std::vector<std::pair<std::pair<QString, QString>, std::pair<QString, QString>>> m_links;
};
