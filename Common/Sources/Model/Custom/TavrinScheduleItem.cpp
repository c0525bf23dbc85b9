#include "TavrinScheduleItem.h"
