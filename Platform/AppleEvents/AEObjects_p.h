// Object specifiers of the Apple Event object model on Linux: records of type 'obj ' that
// name objects of an application ("every login item", "login item 2", "all properties of
// ...").
#pragma once

#include "AEDataModel_p.h"

enum : DescType {
    typeObjectSpecifier = FOUR_CHAR_CODE("obj "),
    typeAbsoluteOrdinal = FOUR_CHAR_CODE("abso"),
    typeInsertionLoc = FOUR_CHAR_CODE("insl"),
    formAbsolutePosition = FOUR_CHAR_CODE("indx"),
    formPropertyID = FOUR_CHAR_CODE("prop"),
    cProperty = FOUR_CHAR_CODE("prop"),
    kAEAll = FOUR_CHAR_CODE("all "),
    kAEEnd = FOUR_CHAR_CODE("end "),
};

enum : AEKeyword {
    keyAEDesiredClass = FOUR_CHAR_CODE("want"),
    keyAEContainer = FOUR_CHAR_CODE("from"),
    keyAEKeyForm = FOUR_CHAR_CODE("form"),
    keyAEKeyData = FOUR_CHAR_CODE("seld"),
    keyAEObject = FOUR_CHAR_CODE("kobj"),
    keyAEPosition = FOUR_CHAR_CODE("kpos"),
};

enum : OSStatus { errAENoSuchObject = -1728 };

// Makes an object specifier for the object(s) of class DESIREDCLASS in THECONTAINER (the null
// descriptor for the application itself), selected by KEYFORM and KEYDATA: a record of type
// 'obj ' with the entries 'want' (a 'type'), 'from', 'form' (an 'enum') and 'seld'. When
// DISPOSEINPUTS, the container and the key data are disposed, whatever the result.
OSErr CreateObjSpecifier(DescType desiredClass, AEDesc *theContainer, DescType keyForm,
                         AEDesc *keyData, Boolean disposeInputs, AEDesc *objSpecifier);
