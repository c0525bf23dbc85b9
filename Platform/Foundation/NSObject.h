// The root of the classes whose objects live in lists read from and written to keyed
// archives (schedule records). A list (NSMutableArray) is a QVariantList; an element that is
// such an object holds an NSObjectPtr, other elements hold plain values (QString, numbers,
// QVariantList, ...).
#pragma once

#include <QMetaType>
#include <QString>
#include <QVariant>
#include <memory>

class NSObject {
public:
    virtual ~NSObject() = default;
    // The class name under which the object is archived.
    virtual QString className() const = 0;
};

using NSObjectPtr = std::shared_ptr<NSObject>;
Q_DECLARE_METATYPE(NSObjectPtr)

// The object held by a list element, or null when the element holds a plain value.
inline NSObjectPtr objectFromVariant(const QVariant &value)
{
    return value.canConvert<NSObjectPtr>() && value.userType() == qMetaTypeId<NSObjectPtr>()
        ? value.value<NSObjectPtr>() : NSObjectPtr();
}
