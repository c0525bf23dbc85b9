// Apple Events on Linux: creating an event, sending it to another process of this platform
// and waiting for the reply, and (in the receiving application) handling events with
// installed handlers. Events travel over the user's D-Bus session bus: the receiver owns the
// bus name of its signature (see Processes.h) and exports, at /org/zvuninstaller/AppleEvents,
// the interface org.zvuninstaller.AppleEvents with one method, Send(ay event) -> ay reply,
// both flattened by AEFlattenDescToBytes. The bus daemon carries, limits and times the
// messages (busctl and dbus-monitor show them).
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
// it into REPLY; kAENoReply returns once the event is handed to the bus. Statuses:
// procNotFound (-600) when no such process is registered, connectionInvalid (-609) when it
// cannot be reached, ends before answering or refuses the caller, errAETimeout (-1712) when
// the reply does not come in time, errAECorruptData for an unreadable reply,
// errAEUnknownSendMode for kAEQueueReply (there is no reply queue here), paramErr /
// errAENotAppleEvent for bad arguments (also when the receiver finds no Apple Event).
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

// Linux: registers the running application with the Process Manager under SIGNATURE (owns
// its bus name on a session bus connection of its own) and answers the events that arrive,
// in the event loop of the calling thread. noErr; connectionInvalid when no session bus can
// be reached; ioErr when another process owns the name (one process per signature and bus).
OSStatus AEStartReceivingEvents(OSType signature);
// Linux: true while registered and the bus connection stands (it ends with the bus daemon).
Boolean AEIsReceivingEvents();
// Linux: unregisters (gives the name up, closes the connection); events no longer arrive.
// From the thread that called AEStartReceivingEvents.
void AEStopReceivingEvents();
