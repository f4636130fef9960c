#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

TemporaryFolder::TemporaryFolder()
{
    QTemporaryDir dir;
    dir.setAutoRemove(false);
    m_path = dir.path().toStdString();
}

TemporaryFolder::~TemporaryFolder()
{
    QDir(QString::fromStdString(m_path)).removeRecursively();
}
