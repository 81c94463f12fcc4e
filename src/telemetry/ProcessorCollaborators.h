#pragma once
// What every event processor is made over. A null configUtil takes the module's utility; without one,
// std::logic_error("configUtil is nullptr"). A null dispatcherHelper throws std::logic_error("dispatcherHelper
// is nullptr"). Null components take the installed ones. Each failure is traced with the event's name.

#include "host/IComponentAccess.h"
#include "host/IConfigUtil.h"
#include "host/IDispatcherHelper.h"

#include <string>
#include <utility>
#include <vector>

class CMessageObject;

[[nodiscard]] IConfigUtil* RequireConfigUtil(IConfigUtil* configUtil, const wchar_t* event);
[[nodiscard]] IDispatcherHelper* RequireDispatcherHelper(IDispatcherHelper* dispatcherHelper, const wchar_t* event);
[[nodiscard]] IComponentAccess& ComponentsOrInstalled(IComponentAccess* components);

// What events carry: a nested object that is not an array (null when there is none); the string "Name" and
// "Value" members of the objects in the array `name`, in order, skipping other elements, those without both
// strings, and those with an empty name unless emptyNames.
[[nodiscard]] const CMessageObject* ChildObject(const CMessageObject& parent, const wchar_t* name);
[[nodiscard]] std::vector<std::pair<std::wstring, std::wstring>> ReadNameValuePairs(const CMessageObject& parent,
                                                                                  const wchar_t* name,
                                                                                  bool emptyNames);
