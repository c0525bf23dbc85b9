// The root of the classes whose objects live in lists read from and written to keyed
// archives (schedule records). A list (NSMutableArray) is a QVariantList; an element that is
// such an object holds an NSObjectPtr, other elements hold plain values (QString, numbers,
// QVariantList, ...).
#pragma once

#include "zvcommon_export.h"

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

class NSKeyedArchiver;

class ZVCOMMON_EXPORT NSObject {
public:
    virtual ~NSObject() = default;
    // The class name under which the object is archived.
    virtual QString className() const = 0;
    // The names of the classes that className() derives from, nearest first, as a keyed
    // archive lists them after the class's own name ($classes).
    virtual QStringList superclassNames() const { return {QStringLiteral("NSObject")}; }
    // Keyed coding: writes the object's content into the archiver (NSKeyedArchiver.h). A class
    // that is read back registers its initWithCoder with NSKeyedUnarchiver::setClassForClassName.
    virtual void encodeWithCoder(NSKeyedArchiver &coder) const { Q_UNUSED(coder); }
};

using NSObjectPtr = std::shared_ptr<NSObject>;
Q_DECLARE_METATYPE(NSObjectPtr)

// The object held by a list element, or null when the element holds a plain value.
inline NSObjectPtr objectFromVariant(const QVariant &value)
{
    return value.canConvert<NSObjectPtr>() && value.userType() == qMetaTypeId<NSObjectPtr>()
        ? value.value<NSObjectPtr>() : NSObjectPtr();
}
