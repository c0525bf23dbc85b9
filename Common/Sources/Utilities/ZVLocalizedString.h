// The configuration lookup: every path, process name, command line and the product name of
// an installation, looked up by key in the deployment's Localizable.plist.
#pragma once

#include "zvcommon_export.h"

#include <QString>
#include <QVariant>
#include <optional>

// Returns "" for a null key without loading anything. Otherwise loads the table on the first
// call that finds it (a missing or damaged table is tried again at every call; once loaded it
// is kept, unchanged, for the life of the process) and returns the key's value, or the key
// itself when the table lacks the key. A value that is not a string counts as missing.
// The comment is ignored. Main thread only.
ZVCOMMON_EXPORT QString ZVLocalizedString(const QString &key, const QString &comment);

// The largest table read: 4 MiB, some hundred times a real installation's table. A larger
// file is refused like a damaged one, by its size and without being read, so that a runaway
// or hostile file can neither stall the wizard nor exhaust its memory.
inline constexpr qint64 kLocalizedStringsMaxBytes = 4 * 1024 * 1024;

// Reads the table file at PATH as the lookup does (every property-list form, at most
// kLocalizedStringsMaxBytes): the property list's root, or none when the file is missing,
// too large or no property list. Whether the root is a dictionary is the caller's to judge.
ZVCOMMON_EXPORT std::optional<QVariant> ZVReadLocalizedStringsTable(const QString &path);
