#include "ZVUWhiteBackgroundView.h"
