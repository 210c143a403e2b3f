#pragma once

#include <string>

// Removes "<exe>.old" (retrying while the previous process lets go of it) and "<exe>.new"
// that a self-update leaves next to the running executable.
void RemoveUpdateLeftovers(const std::wstring& exePath);
