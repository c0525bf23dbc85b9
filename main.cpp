#include "MainInterface.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Uninstaller"));
    return NSApplicationMain();
}
