#include "host/CDispatcherHelper.h"
