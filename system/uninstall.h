// Removing an installation's files. The dialogs and the two stages of an uninstall started
// from Windows build on these.
#pragma once

#include <atomic>
#include <string>

#include "base/files.h"  // DeleteEntry, RemoveTree

inline constexpr const wchar_t* kNoInstallationText = L"Bu klasörde oyun dosyası yok";

// Written into the install folder before a full uninstall removes anything and removed just
// before the launcher, once everything else went: the folder is an installation being
// removed, and its lines
// (lower-case top-level names) are what the core still has to remove once "installed.json",
// which named them, is gone. A run killed half-way is finished by the next from this.
inline constexpr const wchar_t* kUninstallMarkerName = L".talvoreen-uninstall";

bool HasUninstallMarker(const std::wstring& installDir);

// Records every top-level entry the core would remove now, with those of an earlier marker.
// On failure error holds the system's text.
bool WriteUninstallMarker(const std::wstring& installDir, std::wstring& error);

// The folder holds an installation whose game files the core may remove: the client or the
// state file, the launcher's "TALVOREEN" folder, or an uninstall marker. Callers decide this
// before they create anything in the folder themselves (a log creates "TALVOREEN").
bool HoldsInstallation(const std::wstring& installDir);

// Removes the game files of an install folder: the client, its folders, the top-level
// entries of every file "installed.json" or the uninstall marker lists and the launcher's
// state files. The
// launcher, the GTA copy, its download and the screenshots stay; links are never followed.
// On failure error names the first file that could not be removed.
bool UninstallCore(const std::wstring& installDir, const std::wstring& gtaFolder, std::atomic<unsigned>& count,
                   std::wstring& error);
