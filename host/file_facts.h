// What `zorv info` says of a file, as JSON members, for every host that
// says it (zorv and the browser page): one wording of the facts.
#pragma once

#include <nlohmann/json.hpp>

#include "archive_contents.h"
#include "plugin_calls.h"
#include "zorvan_headers.h"

namespace host {

// A packed picture: its header as the host read it, the rest from the info
// header the picture plug-in delivered. ToolError when that is too short.
nlohmann::json PictureFacts(const PackedPictureHeader& header, ByteSpan info);

// An archive: signature, entry counts by kind, stored and delivered totals.
nlohmann::json ArchiveFacts(const ArchiveContents& contents);

}  // namespace host
