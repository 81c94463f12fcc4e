#include "host/InstallLocations.h"
