// The picture plug-in's exports, as the host calls them.
#pragma once

#include <cstdint>

#include "plugin_frame.h"

PLUGIN_EXPORT int32_t WINAPI GetPluginInfo(int32_t infoIndex, char* buffer, int32_t bufferLength);

// A probeWord with bits above the low 16 is the address of the file's first
// bytes; otherwise the file is probed by its path. Pointer-wide so that the
// native build can carry an address; 32 bits on the real target.
PLUGIN_EXPORT int32_t WINAPI IsSupported(const char* path, uintptr_t probeWord);

// Both format operations return NotImplemented, touching nothing, when a
// record or handle slot is null.
PLUGIN_EXPORT int32_t WINAPI GetPictureInfo(const char* source, int32_t length, uint32_t flags,
                                            PictureInfoRecord* info);

PLUGIN_EXPORT int32_t WINAPI GetPicture(const char* source, int32_t length, uint32_t flags,
                                        HGLOBAL* infoHandleOut, HGLOBAL* bitsHandleOut,
                                        ProgressCallback progress, intptr_t userData);
