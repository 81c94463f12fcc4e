#pragma once
// Faults that tests switch on through "config.json" beside this library (the configuration stand-in's file;
// keys at its top level, see README). The file is read again whenever it changes, so a test can switch a
// fault between two calls.

#include "platform/Win.h"

namespace faults
{

bool NoInterface();               // "Quillon.Fault.NoInterface"
bool RefuseRequest();             // "Quillon.Fault.RefuseRequest"
bool RefuseTrackingRequest();     // "Quillon.Fault.RefuseTrackingRequest"
bool RefuseDataServiceClient();   // "Quillon.Fault.RefuseDataServiceClient"
bool FailSplitUrl();              // "Quillon.Fault.FailSplitUrl"
// "Quillon.Fault.FailSend": ERROR_SUCCESS when off, else the error every exchange ends with.
DWORD SendError();
// "Quillon.Fault.DelayMs": waits that long before every exchange (at most a minute).
void DelayExchange();

} // namespace faults
