// The Apple Event Manager's descriptors on Linux: simple descriptors (a type and bytes in
// host byte order), lists, records and Apple Events, with the Mac's types, codes and
// statuses. A descriptor owns its data: whoever fills one disposes it with AEDisposeDesc,
// which leaves the null descriptor behind. Lists, records and events keep copies of what is
// put into them.
#pragma once

#include "MacTypes.h"

#include <QByteArray>

using AEKeyword = FourCharCode;
using AEEventClass = FourCharCode;
using AEEventID = FourCharCode;
using AEReturnID = SInt16;
using AETransactionID = SInt32;
using Size = long;

struct OpaqueAEDataStorageType;
using AEDataStorage = OpaqueAEDataStorageType *;

struct AEDesc {
    DescType descriptorType;
    AEDataStorage dataHandle;
};
using AEDescList = AEDesc;
using AERecord = AEDesc;
using AEAddressDesc = AEDesc;
using AppleEvent = AEDesc;

enum : DescType {
    typeNull = FOUR_CHAR_CODE("null"),
    typeWildCard = FOUR_CHAR_CODE("****"),
    typeType = FOUR_CHAR_CODE("type"),
    typeEnumerated = FOUR_CHAR_CODE("enum"),
    typeSInt16 = FOUR_CHAR_CODE("shor"),
    typeShortInteger = typeSInt16,
    typeSInt32 = FOUR_CHAR_CODE("long"),
    typeBoolean = FOUR_CHAR_CODE("bool"),
    typeUnicodeText = FOUR_CHAR_CODE("utxt"),
    typeAEList = FOUR_CHAR_CODE("list"),
    typeAERecord = FOUR_CHAR_CODE("reco"),
    typeAppleEvent = FOUR_CHAR_CODE("aevt"),
    typeProcessSerialNumber = FOUR_CHAR_CODE("psn "),
};

enum : OSStatus {
    errAECoercionFail = -1700,
    errAEDescNotFound = -1701,
    errAECorruptData = -1702,
    errAEWrongDataType = -1703,
    errAENotAEDesc = -1704,
    errAEBadListItem = -1705,
    errAENotAppleEvent = -1707,
    errAEEventNotHandled = -1708,
    errAEUnknownSendMode = -1710,
    errAETimeout = -1712,
    errAEIllegalIndex = -1719,
};

// Makes a descriptor of TYPECODE holding a copy of the DATASIZE bytes at DATAPTR. The null
// type without data gives the null descriptor.
OSErr AECreateDesc(DescType typeCode, const void *dataPtr, Size dataSize, AEDesc *result);
// Frees THEAEDESC's data and sets it to the null descriptor; disposing twice does nothing.
OSErr AEDisposeDesc(AEDesc *theAEDesc);
// An empty list, or an empty record when ISRECORD. Factoring is not supported (must be 0).
OSErr AECreateList(const void *factoringPtr, Size factoredSize, Boolean isRecord, AEDescList *resultList);
// A copy of THEAEDESC as TOTYPE. Supported: the same type or '****' (a copy); a record into
// any record type (such as an insertion location 'insl'), keeping its entries; any descriptor
// into a list of that one item; 'shor' and 'long' into each other when the value fits;
// 'type' and 'enum' into each other. Anything else is errAECoercionFail.
OSErr AECoerceDesc(const AEDesc *theAEDesc, DescType toType, AEDesc *result);

// Number of items of a list or entries of a record (or parameters of an event).
OSErr AECountItems(const AEDescList *theAEDescList, long *theCount);
// Item INDEX (one-based) of a list or record as DESIREDTYPE; errAEIllegalIndex when there is
// no such item. *THEAEKEYWORD (when given) receives the entry's keyword (0 in a list).
OSErr AEGetNthDesc(const AEDescList *theAEDescList, long index, DescType desiredType,
                   AEKeyword *theAEKeyword, AEDesc *result);

// Puts a copy of THEAEDESC into a list at INDEX (one-based), replacing that item; 0 or one
// past the last item appends. errAEIllegalIndex for other indexes.
OSErr AEPutDesc(AEDescList *theAEDescList, long index, const AEDesc *theAEDesc);

// Parameters of an Apple Event or entries of a record. Putting replaces an entry of the same
// keyword, in place, or appends. Getting gives errAEDescNotFound for a missing keyword and
// the coercion's status when the entry cannot be given as DESIREDTYPE. AEGetParamPtr copies
// at most MAXIMUMSIZE bytes and sets *ACTUALSIZE to the whole size of the data.
OSErr AEPutParamPtr(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType typeCode,
                    const void *dataPtr, Size dataSize);
OSErr AEPutParamDesc(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, const AEDesc *theAEDesc);
OSErr AEGetParamPtr(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                    DescType *actualType, void *dataPtr, Size maximumSize, Size *actualSize);
OSErr AEGetParamDesc(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                     AEDesc *result);

// Attributes of an Apple Event (its class, id, target address, return and transaction ids).
OSErr AEPutAttributePtr(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType typeCode,
                        const void *dataPtr, Size dataSize);
OSErr AEPutAttributeDesc(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, const AEDesc *theAEDesc);
OSErr AEGetAttributePtr(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                        DescType *typeCode, void *dataPtr, Size maximumSize, Size *actualSize);

// A descriptor as bytes and back, for carrying events between processes. The format is this
// platform's own; unflattening damaged bytes gives errAECorruptData and the null descriptor.
QByteArray AEFlattenDescToBytes(const AEDesc *theAEDesc);
OSStatus AEUnflattenDescFromBytes(const QByteArray &bytes, AEDesc *result);

// An Apple Event with no attributes and no parameters (the start of AECreateAppleEvent).
AppleEvent AEMakeEmptyEvent();
