#include "ZVUninstaller.h"
int ZVUninstaller::NSApplicationMain(QApplication &app) { return app.exec(); }
