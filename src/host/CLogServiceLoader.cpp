#include "host/CLogServiceLoader.h"
