#pragma once
// The credentials that sign calls to the management server ("Communications") or to its data services
// ("Services"), read from the group "Authorization" of that configuration section.

#include "host/AuthorizationRecord.h"
#include "host/IConfigUtil.h"

// True when out was filled; on false out is left as it was. "AuthorizationId" and "Secret" are required; the
// scheme is 2 only for the service "KWS" with a version that reads as 2, otherwise 1 (a version that is no
// 32-bit decimal number is traced and gives 1). requestTime may be null (the record's time is then all zero).
// Never throws.
[[nodiscard]] bool ReadAuthorization(IConfigUtil* configUtil, AuthorizationRecord& out, const wchar_t* section,
                       const SYSTEMTIME* requestTime, bool signRequest);
