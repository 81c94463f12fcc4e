#pragma once
// Where the module that runs this code lives: the folder of the DLL or program that this library was linked
// into, with its trailing backslash; empty when Windows cannot tell.

#include <string>

std::wstring ThisModuleFolder();
