#pragma once
// The credentials that sign calls to the management server ("Communications") or to its data services
// ("Services"), read from the group "Authorization" of that configuration section.

#include "host/AuthorizationRecord.h"
#include "host/IConfigUtil.h"

// True when out was filled. requestTime may be null (the record's time is then all zero). Never throws.
bool ReadAuthorization(IConfigUtil* configUtil, AuthorizationRecord& out, const wchar_t* section,
                       const SYSTEMTIME* requestTime, bool signRequest);
