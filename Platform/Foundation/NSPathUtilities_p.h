// Path and user helpers of the platform: the user's short name and home folder, tilde
// expansion, path standardizing, and formats used without arguments.
#pragma once

#include <QString>

// The short login name of the user who runs the process (from the password database); ""
// when the user has no entry.
QString NSUserName();

// The home folder of the user who runs the process: $HOME when set, else the password
// database's entry.
QString NSHomeDirectory();

// A leading "~" or "~/" becomes the home folder; "~name/..." becomes that user's home when
// the user exists. Anything else is returned unchanged.
QString stringByExpandingTildeInPath(const QString &path);

// Expands a leading tilde, folds doubled slashes, drops "." components and a trailing "/",
// and, in an absolute path, removes each ".." with the component before it ("/.." stays "/").
// A relative path keeps its ".." components.
QString stringByStandardizingPath(const QString &path);

