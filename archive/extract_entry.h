// Delivery of one archive entry, found by its data position, as a movable
// block: stored bytes as they are, PwAudio entries as 16-bit WAVE images.
#pragma once

#include <cstdint>

#include "plugin_frame.h"

// Makes eight progress reports (step 0..7 of total 7); a nonzero answer ends
// the request with Aborted. Writes *outputSlot only on Ok. Runs under
// cacheLock, which stays held across every report.
PluginResult ExtractEntry(const char* path, uint32_t position, HGLOBAL* outputSlot,
                          ProgressCallback progress, intptr_t userData);
