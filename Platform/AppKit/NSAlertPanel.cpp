#include "NSAlertPanel.h"

#include <QMessageBox>
#include <QPushButton>

int NSRunAlertPanel(const QString &title, const QString &message, const QString &defaultButton,
                    const QString &alternateButton, const QString &otherButton, QWidget *parent)
{
    QMessageBox box(parent);
    box.setObjectName(QStringLiteral("NSAlertPanel"));
    box.setWindowTitle(title);
    box.setText(title);
    box.setInformativeText(message);
    box.setIcon(QMessageBox::Warning);
    // Wide enough that the message reads in a few lines instead of a narrow column.
    box.setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 380px; }"));
    box.setWindowModality(Qt::ApplicationModal);
    // Roles place the buttons as the Mac does: the default at the trailing edge, the
    // alternate before it, the other one apart on the leading side.
    QPushButton *other = nullptr;
    if (!otherButton.isNull()) {
        other = box.addButton(otherButton, QMessageBox::ResetRole);
        other->setObjectName(QStringLiteral("otherButton"));
    }
    QPushButton *alternate = nullptr;
    if (!alternateButton.isNull()) {
        alternate = box.addButton(alternateButton, QMessageBox::AcceptRole);
        alternate->setObjectName(QStringLiteral("alternateButton"));
    }
    QPushButton *def = box.addButton(defaultButton.isNull() ? QStringLiteral("OK") : defaultButton,
                                     QMessageBox::RejectRole);
    def->setObjectName(QStringLiteral("defaultButton"));
    box.setDefaultButton(def);
    box.setEscapeButton(def);
    box.exec();
    const QAbstractButton *clicked = box.clickedButton();
    if (clicked && clicked == alternate)
        return NSAlertAlternateReturn;
    if (clicked && clicked == other)
        return NSAlertOtherReturn;
    return NSAlertDefaultReturn;
}
