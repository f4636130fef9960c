#pragma once

#include <QMetaType>
#include <QtGlobal>

#include "server/Persistent.h"

// A user's statistics as the server reports them. Only the speed and the shared file count
// mean anything here; the other two are carried and written back as they came.
class UserStats final : public Persistent
{
public:
    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;

    qint32 m_averageSpeed = 0;
    qint64 m_carriedCount = 0;
    qint32 m_sharedFileCount = 0;
    qint32 m_otherCount = 0;
};

Q_DECLARE_METATYPE(UserStats)
