// The few calls on folders and files that differ between systems. The
// output folder's logic over them is written once, in output_folder.cpp;
// system_folder_posix.cpp and system_folder_windows.cpp each implement
// this for their system. Every call that fails throws a ToolError that
// names `shown` (a path as the user sees it), except for the outcomes the
// caller decides on: a name that is taken, a folder that is missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tool_error.h"

namespace files::system {

// An open folder: its descriptor on POSIX systems, its full path on Windows.
struct Folder;

// An open file: a descriptor or a HANDLE.
using File = intptr_t;
constexpr File kNoFile = -1;

// The output folder itself, and the folders above it, made when missing.
std::shared_ptr<Folder> OpenRoot(const std::string& path);

// The folder `name` inside `parent`, made when missing and `create` is set;
// nullptr when missing otherwise. A link or anything but a folder there is
// refused, never followed.
std::shared_ptr<Folder> OpenChild(const Folder& parent, const std::string& name, const std::string& shown,
                                  bool create);

enum class Standing { Nothing, File, Link, Other };
Standing WhatStands(const Folder& folder, const std::string& name);

// Creates `name` in `folder`: with `exclusive` only when the name is free
// (kNoFile when it is taken), else truncating a file that stands there.
File CreateIn(const Folder& folder, const std::string& name, bool exclusive, const std::string& shown);
void WriteAll(File file, const uint8_t* data, size_t size, const std::string& shown);
void Sync(File file, const std::string& shown);
void Close(File file, const std::string& shown);
void CloseQuietly(File file);
void Remove(const Folder& folder, const std::string& name);

// Renames within the folder. Without `replace` nothing that stands at `to`
// is touched: false then.
bool Rename(const Folder& folder, const std::string& from, const std::string& to, bool replace,
            const std::string& shown);

// A temporary an interrupt must remove, known before it is created: a
// signal that arrives during the create is handled as the call returns.
// -1 when more are pending than are tracked (still never under a real name).
int RegisterTemporary(const Folder& folder, const std::string& name);
void UnregisterTemporary(int slot);
void InstallInterruptCleanup();

// A prefix for temporaries that no other process writing here shares.
std::string TemporaryPrefix();

}  // namespace files::system
