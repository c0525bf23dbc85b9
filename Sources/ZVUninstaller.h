#pragma once
#include <QApplication>
class ZVUninstaller {
public:
    static int NSApplicationMain(QApplication &app);
};
