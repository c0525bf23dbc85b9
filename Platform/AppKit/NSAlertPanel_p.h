// The application framework's modal alert panel, over QMessageBox.
#pragma once

#include <QString>

class QWidget;

// The answers of NSRunAlertPanel.
enum : int {
    NSAlertDefaultReturn = 1,
    NSAlertAlternateReturn = 0,
    NSAlertOtherReturn = -1,
    NSAlertErrorReturn = -2,
};

// Shows a modal alert with TITLE and MESSAGE (shown unchanged, as plain text; a label's "&"
// is shown as an "&", never as a keyboard shortcut), the default button (also
// pressed by Return), the alternate button and, when OTHERBUTTON is not null, a third one.
// Returns which was pressed; closing the panel any other way (Escape) counts as the
// default answer, as on the Mac. The panel's object name is "NSAlertPanel"; its buttons are
// named "defaultButton", "alternateButton" and "otherButton".
int NSRunAlertPanel(const QString &title, const QString &message, const QString &defaultButton,
                    const QString &alternateButton, const QString &otherButton, QWidget *parent = nullptr);
