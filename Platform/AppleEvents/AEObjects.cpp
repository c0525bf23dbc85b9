#include "AEObjects_p.h"

OSErr CreateObjSpecifier(DescType desiredClass, AEDesc *theContainer, DescType keyForm,
                         AEDesc *keyData, Boolean disposeInputs, AEDesc *objSpecifier)
{
    OSErr err = (theContainer && keyData && objSpecifier) ? noErr : paramErr;
    AERecord record{typeNull, nullptr};
    if (err == noErr)
        err = AECreateList(nullptr, 0, true, &record);
    if (err == noErr)
        err = AEPutParamPtr(&record, keyAEDesiredClass, typeType, &desiredClass, sizeof(desiredClass));
    if (err == noErr)
        err = AEPutParamDesc(&record, keyAEContainer, theContainer);
    if (err == noErr)
        err = AEPutParamPtr(&record, keyAEKeyForm, typeEnumerated, &keyForm, sizeof(keyForm));
    if (err == noErr)
        err = AEPutParamDesc(&record, keyAEKeyData, keyData);
    if (err == noErr)
        err = AECoerceDesc(&record, typeObjectSpecifier, objSpecifier);
    AEDisposeDesc(&record);
    if (disposeInputs) {
        AEDisposeDesc(theContainer);
        AEDisposeDesc(keyData);
    }
    return err;
}
