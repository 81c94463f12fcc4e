#include "host/CConfigHelper.h"
