#include "ZVUninstallerWindow.h"
