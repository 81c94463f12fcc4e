#pragma once
// What every event processor is made over. A null configUtil takes the module's utility; without one,
// std::logic_error("configUtil is nullptr"). A null dispatcherHelper throws std::logic_error("dispatcherHelper
// is nullptr"). Null components take the installed ones. Each failure is traced with the event's name.

#include "host/IComponentAccess.h"
#include "host/IConfigUtil.h"
#include "host/IDispatcherHelper.h"

[[nodiscard]] IConfigUtil* RequireConfigUtil(IConfigUtil* configUtil, const wchar_t* event);
[[nodiscard]] IDispatcherHelper* RequireDispatcherHelper(IDispatcherHelper* dispatcherHelper, const wchar_t* event);
[[nodiscard]] IComponentAccess& ComponentsOrInstalled(IComponentAccess* components);
