#include "LQLoginItemRegistry.h"

// Login items are not reachable yet: no item is ever found.
bool LQLoginItemRegistry::removeLoginItemWithPath(const QString &path)
{
    Q_UNUSED(path);
    return false;
}
