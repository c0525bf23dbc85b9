#include "LoginItemsAE.h"

#include "AEObjects_p.h"
#include "AppleEvents_p.h"
#include "LaunchServices_p.h"
#include "Processes_p.h"

#include <cstdarg>

namespace {

constexpr OSType kSystemEventsCreator = FOUR_CHAR_CODE("sevs");
constexpr DescType cLoginItem = FOUR_CHAR_CODE("logi");
constexpr AEKeyword propPath = FOUR_CHAR_CODE("ppth");
constexpr AEKeyword propHidden = FOUR_CHAR_CODE("hidn");
constexpr long kTimeoutTicks = 300; // five seconds

// Disposes DESC and leaves the null descriptor, so that a second disposal does nothing.
void AEDisposeDescQ(AEDesc *desc)
{
    const OSErr junk = AEDisposeDesc(desc);
    Q_ASSERT(junk == noErr);
    Q_UNUSED(junk);
    *desc = AEDesc{typeNull, nullptr};
}

// Rewrites the BUFLEN bytes of BUF from encoding FROM into encoding TO, in place, writing at
// most BUFSIZE bytes; returns the new length, or -1 when the bytes are not text in FROM or
// the whole text does not fit (a truncated path would name another file).
CFIndex ConvertPathEncoding(UInt8 *buf, CFIndex bufLen, CFIndex bufSize, CFStringEncoding from,
                            CFStringEncoding to)
{
    CFStringRef str = CFStringCreateWithBytes(nullptr, buf, bufLen, from, false);
    if (!str)
        return -1;
    const CFIndex length = CFStringGetLength(str);
    CFIndex used = 0;
    const CFIndex converted = CFStringGetBytes(str, CFRangeMake(0, length), to, 0, false, buf,
                                               bufSize, &used);
    CFRelease(str);
    return converted == length ? used : -1;
}

// Finds System Events, starting it when it does not run, and sends it the event CLASS/ID with
// the parameters given as (keyword, const AEDesc *) pairs ended by keyword 0. When REPLY is
// given and the result is noErr, *REPLY receives the reply (the caller's to dispose).
OSStatus SendEventToSystemEventsWithParameters(AEEventClass theClass, AEEventID theEvent,
                                               AppleEvent *reply, ...)
{
    Q_ASSERT((reply == nullptr) || (reply->descriptorType == typeNull));

    AEDesc target{typeNull, nullptr};
    AppleEvent event{typeNull, nullptr};
    AppleEvent localReply{typeNull, nullptr};

    // 1-2. The process, started when it does not run.
    ProcessSerialNumber psn{0, kNoProcess};
    OSStatus err;
    bool found = false;
    do {
        err = GetNextProcess(&psn);
        if (err == noErr) {
            ProcessInfoRec info{};
            info.processInfoLength = sizeof(info);
            err = GetProcessInformation(&psn, &info);
            found = err == noErr && info.processSignature == kSystemEventsCreator;
        }
    } while (err == noErr && !found);
    if (err == procNotFound) {
        FSRef appRef;
        err = LSFindApplicationForInfo(kSystemEventsCreator, nullptr, nullptr, &appRef, nullptr);
        if (err == noErr) {
            LSApplicationParameters params{0, kLSLaunchDefaults, &appRef, nullptr, nullptr, nullptr, nullptr};
            err = LSOpenApplication(&params, &psn);
        }
    }

    // 3-5. The event and its parameters.
    if (err == noErr)
        err = AECreateDesc(typeProcessSerialNumber, &psn, sizeof(psn), &target);
    if (err == noErr)
        err = AECreateAppleEvent(theClass, theEvent, &target, kAutoGenerateReturnID, kAnyTransactionID, &event);
    if (err == noErr) {
        va_list ap;
        va_start(ap, reply);
        for (;;) {
            const AEKeyword thisKeyword = va_arg(ap, AEKeyword);
            if (thisKeyword == 0)
                break;
            const AEDesc *thisDesc = va_arg(ap, const AEDesc *);
            Q_ASSERT(thisDesc != nullptr);
            if (err == noErr)
                err = AEPutParamDesc(&event, thisKeyword, thisDesc);
        }
        va_end(ap);
    }

    // 6-7. Send, wait, and take the error number of the reply.
    if (err == noErr)
        err = AESendMessage(&event, &localReply, kAEWaitReply, kTimeoutTicks);
    if (err == noErr && localReply.descriptorType != typeNull) {
        SInt16 replyErr = noErr;
        DescType junkType;
        Size junkSize;
        const OSErr getErr = AEGetParamPtr(&localReply, keyErrorNumber, typeSInt16, &junkType,
                                           &replyErr, sizeof(replyErr), &junkSize);
        if (getErr == noErr && junkSize != Size(sizeof(replyErr)))
            err = errAECoercionFail;
        else if (getErr == noErr)
            err = replyErr;
        else if (getErr != errAEDescNotFound)
            err = getErr;
    }

    // 8.
    if (reply && err == noErr)
        *reply = localReply;
    else
        AEDisposeDescQ(&localReply);
    AEDisposeDescQ(&event);
    AEDisposeDescQ(&target);

    Q_ASSERT((reply == nullptr) || ((err == noErr) == (reply->descriptorType != typeNull)));
    return err;
}

OSStatus CreateCFArrayFromAEDescList(const AEDescList *descList, CFArrayRef *itemsPtr)
{
    Q_ASSERT(itemsPtr != nullptr);
    Q_ASSERT(*itemsPtr == nullptr);

    OSStatus err = noErr;
    CFMutableArrayRef result = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    if (!result)
        err = coreFoundationUnknownErr;
    long itemCount = 0;
    if (err == noErr)
        err = AECountItems(descList, &itemCount);
    for (long itemIndex = 1; err == noErr && itemIndex <= itemCount; ++itemIndex) {
        AERecord thisItem{typeNull, nullptr};
        CFURLRef thisURL = nullptr;
        CFDictionaryRef thisDict = nullptr;

        err = AEGetNthDesc(descList, itemIndex, typeAERecord, nullptr, &thisItem);

        UInt8 thisPath[1024];
        Size thisPathSize = 0;
        DescType junkType;
        if (err == noErr)
            err = AEGetParamPtr(&thisItem, propPath, typeUnicodeText, &junkType, thisPath,
                                sizeof(thisPath) - 1, &thisPathSize);
        if (err == noErr) {
            // A path that did not fit is not converted at all (see the header).
            const CFIndex length = thisPathSize <= Size(sizeof(thisPath) - 1)
                ? ConvertPathEncoding(thisPath, thisPathSize, sizeof(thisPath) - 1,
                                      kCFStringEncodingUnicode, kCFStringEncodingUTF8)
                : -1;
            if (length < 0) {
                err = coreFoundationUnknownErr;
            } else {
                thisPath[length] = 0;
                FSRef thisItemRef;
                if (FSPathMakeRef(thisPath, &thisItemRef, nullptr) == noErr)
                    thisURL = CFURLCreateFromFSRef(nullptr, &thisItemRef);
                else
                    thisURL = CFURLCreateFromFileSystemRepresentation(nullptr, thisPath, length, false);
                if (!thisURL)
                    err = coreFoundationUnknownErr;
            }
        }

        if (err == noErr) {
            Boolean thisItemHidden = false;
            Size junkSize;
            if (AEGetParamPtr(&thisItem, propHidden, typeBoolean, &junkType, &thisItemHidden,
                              sizeof(thisItemHidden), &junkSize) != noErr)
                thisItemHidden = false;
            const void *keys[] = {CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>("URL"), 3,
                                                          kCFStringEncodingUTF8, false),
                                  CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>("Hidden"), 6,
                                                          kCFStringEncodingUTF8, false)};
            const void *values[] = {thisURL, thisItemHidden ? kCFBooleanTrue : kCFBooleanFalse};
            if (keys[0] && keys[1])
                thisDict = CFDictionaryCreate(nullptr, keys, values, 2, &kCFTypeDictionaryKeyCallBacks,
                                              &kCFTypeDictionaryValueCallBacks);
            for (const void *key : keys)
                if (key)
                    CFRelease(key);
            if (thisDict)
                CFArrayAppendValue(result, thisDict);
            else
                err = coreFoundationUnknownErr;
        }

        AEDisposeDescQ(&thisItem);
        if (thisURL)
            CFRelease(thisURL);
        if (thisDict)
            CFRelease(thisDict);
    }

    if (err != noErr && result) {
        CFRelease(result);
        result = nullptr;
    }
    *itemsPtr = result;
    Q_ASSERT((err == noErr) == (*itemsPtr != nullptr));
    return err;
}

} // namespace

OSStatus LIAECopyLoginItems(CFArrayRef *itemsPtr)
{
    Q_ASSERT(itemsPtr != nullptr);
    Q_ASSERT(*itemsPtr == nullptr);

    AEDesc reply{typeNull, nullptr};
    AEDesc loginItemAtIndex{typeNull, nullptr};
    AEDesc containerObj{typeNull, nullptr};
    AEDesc propertyCode{typeNull, nullptr};
    AEDesc indexDesc{typeNull, nullptr};
    AEDesc replyList{typeNull, nullptr};

    // Every login item, then all properties of every login item.
    const DescType all = kAEAll;
    OSStatus err = AECreateDesc(typeAbsoluteOrdinal, &all, sizeof(all), &indexDesc);
    if (err == noErr)
        err = CreateObjSpecifier(cLoginItem, &containerObj, formAbsolutePosition, &indexDesc, false,
                                 &loginItemAtIndex);
    const DescType properties = keyAEProperties;
    if (err == noErr)
        err = AECreateDesc(typeType, &properties, sizeof(properties), &propertyCode);
    AEDesc propertiesOfItems{typeNull, nullptr};
    if (err == noErr)
        err = CreateObjSpecifier(cProperty, &loginItemAtIndex, formPropertyID, &propertyCode, false,
                                 &propertiesOfItems);
    AEDisposeDescQ(&indexDesc);
    AEDisposeDescQ(&propertyCode);
    AEDisposeDescQ(&loginItemAtIndex);

    if (err == noErr)
        err = SendEventToSystemEventsWithParameters(kAECoreSuite, kAEGetData, &reply,
                                                    keyDirectObject, &propertiesOfItems, AEKeyword(0));
    if (err == noErr)
        err = AEGetParamDesc(&reply, keyDirectObject, typeAEList, &replyList);
    if (err == noErr)
        err = CreateCFArrayFromAEDescList(&replyList, itemsPtr);

    AEDisposeDescQ(&reply);
    AEDisposeDescQ(&replyList);
    AEDisposeDescQ(&propertiesOfItems);
    AEDisposeDescQ(&containerObj);

    if (err != noErr && *itemsPtr) {
        CFRelease(*itemsPtr);
        *itemsPtr = nullptr;
    }
    Q_ASSERT((err == noErr) == (*itemsPtr != nullptr));
    return err;
}

OSStatus LIAEAddRefAtEnd(const FSRef *item, Boolean hideIt)
{
    Q_ASSERT(item != nullptr);

    AEDesc itemAEType{typeNull, nullptr};
    AEDesc propRecord{typeNull, nullptr};
    AEDesc insertionLocation{typeNull, nullptr};
    AERecord locationRecord{typeNull, nullptr};

    const DescType itemClass = cLoginItem;
    OSStatus err = AECreateDesc(typeType, &itemClass, sizeof(itemClass), &itemAEType);

    if (err == noErr)
        err = AECreateList(nullptr, 0, true, &propRecord);
    if (err == noErr) {
        UInt8 path[1024];
        err = FSRefMakePath(item, path, sizeof(path));
        if (err == noErr) {
            CFIndex pathSize = CFIndex(qstrlen(reinterpret_cast<const char *>(path)));
            pathSize = ConvertPathEncoding(path, pathSize, sizeof(path), kCFStringEncodingUTF8,
                                           kCFStringEncodingUnicode);
            // The listing reads paths back into 1023 bytes: refuse what it could not read.
            if (pathSize < 0 || pathSize > 1023)
                err = coreFoundationUnknownErr;
            else
                err = AEPutParamPtr(&propRecord, propPath, typeUnicodeText, path, pathSize);
        }
    }
    if (err == noErr) {
        const Boolean hidden = hideIt ? 1 : 0;
        err = AEPutParamPtr(&propRecord, propHidden, typeBoolean, &hidden, sizeof(hidden));
    }

    // At the end of the existing items.
    if (err == noErr)
        err = AECreateList(nullptr, 0, true, &locationRecord);
    if (err == noErr)
        err = AEPutParamPtr(&locationRecord, keyAEObject, typeNull, nullptr, 0);
    if (err == noErr) {
        const DescType end = kAEEnd;
        err = AEPutParamPtr(&locationRecord, keyAEPosition, typeEnumerated, &end, sizeof(end));
    }
    if (err == noErr)
        err = AECoerceDesc(&locationRecord, typeInsertionLoc, &insertionLocation);

    if (err == noErr)
        err = SendEventToSystemEventsWithParameters(kAECoreSuite, kAECreateElement, nullptr,
                                                    keyAEObjectClass, &itemAEType,
                                                    keyAEPropData, &propRecord,
                                                    keyAEInsertHere, &insertionLocation,
                                                    AEKeyword(0));

    AEDisposeDescQ(&itemAEType);
    AEDisposeDescQ(&propRecord);
    AEDisposeDescQ(&locationRecord);
    AEDisposeDescQ(&insertionLocation);
    return err;
}

OSStatus LIAEAddURLAtEnd(CFURLRef item, Boolean hideIt)
{
    Q_ASSERT(item != nullptr);
    FSRef ref;
    if (!CFURLGetFSRef(item, &ref))
        return fnfErr;
    return LIAEAddRefAtEnd(&ref, hideIt);
}

OSStatus LIAERemove(CFIndex itemIndex)
{
    Q_ASSERT(itemIndex >= 0);

    AEDesc indexDesc{typeNull, nullptr};
    AEDesc loginItemAtIndex{typeNull, nullptr};
    AEDesc containerObj{typeNull, nullptr};

    // Apple Event positions count from one.
    const SInt32 position = SInt32(itemIndex + 1);
    OSStatus err = AECreateDesc(typeSInt32, &position, sizeof(position), &indexDesc);
    if (err == noErr)
        err = CreateObjSpecifier(cLoginItem, &containerObj, formAbsolutePosition, &indexDesc, false,
                                 &loginItemAtIndex);
    if (err == noErr)
        err = SendEventToSystemEventsWithParameters(kAECoreSuite, kAEDelete, nullptr,
                                                    keyDirectObject, &loginItemAtIndex, AEKeyword(0));

    AEDisposeDescQ(&indexDesc);
    AEDisposeDescQ(&loginItemAtIndex);
    return err;
}
