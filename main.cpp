#include "ZVUninstaller.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    return ZVUninstaller::NSApplicationMain(app);
}
