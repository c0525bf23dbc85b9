#include "ZVScheduleItem.h"
