// Entry names as users see them. An archive stores each name as bytes in the
// Japanese Windows code page (932); everything the tools show or write uses
// UTF-8. One embedded table does the work, so that every system decodes a
// name alike, whatever its own locale or iconv says.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace host {

// Decodes code page 932 bytes to UTF-8, every code as glibc's iconv "CP932"
// decodes it. Whatever cannot be shown as itself becomes the visible escape
// "%XX" (two upper-case hex digits), so no byte is ever lost:
//   - a byte that starts no character, and a lead byte whose pair has no
//     character (the byte after it is then decoded on its own);
//   - control characters (0x00-0x1F, 0x7F), which would break a listing's
//     lines or play tricks on a terminal;
//   - a '%' of the name itself: "%25".
// Utf8ToName gives the very bytes back, except for the few pairs whose
// character the code page also writes with another pair (duplicates among
// the extensions, e.g. 0xED40 and 0xFA5C): those come back as the pair the
// code page prefers. Where the exact bytes matter (a rebuilt archive), the
// raw name travels beside the text.
// A backslash (0x5C on its own) stays a backslash: the caller splits the
// decoded text into folders, never the raw bytes, since 0x5C is also the
// second byte of many pairs.
std::string NameToUtf8(std::string_view raw);

// The inverse: UTF-8 to code page 932 bytes. "%XX" (either letter case)
// becomes the byte XX; a '%' without two hex digits after it stands for
// itself. A character with several codes gets the one that glibc's iconv
// chooses. nullopt when the text is not valid UTF-8 or holds a character
// that the code page cannot express.
std::optional<std::string> Utf8ToName(std::string_view utf8);

}  // namespace host
