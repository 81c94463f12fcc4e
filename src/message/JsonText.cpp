#include "platform/Win.h"
