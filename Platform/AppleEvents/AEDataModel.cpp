#include "AEDataModel_p.h"

#include <QDataStream>
#include <QIODevice>
#include <QList>
#include <cstring>
#include <utility>

// What a descriptor's data handle holds. A simple descriptor has bytes; a list, a record (of
// any record type) and an Apple Event have keyed entries; an event also has attributes.
struct OpaqueAEDataStorageType {
    enum Kind : quint8 { Simple = 0, List = 1, Record = 2, Event = 3 };
    Kind kind = Simple;
    QByteArray data;
    QList<std::pair<AEKeyword, AEDesc>> items;
    QList<std::pair<AEKeyword, AEDesc>> attributes;
};

namespace {

using Storage = OpaqueAEDataStorageType;

AEDesc nullDesc() { return AEDesc{typeNull, nullptr}; }

AEDesc copyDesc(const AEDesc &desc)
{
    if (!desc.dataHandle)
        return AEDesc{desc.descriptorType, nullptr};
    auto *s = new Storage;
    s->kind = desc.dataHandle->kind;
    s->data = desc.dataHandle->data;
    for (const auto &[key, item] : desc.dataHandle->items)
        s->items.append({key, copyDesc(item)});
    for (const auto &[key, item] : desc.dataHandle->attributes)
        s->attributes.append({key, copyDesc(item)});
    return AEDesc{desc.descriptorType, s};
}

void freeDesc(AEDesc &desc)
{
    if (Storage *s = desc.dataHandle) {
        for (auto &entry : s->items)
            freeDesc(entry.second);
        for (auto &entry : s->attributes)
            freeDesc(entry.second);
        delete s;
    }
    desc = nullDesc();
}

Storage::Kind kindOf(const AEDesc &desc)
{
    return desc.dataHandle ? desc.dataHandle->kind : Storage::Simple;
}

bool isKeyed(const AEDesc *desc)
{
    return desc && (kindOf(*desc) == Storage::Record || kindOf(*desc) == Storage::Event);
}

AEDesc makeSimple(DescType type, QByteArray data)
{
    if (type == typeNull && data.isEmpty())
        return nullDesc();
    auto *s = new Storage;
    s->data = std::move(data);
    return AEDesc{type, s};
}

QByteArray dataOf(const AEDesc &desc)
{
    return desc.dataHandle ? desc.dataHandle->data : QByteArray();
}

template<typename T>
bool readNumber(const AEDesc &desc, T *value)
{
    const QByteArray d = dataOf(desc);
    if (d.size() != int(sizeof(T)))
        return false;
    std::memcpy(value, d.constData(), sizeof(T));
    return true;
}

template<typename T>
QByteArray numberBytes(T value)
{
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof(T));
}

OSErr coerce(const AEDesc &from, DescType toType, AEDesc *result)
{
    *result = nullDesc();
    if (toType == typeWildCard || toType == from.descriptorType) {
        *result = copyDesc(from);
        return noErr;
    }
    const Storage::Kind kind = kindOf(from);
    if (toType == typeAEList) {
        // A single item becomes a list of that one item.
        auto *s = new Storage;
        s->kind = Storage::List;
        s->items.append({0, copyDesc(from)});
        *result = AEDesc{typeAEList, s};
        return noErr;
    }
    if (kind == Storage::Record) {
        *result = copyDesc(from);
        result->descriptorType = toType;
        return noErr;
    }
    if (kind != Storage::Simple)
        return errAECoercionFail;
    const DescType type = from.descriptorType;
    if (type == typeSInt16 && toType == typeSInt32) {
        SInt16 v;
        if (!readNumber(from, &v))
            return errAECoercionFail;
        *result = makeSimple(toType, numberBytes(SInt32(v)));
        return noErr;
    }
    if (type == typeSInt32 && toType == typeSInt16) {
        SInt32 v;
        if (!readNumber(from, &v) || v < -32768 || v > 32767)
            return errAECoercionFail;
        *result = makeSimple(toType, numberBytes(SInt16(v)));
        return noErr;
    }
    if ((type == typeType && toType == typeEnumerated) || (type == typeEnumerated && toType == typeType)) {
        *result = makeSimple(toType, dataOf(from));
        return noErr;
    }
    return errAECoercionFail;
}

OSErr putEntry(QList<std::pair<AEKeyword, AEDesc>> &entries, AEKeyword key, const AEDesc &desc)
{
    AEDesc copy = copyDesc(desc);
    for (auto &entry : entries) {
        if (entry.first == key) {
            freeDesc(entry.second);
            entry.second = copy;
            return noErr;
        }
    }
    entries.append({key, copy});
    return noErr;
}

const AEDesc *findEntry(const QList<std::pair<AEKeyword, AEDesc>> &entries, AEKeyword key)
{
    for (const auto &entry : entries)
        if (entry.first == key)
            return &entry.second;
    return nullptr;
}

OSErr getPtr(const AEDesc *found, DescType desiredType, DescType *actualType, void *dataPtr,
             Size maximumSize, Size *actualSize)
{
    if (!found)
        return errAEDescNotFound;
    AEDesc coerced;
    OSErr err = coerce(*found, desiredType, &coerced);
    if (err == noErr && kindOf(coerced) != Storage::Simple)
        err = errAECoercionFail;
    if (err == noErr) {
        const QByteArray d = dataOf(coerced);
        if (dataPtr && maximumSize > 0)
            std::memcpy(dataPtr, d.constData(), size_t(qMin<Size>(maximumSize, d.size())));
        if (actualSize)
            *actualSize = d.size();
        if (actualType)
            *actualType = coerced.descriptorType;
    }
    freeDesc(coerced);
    return err;
}

// Flattened form: type (4), kind (1), data length (4) and bytes, attribute count (4) and
// attributes, item count (4) and items; an entry is its keyword (4) and a flattened
// descriptor. Integers big-endian.
void flatten(QDataStream &out, const AEDesc &desc)
{
    out << quint32(desc.descriptorType) << quint8(kindOf(desc));
    const QByteArray d = dataOf(desc);
    out << quint32(d.size());
    out.writeRawData(d.constData(), int(d.size()));
    for (const auto *entries : {desc.dataHandle ? &desc.dataHandle->attributes : nullptr,
                                desc.dataHandle ? &desc.dataHandle->items : nullptr}) {
        out << quint32(entries ? entries->size() : 0);
        if (entries)
            for (const auto &[key, item] : *entries) {
                out << quint32(key);
                flatten(out, item);
            }
    }
}

bool unflatten(QDataStream &in, AEDesc *result, int depth)
{
    *result = nullDesc();
    if (depth > 64)
        return false;
    quint32 type = 0, size = 0;
    quint8 kind = 0;
    in >> type >> kind >> size;
    if (in.status() != QDataStream::Ok || kind > Storage::Event
        || size > quint32(in.device()->bytesAvailable()))
        return false;
    auto *s = new Storage;
    s->kind = Storage::Kind(kind);
    *result = AEDesc{type, s};
    s->data.resize(size);
    if (in.readRawData(s->data.data(), int(size)) != int(size))
        return false;
    for (auto *entries : {&s->attributes, &s->items}) {
        quint32 count = 0;
        in >> count;
        if (in.status() != QDataStream::Ok || count > quint32(in.device()->bytesAvailable()))
            return false;
        for (quint32 i = 0; i < count; ++i) {
            quint32 key = 0;
            in >> key;
            AEDesc item{typeNull, nullptr};
            const bool ok = in.status() == QDataStream::Ok && unflatten(in, &item, depth + 1);
            entries->append({key, item});
            if (!ok)
                return false;
        }
    }
    if (kind == Storage::Simple && s->data.isEmpty() && s->items.isEmpty() && type == typeNull) {
        delete s;
        *result = nullDesc();
    }
    return true;
}

} // namespace

OSErr AECreateDesc(DescType typeCode, const void *dataPtr, Size dataSize, AEDesc *result)
{
    if (!result || dataSize < 0 || (!dataPtr && dataSize > 0))
        return paramErr;
    *result = makeSimple(typeCode, QByteArray(static_cast<const char *>(dataPtr), int(dataSize)));
    return noErr;
}

OSErr AEDisposeDesc(AEDesc *theAEDesc)
{
    if (!theAEDesc)
        return paramErr;
    freeDesc(*theAEDesc);
    return noErr;
}

OSErr AECreateList(const void *factoringPtr, Size factoredSize, Boolean isRecord, AEDescList *resultList)
{
    if (!resultList || factoringPtr || factoredSize != 0)
        return paramErr;
    auto *s = new Storage;
    s->kind = isRecord ? Storage::Record : Storage::List;
    *resultList = AEDesc{isRecord ? typeAERecord : typeAEList, s};
    return noErr;
}

OSErr AECoerceDesc(const AEDesc *theAEDesc, DescType toType, AEDesc *result)
{
    if (!theAEDesc || !result)
        return paramErr;
    return coerce(*theAEDesc, toType, result);
}

OSErr AECountItems(const AEDescList *theAEDescList, long *theCount)
{
    if (!theAEDescList || !theCount)
        return paramErr;
    if (kindOf(*theAEDescList) == Storage::Simple)
        return errAEWrongDataType;
    *theCount = long(theAEDescList->dataHandle->items.size());
    return noErr;
}

OSErr AEGetNthDesc(const AEDescList *theAEDescList, long index, DescType desiredType,
                   AEKeyword *theAEKeyword, AEDesc *result)
{
    if (!theAEDescList || !result)
        return paramErr;
    *result = nullDesc();
    if (kindOf(*theAEDescList) == Storage::Simple)
        return errAEWrongDataType;
    const auto &items = theAEDescList->dataHandle->items;
    if (index < 1 || index > items.size())
        return errAEIllegalIndex;
    const auto &[key, item] = items.at(index - 1);
    if (theAEKeyword)
        *theAEKeyword = key;
    return coerce(item, desiredType, result);
}

OSErr AEPutDesc(AEDescList *theAEDescList, long index, const AEDesc *theAEDesc)
{
    if (!theAEDescList || !theAEDesc)
        return paramErr;
    if (kindOf(*theAEDescList) != Storage::List)
        return errAEWrongDataType;
    auto &items = theAEDescList->dataHandle->items;
    if (index == 0 || index == items.size() + 1) {
        items.append({0, copyDesc(*theAEDesc)});
        return noErr;
    }
    if (index < 0 || index > items.size())
        return errAEIllegalIndex;
    freeDesc(items[index - 1].second);
    items[index - 1].second = copyDesc(*theAEDesc);
    return noErr;
}

OSErr AEPutParamPtr(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType typeCode,
                    const void *dataPtr, Size dataSize)
{
    AEDesc desc;
    OSErr err = AECreateDesc(typeCode, dataPtr, dataSize, &desc);
    if (err == noErr)
        err = AEPutParamDesc(theAppleEvent, theAEKeyword, &desc);
    freeDesc(desc);
    return err;
}

OSErr AEPutParamDesc(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, const AEDesc *theAEDesc)
{
    if (!theAppleEvent || !theAEDesc)
        return paramErr;
    if (!isKeyed(theAppleEvent))
        return errAEWrongDataType;
    return putEntry(theAppleEvent->dataHandle->items, theAEKeyword, *theAEDesc);
}

OSErr AEGetParamPtr(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                    DescType *actualType, void *dataPtr, Size maximumSize, Size *actualSize)
{
    if (!theAppleEvent)
        return paramErr;
    if (!isKeyed(theAppleEvent))
        return errAEWrongDataType;
    return getPtr(findEntry(theAppleEvent->dataHandle->items, theAEKeyword), desiredType,
                  actualType, dataPtr, maximumSize, actualSize);
}

OSErr AEGetParamDesc(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                     AEDesc *result)
{
    if (!theAppleEvent || !result)
        return paramErr;
    *result = nullDesc();
    if (!isKeyed(theAppleEvent))
        return errAEWrongDataType;
    const AEDesc *found = findEntry(theAppleEvent->dataHandle->items, theAEKeyword);
    if (!found)
        return errAEDescNotFound;
    return coerce(*found, desiredType, result);
}

OSErr AEPutAttributePtr(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType typeCode,
                        const void *dataPtr, Size dataSize)
{
    AEDesc desc;
    OSErr err = AECreateDesc(typeCode, dataPtr, dataSize, &desc);
    if (err == noErr)
        err = AEPutAttributeDesc(theAppleEvent, theAEKeyword, &desc);
    freeDesc(desc);
    return err;
}

OSErr AEPutAttributeDesc(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, const AEDesc *theAEDesc)
{
    if (!theAppleEvent || !theAEDesc)
        return paramErr;
    if (kindOf(*theAppleEvent) != Storage::Event)
        return errAENotAppleEvent;
    return putEntry(theAppleEvent->dataHandle->attributes, theAEKeyword, *theAEDesc);
}

OSErr AEGetAttributePtr(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                        DescType *typeCode, void *dataPtr, Size maximumSize, Size *actualSize)
{
    if (!theAppleEvent)
        return paramErr;
    if (kindOf(*theAppleEvent) != Storage::Event)
        return errAENotAppleEvent;
    return getPtr(findEntry(theAppleEvent->dataHandle->attributes, theAEKeyword), desiredType,
                  typeCode, dataPtr, maximumSize, actualSize);
}

QByteArray AEFlattenDescToBytes(const AEDesc *theAEDesc)
{
    QByteArray bytes;
    if (!theAEDesc)
        return bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    flatten(out, *theAEDesc);
    return bytes;
}

OSStatus AEUnflattenDescFromBytes(const QByteArray &bytes, AEDesc *result)
{
    if (!result)
        return paramErr;
    QDataStream in(bytes);
    if (!unflatten(in, result, 0) || !in.atEnd()) {
        freeDesc(*result);
        return errAECorruptData;
    }
    return noErr;
}

// Used by AECreateAppleEvent: an empty Apple Event descriptor.
AppleEvent AEMakeEmptyEvent()
{
    auto *s = new OpaqueAEDataStorageType;
    s->kind = OpaqueAEDataStorageType::Event;
    return AEDesc{typeAppleEvent, s};
}
