// The plug-ins take file paths as single-byte (ANSI) text. The tools hold
// paths in UTF-8; this gives the form a plug-in can open.
#pragma once

#include <string>

namespace host {

// Natively the path unchanged. On Windows the path in the system code page,
// or its short form when the long one holds characters that code page
// lacks or is too long for the plug-in's file calls; ToolError when
// neither works.
std::string PathForPlugin(const std::string& utf8Path);

}  // namespace host
