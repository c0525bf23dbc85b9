#include "NSAlertPanel_p.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {
// A button shows its label as it is: "&" would otherwise mark a keyboard shortcut.
QString literalLabel(const QString &text) { return QString(text).replace(QLatin1Char('&'), QStringLiteral("&&")); }
}

int NSRunAlertPanel(const QString &title, const QString &message, const QString &defaultButton,
                    const QString &alternateButton, const QString &otherButton, QWidget *parent)
{
    QMessageBox box(parent);
    box.setObjectName(QStringLiteral("NSAlertPanel"));
    box.setWindowTitle(title);
    box.setTextFormat(Qt::PlainText);
    box.setText(title);
    box.setInformativeText(message);
    // The message is plain text too, never markup.
    if (auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    box.setIcon(QMessageBox::Warning);
    // Wide enough that the message reads in a few lines instead of a narrow column.
    box.setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 380px; }"));
    box.setWindowModality(Qt::ApplicationModal);
    // Roles place the buttons as the Mac does: the default at the trailing edge, the
    // alternate before it, the other one apart on the leading side.
    QPushButton *other = nullptr;
    if (!otherButton.isNull()) {
        other = box.addButton(literalLabel(otherButton), QMessageBox::ResetRole);
        other->setObjectName(QStringLiteral("otherButton"));
    }
    QPushButton *alternate = nullptr;
    if (!alternateButton.isNull()) {
        alternate = box.addButton(literalLabel(alternateButton), QMessageBox::AcceptRole);
        alternate->setObjectName(QStringLiteral("alternateButton"));
    }
    QPushButton *def = box.addButton(defaultButton.isNull() ? QStringLiteral("OK") : literalLabel(defaultButton),
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
