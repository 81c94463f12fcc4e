// Placeholder until the publisher check lands.
#include "telemetry/PublisherSignature.h"

bool IsTrustedFile(const wchar_t*)
{
    return false;
}
