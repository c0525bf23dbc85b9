// The configuration lookup: every path, process name, command line and the product name of
// an installation, looked up by key in the deployment's Localizable.plist.
#pragma once

#include "zvcommon_export.h"

#include <QString>

// Returns "" for a null key without loading anything. Otherwise loads the table on the first
// call that finds it (a missing or damaged table is tried again at every call; once loaded it
// is kept, unchanged, for the life of the process) and returns the key's value, or the key
// itself when the table lacks the key. A value that is not a string counts as missing.
// The comment is ignored. Main thread only.
ZVCOMMON_EXPORT QString ZVLocalizedString(const QString &key, const QString &comment);
