// Operations on the platform's ordered lists (QVariantList), grouped as MyExtensions: the
// schedule list file's reader and writer, and list filters and prefix searches.
#pragma once

#include "NSObject.h"

#include <QString>
#include <QVariantList>
#include <optional>

namespace MyExtensions {

// Stores LIST as a keyed archive under KEY at PATH (atomically), then sets the file's mode
// to 0777; true when the file was written.
bool writeToArchivedFileWithKey(const QVariantList &list, const QString &path, const QString &key);

// The list stored under KEY in the keyed archive at PATH; none when the file cannot be read;
// an empty list when the key is absent.
std::optional<QVariantList> initWithContentsOfArchivedFileWithKey(const QString &path, const QString &key);

} // namespace MyExtensions
