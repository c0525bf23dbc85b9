// The current user's login items, listed, found, added and removed by path or URL.
#pragma once

#include <QString>

class LQLoginItemRegistry {
public:
    LQLoginItemRegistry() = delete;

    // Removes the first login item whose URL is the file URL of PATH; false when there is
    // none or the removal fails.
    static bool removeLoginItemWithPath(const QString &path);
};
