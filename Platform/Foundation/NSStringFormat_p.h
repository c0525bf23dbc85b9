// Filling the Mac's "%@" format strings, as the product's command lines and configured paths
// are stored in that form.
#pragma once

#include <QString>
#include <QStringList>

namespace NSStringFormat {

// FORMAT with each "%@" replaced, in order, by the next of OBJECTS (taken as they are, never
// re-read as a format) and each "%%" by "%". A "%@" beyond the objects and any other "%"
// sequence stay as written. With no objects this is a format used without arguments.
QString stringWithFormat(const QString &format, const QStringList &objects = {});

} // namespace NSStringFormat
