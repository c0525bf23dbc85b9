// The current user's login items, listed, found, added and removed by path or URL, for the
// rest of the product. Failures of the layer below (System Events unreachable, an error in
// its answer, a missing file) show only as false, std::nullopt or -1.
#pragma once

#include "zvcommon_export.h"

#include <QString>
#include <QUrl>
#include <QVariantList>
#include <optional>

class ZVCOMMON_EXPORT LQLoginItemRegistry {
public:
    LQLoginItemRegistry() = delete;

    // The login items in System Events' order, each a QVariantMap {"URL": QUrl (a file URL,
    // in the folder form with a trailing slash for an existing folder), "Hidden": bool};
    // std::nullopt when the listing fails.
    static std::optional<QVariantList> allLoginItems();

    // The index of the first item whose "URL" equals URL in a fresh listing, or -1.
    // Equality is the URL objects' own (QUrl ==), not a comparison of resolved paths: two
    // programs that are links to one shared binary are different items, so looking one up
    // never finds (nor removes) another vendor's item for the other.
    static qint32 indexForLoginItemWithURL(const QUrl &url);
    // indexForLoginItemWithURL(fileURLWithPath(path)).
    static qint32 indexForLoginItemWithPath(const QString &path);

    // Adds the file or folder as the last login item; true when it was added. A missing file
    // gives false and nothing is sent. Adding twice gives two items.
    static bool addLoginItemWithURLHideIt(const QUrl &url, bool hideIt);
    static bool addLoginItemWithPathHideIt(const QString &path, bool hideIt);

    // Removes the item at INDEX of the listing; true when it was removed (false, with nothing
    // sent, for a negative index).
    static bool removeLoginItemAtIndex(qint32 index);
    // Removes the first item equal to the URL (or the path's URL); false, with nothing sent,
    // when there is none.
    static bool removeLoginItemWithURL(const QUrl &url);
    static bool removeLoginItemWithPath(const QString &path);

    // The file URL of PATH as the listing gives it: absolute (a relative path is taken from
    // the current folder), cleaned of "." and "..", with a trailing slash when PATH is an
    // existing folder. An empty URL for an empty path.
    static QUrl fileURLWithPath(const QString &path);
};
