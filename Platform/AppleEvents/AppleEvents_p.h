// Apple Events on Linux: creating an event, sending it to another process of this platform
// and waiting for the reply, and (in the receiving application) handling events with
// installed handlers. Events travel over the receiver's local socket in the Process Manager's
// registration folder (see Processes.h), one connection per sent event: a frame is the magic
// 'AEvt' (4 bytes), the length of the flattened event (4 bytes, big-endian) and the event
// flattened by AEFlattenDescToBytes; the reply comes back in the same framing.
#pragma once

#include "AEDataModel_p.h"

enum : AEEventClass {
    kCoreEventClass = FOUR_CHAR_CODE("aevt"),
    kAECoreSuite = FOUR_CHAR_CODE("core"),
};

enum : AEEventID {
    kAEGetData = FOUR_CHAR_CODE("getd"),
    kAECreateElement = FOUR_CHAR_CODE("crel"),
    kAEDelete = FOUR_CHAR_CODE("delo"),
    kAEQuitApplication = FOUR_CHAR_CODE("quit"),
    kAEAnswer = FOUR_CHAR_CODE("ansr"),
};

enum : AEKeyword {
    keyDirectObject = FOUR_CHAR_CODE("----"),
    keyErrorNumber = FOUR_CHAR_CODE("errn"),
    keyAEObjectClass = FOUR_CHAR_CODE("kocl"),
    keyAEPropData = FOUR_CHAR_CODE("prdt"),
    keyAEInsertHere = FOUR_CHAR_CODE("insh"),
    keyAEProperties = FOUR_CHAR_CODE("pALL"),
    keyEventClassAttr = FOUR_CHAR_CODE("evcl"),
    keyEventIDAttr = FOUR_CHAR_CODE("evid"),
    keyAddressAttr = FOUR_CHAR_CODE("addr"),
    keyReturnIDAttr = FOUR_CHAR_CODE("rtid"),
    keyTransactionIDAttr = FOUR_CHAR_CODE("tran"),
};

enum : AEReturnID { kAutoGenerateReturnID = -1 };
enum : AETransactionID { kAnyTransactionID = 0 };

using AESendMode = SInt32;
enum : AESendMode {
    kAENoReply = 0x00000001,
    kAEQueueReply = 0x00000002,
    kAEWaitReply = 0x00000003,
};

enum : long {
    kAEDefaultTimeout = -1, // about one minute (3600 ticks)
    kNoTimeOut = -2,
};

enum : OSStatus { errAEEventFailed = -10000, errAEParamMissed = -1715 };

// A new event of class and id addressed to TARGET (copied), with the return id (a fresh one
// for kAutoGenerateReturnID) and transaction id as attributes.
OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID,
                         const AEAddressDesc *target, AEReturnID returnID,
                         AETransactionID transactionID, AppleEvent *result);

// Sends THEEVENT to the process of its 'psn ' target address. REPLY is set to the null
// descriptor first. kAEWaitReply waits at most TIMEOUTINTICKS (1/60 s) for the reply and puts
// it into REPLY; kAENoReply returns once the event is handed over. Statuses: procNotFound
// (-600) when no such process is registered, connectionInvalid (-609) when it cannot be
// reached or drops the connection, errAETimeout (-1712) when the reply does not come in time,
// errAECorruptData for an unreadable reply, errAEUnknownSendMode for kAEQueueReply (there is
// no reply queue here), paramErr / errAENotAppleEvent for bad arguments.
OSStatus AESendMessage(const AppleEvent *event, AppleEvent *reply, AESendMode sendMode,
                       long timeOutInTicks);

using SRefCon = void *;
using AEEventHandlerProcPtr = OSErr (*)(const AppleEvent *theAppleEvent, AppleEvent *reply,
                                        SRefCon handlerRefcon);
using AEEventHandlerUPP = AEEventHandlerProcPtr;

// Installs HANDLER for events of the class and id ('****' matches any), replacing an earlier
// one. A handler's non-zero result goes into the reply as 'errn' unless the handler put one
// there; an event without a handler is answered with errAEEventNotHandled (-1708).
OSErr AEInstallEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID,
                            AEEventHandlerUPP handler, SRefCon handlerRefcon, Boolean isSysHandler);

// Linux: registers the running application with the Process Manager under SIGNATURE and
// answers the events that arrive, in the Qt event loop of the QCoreApplication (which must
// exist). noErr, or ioErr when the registration socket cannot be made.
OSStatus AEStartReceivingEvents(OSType signature);
// Linux: unregisters (removes the socket); events no longer arrive.
void AEStopReceivingEvents();
