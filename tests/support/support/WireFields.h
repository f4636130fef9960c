#pragma once

#include <QStringList>
#include <QtEndian>

// Fields in the wire encoding (little-endian; a text is a uint32 byte count and UTF-8), built
// apart from the client's own stream classes so tests compare against bytes written by hand.
class WireFields
{
public:
    WireFields& UInt32(quint32 i_value)
    {
        char l_bytes[4];
        qToLittleEndian(i_value, l_bytes);
        return Raw(QByteArray(l_bytes, 4));
    }
    WireFields& Int32(qint32 i_value) { return UInt32(static_cast<quint32>(i_value)); }
    WireFields& Byte(quint8 i_value) { return Raw(QByteArray(1, static_cast<char>(i_value))); }
    WireFields& Text(const QString& i_text)
    {
        const QByteArray l_utf8 = i_text.toUtf8();
        return UInt32(static_cast<quint32>(l_utf8.size())).Raw(l_utf8);
    }
    WireFields& Raw(const QByteArray& i_bytes)
    {
        m_bytes += i_bytes;
        return *this;
    }
    // An int32 count and the items.
    WireFields& Texts(const QStringList& i_texts) { return Counted(i_texts, &WireFields::Text); }
    WireFields& Int32s(const QList<qint32>& i_numbers) { return Counted(i_numbers, &WireFields::Int32); }

    const QByteArray& Bytes() const { return m_bytes; }
    operator const QByteArray&() const { return m_bytes; }

private:
    template <class List, class Item>
    WireFields& Counted(const List& i_items, WireFields& (WireFields::*ip_add)(Item))
    {
        Int32(i_items.size());
        for (const auto& l_item : i_items)
            (this->*ip_add)(l_item);
        return *this;
    }

    QByteArray m_bytes;
};
