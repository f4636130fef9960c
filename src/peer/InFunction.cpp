#include "peer/InFunction.h"

std::set<QString> g_inFunctions;

InFunction::InFunction(char const* ip_name) : m_name(QString::fromLatin1(ip_name))
{
    g_inFunctions.insert(m_name);
}

InFunction::~InFunction()
{
    Dispose();
}

void InFunction::Dispose()
{
    if (m_disposed)
        return;
    g_inFunctions.erase(m_name);
    m_disposed = true;
}

bool IsInFunction(char const* ip_name)
{
    return g_inFunctions.count(QString::fromLatin1(ip_name)) != 0;
}
