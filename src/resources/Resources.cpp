#include "resources/Resources.h"

#include <QtGlobal>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void RegisterTarnwickResources()
{
    Q_INIT_RESOURCE(tarnwick);
}

void InitResources()
{
    static const bool s_registered = (RegisterTarnwickResources(), true);
    Q_UNUSED(s_registered);
}
