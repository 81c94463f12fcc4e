#pragma once
// The Ostrel stand-in's listener export, through which the development host hears every event raised.
//
// The listener runs on the sender's thread after the event was written, outside the stand-in's locks, so it
// may send again. OstrelSetListener replaces the listener (null removes it) and returns only when no call of
// the previous one is running; it must not be called from inside a listener.

using OstrelListenerFn = void (*)(const wchar_t* text, bool option, void* context);
using OstrelSetListenerFn = void (*)(OstrelListenerFn listener, void* context);

constexpr char kOstrelSetListenerExport[] = "OstrelSetListener";
