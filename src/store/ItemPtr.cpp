#include "store/ItemPtr.h"

#include <cstring>

#include "store/Data.h"

namespace
{
// The value's bytes up to the first NUL, as Latin-1 text, for the numeric readers.
QString NumericText(const Item* item)
{
    const std::string& bytes = item->GetValue().Bytes();
    const std::size_t length = strnlen(bytes.data(), bytes.size());
    return QString::fromLatin1(bytes.data(), static_cast<int>(length));
}
} // namespace

ItemPtr ItemPtr::HasItem(const char* typeName) const
{
    if (!m_item)
        return ItemPtr();
    return m_item->HasItem(typeName);
}

void ItemPtr::GetItems(const char* typeName, ItemSet& out) const
{
    if (!m_item)
    {
        out.Clear();
        return;
    }
    m_item->GetItems(typeName, out);
}

ItemSet ItemPtr::GetItems(const char* typeName) const
{
    ItemSet result;
    if (m_item)
        m_item->GetItems(typeName, result);
    return result;
}

std::string ItemPtr::AsStdString() const
{
    return m_item ? m_item->GetValue().Bytes() : std::string();
}

QString ItemPtr::AsString() const
{
    return m_item ? ToQString(m_item->GetValue().Bytes()) : QString();
}

int ItemPtr::AsInt() const
{
    return m_item ? NumericText(m_item).toInt(nullptr, 10) : 0;
}

unsigned int ItemPtr::AsUInt() const
{
    return m_item ? NumericText(m_item).toUInt(nullptr, 10) : 0;
}

qint64 ItemPtr::AsInt64() const
{
    return m_item ? NumericText(m_item).toLongLong(nullptr, 10) : 0;
}

quint64 ItemPtr::AsUInt64() const
{
    return m_item ? NumericText(m_item).toULongLong(nullptr, 10) : 0;
}

ItemPtr ItemPtr::NewItem(const char* typeName) const
{
    return m_item->NewItem(typeName);
}

ItemPtr ItemPtr::Connect(ItemPtr other) const
{
    return m_item->Connect(other.m_item);
}

void ItemPtr::Disconnect(ItemPtr other) const
{
    m_item->Disconnect(other.m_item);
}

ItemPtr ItemPtr::operator-=(ItemPtr other) const
{
    m_item->Disconnect(other.m_item);
    return other;
}

void ItemPtr::Disconnect(const char* typeName) const
{
    m_item->Disconnect(typeName);
}

bool ItemPtr::IsConnected(ItemPtr other) const
{
    return m_item->IsConnected(other.m_item);
}

bool ItemPtr::IsConnected(Type* type) const
{
    return m_item->IsConnected(type);
}

bool ItemPtr::IsConnected(const char* typeName) const
{
    return m_item->IsConnected(typeName);
}

bool ItemPtr::IsDisconnectedFromAll() const
{
    return m_item->IsDisconnectedFromAll();
}

Type* ItemPtr::GetType() const
{
    return m_item->GetType();
}

Value ItemPtr::GetValue() const
{
    return m_item->GetValue();
}

void ItemPtr::Remove() const
{
    m_item->Remove();
}
