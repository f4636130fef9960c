#include "store/ItemPtr.h"

#include <cstring>

#include "store/Data.h"

namespace
{
// The value's bytes up to the first NUL, as Latin-1 text, for the numeric readers.
QString NumericText(const Item* ip_item)
{
    const std::string_view l_bytes = ip_item->GetValue().Bytes();
    const std::size_t l_length = strnlen(l_bytes.data(), l_bytes.size());
    return QString::fromLatin1(l_bytes.data(), static_cast<int>(l_length));
}
} // namespace

ItemPtr ItemPtr::HasItem(const char* ip_typeName) const
{
    if (!mp_item)
        return ItemPtr();
    return mp_item->HasItem(ip_typeName);
}

void ItemPtr::GetItems(const char* ip_typeName, ItemSet& o_out) const
{
    if (!mp_item)
    {
        o_out.Clear();
        return;
    }
    mp_item->GetItems(ip_typeName, o_out);
}

ItemSet ItemPtr::GetItems(const char* ip_typeName) const
{
    ItemSet l_result;
    if (mp_item)
        mp_item->GetItems(ip_typeName, l_result);
    return l_result;
}

std::string ItemPtr::AsStdString() const
{
    return mp_item ? std::string(mp_item->GetValue().Bytes()) : std::string();
}

QString ItemPtr::AsString() const
{
    return mp_item ? ToQString(mp_item->GetValue().Bytes()) : QString();
}

int ItemPtr::AsInt() const
{
    return mp_item ? NumericText(mp_item).toInt(nullptr, 10) : 0;
}

unsigned int ItemPtr::AsUInt() const
{
    return mp_item ? NumericText(mp_item).toUInt(nullptr, 10) : 0;
}

qint64 ItemPtr::AsInt64() const
{
    return mp_item ? NumericText(mp_item).toLongLong(nullptr, 10) : 0;
}

quint64 ItemPtr::AsUInt64() const
{
    return mp_item ? NumericText(mp_item).toULongLong(nullptr, 10) : 0;
}

ItemPtr ItemPtr::NewItem(const char* ip_typeName) const
{
    return mp_item->NewItem(ip_typeName);
}

ItemPtr ItemPtr::Connect(ItemPtr i_other) const
{
    return mp_item->Connect(i_other.mp_item);
}

void ItemPtr::Disconnect(ItemPtr i_other) const
{
    mp_item->Disconnect(i_other.mp_item);
}

ItemPtr ItemPtr::operator-=(ItemPtr i_other) const
{
    mp_item->Disconnect(i_other.mp_item);
    return i_other;
}

void ItemPtr::Disconnect(const char* ip_typeName) const
{
    mp_item->Disconnect(ip_typeName);
}

bool ItemPtr::IsConnected(ItemPtr i_other) const
{
    return mp_item->IsConnected(i_other.mp_item);
}

bool ItemPtr::IsConnected(Type* ip_type) const
{
    return mp_item->IsConnected(ip_type);
}

bool ItemPtr::IsConnected(const char* ip_typeName) const
{
    return mp_item->IsConnected(ip_typeName);
}

bool ItemPtr::IsDisconnectedFromAll() const
{
    return mp_item->IsDisconnectedFromAll();
}

Type* ItemPtr::GetType() const
{
    return mp_item->GetType();
}

Value ItemPtr::GetValue() const
{
    return Value(mp_item->GetValue());
}

void ItemPtr::Remove() const
{
    mp_item->Remove();
}
