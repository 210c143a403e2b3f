// The crash campaign's kill points of a sync: named in the environment variable
// TALVOREEN_SYNC_KILL_AT, the process ends there at once, as abruptly as a kill (no handler, no
// clean-up). Nothing in a release.
#pragma once

void EndAtSyncKillPoint(const wchar_t* point);
