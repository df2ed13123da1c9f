// The archive plug-in's exports, as the host calls them.
#pragma once

#include <cstdint>

#include "plugin_frame.h"

PLUGIN_EXPORT int32_t WINAPI GetPluginInfo(int32_t infoIndex, char* buffer, int32_t bufferLength);
// The probe word is never read: archives are always probed by path.
PLUGIN_EXPORT int32_t WINAPI IsSupported(const char* path, uintptr_t probeWord);
PLUGIN_EXPORT int32_t WINAPI GetArchiveInfo(const char* source, int32_t length, uint32_t flags,
                                            HGLOBAL* listHandleOut);
PLUGIN_EXPORT int32_t WINAPI GetFileInfo(const char* source, int32_t length, const char* entryName,
                                         uint32_t flags, ArchiveEntryRecord* entryOut);
PLUGIN_EXPORT int32_t WINAPI GetFile(const char* source, uint32_t position, HGLOBAL* destination,
                                     uint32_t flags, ProgressCallback progress, intptr_t userData);
