#pragma once
// The library's exports: the module-wide plug-in list, counted. Every list handed out is given back with
// one FreePluginList; the last one destroys the plug-in. Null only when no list can be allocated. Without
// the configuration component the plug-in cannot be built ("m_configUtil is nullptr", traced) and the list
// handed out is empty, until the last FreePluginList lets the next GetPluginList try again.

#include "host/IPlugin.h"

extern "C" PluginList* GetPluginList();
extern "C" void FreePluginList(PluginList* list);
