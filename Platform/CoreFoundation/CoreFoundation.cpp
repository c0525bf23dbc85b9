#include "CoreFoundation.h"

#include "Files.h"

#include <QDir>
#include <QStringDecoder>
#include <QUrl>
#include <atomic>
#include <cstring>

// Every object starts with this base; the type decides how it bridges to Qt.
struct __CFType {
    explicit __CFType(bool immortal = false) : immortal(immortal) {}
    virtual ~__CFType() = default;
    virtual QVariant toVariant() const = 0;
    std::atomic<int> retainCount{1};
    const bool immortal;
};

struct __CFString : __CFType {
    explicit __CFString(QString s) : value(std::move(s)) {}
    QVariant toVariant() const override { return value; }
    QString value;
};

struct __CFURL : __CFType {
    explicit __CFURL(QUrl u) : value(std::move(u)) {}
    QVariant toVariant() const override { return value; }
    QUrl value;
};

struct __CFBoolean : __CFType {
    explicit __CFBoolean(bool b) : __CFType(true), value(b) {}
    QVariant toVariant() const override { return value; }
    bool value;
};

struct __CFArray : __CFType {
    QVariant toVariant() const override { return values; }
    QVariantList values;
};

struct __CFDictionary : __CFType {
    QVariant toVariant() const override { return values; }
    QVariantMap values;
};

namespace {
const __CFBoolean trueObject(true);
const __CFBoolean falseObject(false);

const __CFType *asType(CFTypeRef cf) { return static_cast<const __CFType *>(cf); }
} // namespace

const CFArrayCallBacks kCFTypeArrayCallBacks{0};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{0};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{0};
const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFBooleanRef kCFBooleanTrue = &trueObject;
const CFBooleanRef kCFBooleanFalse = &falseObject;

void CFRelease(CFTypeRef cf)
{
    Q_ASSERT(cf != nullptr);
    const __CFType *object = asType(cf);
    if (!object || object->immortal)
        return;
    if (const_cast<__CFType *>(object)->retainCount.fetch_sub(1) == 1)
        delete object;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8 *bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation)
{
    if (numBytes < 0 || (!bytes && numBytes > 0))
        return nullptr;
    const char *data = reinterpret_cast<const char *>(bytes);
    switch (encoding) {
    case kCFStringEncodingUTF8: {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString s = decoder.decode(QByteArrayView(data, numBytes));
        if (decoder.hasError())
            return nullptr;
        return new __CFString(std::move(s));
    }
    case kCFStringEncodingUnicode: {
        if (numBytes % 2 != 0)
            return nullptr;
        QString s(numBytes / 2, Qt::Uninitialized);
        if (numBytes > 0)
            std::memcpy(s.data(), data, size_t(numBytes));
        if (isExternalRepresentation && !s.isEmpty()) {
            if (s.at(0) == QChar(0xFEFF)) {
                s.remove(0, 1);
            } else if (s.at(0) == QChar(0xFFFE)) {
                s.remove(0, 1);
                for (QChar &c : s)
                    c = QChar(char16_t((c.unicode() >> 8) | (c.unicode() << 8)));
            }
        }
        return new __CFString(std::move(s));
    }
    default:
        return nullptr;
    }
}

CFIndex CFStringGetLength(CFStringRef theString)
{
    Q_ASSERT(theString != nullptr);
    return theString ? CFIndex(theString->value.size()) : 0;
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8 *buffer,
                         CFIndex maxBufLen, CFIndex *usedBufLen)
{
    CFIndex used = 0;
    CFIndex converted = 0;
    const QString &s = theString ? theString->value : QString();
    const CFIndex end = qMin<CFIndex>(range.location + range.length, s.size());
    CFIndex i = qMax<CFIndex>(range.location, 0);
    auto put = [&](const QByteArray &bytes) {
        if (buffer) {
            if (used + bytes.size() > maxBufLen)
                return false;
            std::memcpy(buffer + used, bytes.constData(), size_t(bytes.size()));
        }
        used += bytes.size();
        return true;
    };
    if (encoding == kCFStringEncodingUnicode && isExternalRepresentation) {
        const char16_t bom = 0xFEFF;
        if (!put(QByteArray(reinterpret_cast<const char *>(&bom), 2)))
            i = end;
    }
    while (i < end) {
        // One character: a surrogate pair stays together.
        CFIndex units = 1;
        if (QChar::isHighSurrogate(s.at(i).unicode()) && i + 1 < end
            && QChar::isLowSurrogate(s.at(i + 1).unicode()))
            units = 2;
        const QStringView ch(s.constData() + i, units);
        QByteArray bytes;
        if (encoding == kCFStringEncodingUnicode) {
            bytes = QByteArray(reinterpret_cast<const char *>(ch.utf16()), int(units * 2));
        } else if (encoding == kCFStringEncodingUTF8) {
            if (units == 1 && ch.at(0).isSurrogate()) {
                if (lossByte == 0)
                    break;
                bytes = QByteArray(1, char(lossByte));
            } else {
                bytes = ch.toUtf8();
            }
        } else {
            break;
        }
        if (!put(bytes))
            break;
        i += units;
        converted += units;
    }
    if (usedBufLen)
        *usedBufLen = used;
    return converted;
}

CFURLRef CFURLCreateFromFSRef(CFAllocatorRef, const FSRef *fsRef)
{
    if (!fsRef || fsRef->path.isEmpty())
        return nullptr;
    QByteArray path = fsRef->path;
    Boolean isDirectory = 0;
    FSRef check;
    if (FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.constData()), &check, &isDirectory) != noErr)
        isDirectory = 0;
    return CFURLCreateFromFileSystemRepresentation(nullptr, reinterpret_cast<const UInt8 *>(path.constData()),
                                                   path.size(), isDirectory);
}

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8 *buffer,
                                                 CFIndex bufLen, Boolean isDirectory)
{
    if (!buffer || bufLen <= 0)
        return nullptr;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString path = decoder.decode(QByteArrayView(reinterpret_cast<const char *>(buffer), bufLen));
    if (decoder.hasError() || path.contains(QChar(0)))
        return nullptr;
    if (!path.startsWith(QLatin1Char('/')))
        path = QDir::current().absoluteFilePath(path);
    path = QDir::cleanPath(path);
    if (isDirectory && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return new __CFURL(QUrl::fromLocalFile(path));
}

Boolean CFURLGetFSRef(CFURLRef url, FSRef *fsRef)
{
    if (!url || !fsRef || !url->value.isLocalFile())
        return 0;
    const QByteArray path = QFile::encodeName(url->value.toLocalFile());
    if (path.isEmpty())
        return 0;
    return FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.constData()), fsRef, nullptr) == noErr;
}

CFURLRef CFURLCreateWithQUrl(const QUrl &url)
{
    return url.isValid() ? new __CFURL(url) : nullptr;
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex capacity, const CFArrayCallBacks *)
{
    auto *array = new __CFArray;
    if (capacity > 0)
        array->values.reserve(capacity);
    return array;
}

void CFArrayAppendValue(CFMutableArrayRef theArray, const void *value)
{
    Q_ASSERT(theArray != nullptr && value != nullptr);
    if (theArray && value)
        theArray->values.append(asType(value)->toVariant());
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void **keys, const void **values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks *,
                                   const CFDictionaryValueCallBacks *)
{
    if (numValues < 0 || (numValues > 0 && (!keys || !values)))
        return nullptr;
    auto *dictionary = new __CFDictionary;
    for (CFIndex i = 0; i < numValues; ++i) {
        const auto *key = dynamic_cast<const __CFString *>(asType(keys[i]));
        if (!key || !values[i]) {
            delete dictionary;
            return nullptr;
        }
        dictionary->values.insert(key->value, asType(values[i])->toVariant());
    }
    return dictionary;
}

QVariant CFBridgingToQVariant(CFTypeRef cf)
{
    return cf ? asType(cf)->toVariant() : QVariant();
}
