// The browser viewer's host: what zorv's info, list, convert and extract do
// with host/, as calls for the worker. Thin on purpose: every decision (the
// plug-ins' answers, kinds, names, output paths, pixels, PNG) is host/'s or
// the plug-ins', as in cli/.
//
// Each call answers 0 (done) or 1 (failed: zv_text() holds the message) and
// leaves its results in three buffers the worker copies out at once:
// zv_text() (JSON or a message), zv_numbers() (32-bit values) and
// zv_bytes() (pixels, PNG, names).
#include <emscripten/emscripten.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "archive_contents.h"
#include "content_hash.h"
#include "dib_pixels.h"
#include "file_facts.h"
#include "input_file.h"
#include "manifest.h"
#include "name_glob.h"
#include "names.h"
#include "picture_output.h"
#include "plugin_calls.h"
#include "png_file.h"
#include "zorvan_headers.h"

namespace {

std::optional<writer::Manifest> g_manifest;  // of the ZIP being made
std::string g_text;
std::vector<uint32_t> g_numbers;
std::vector<uint8_t> g_bytes;

// The name of the tool's own file beside extracted entries: no entry takes it.
constexpr const char* kManifestFileName = writer::kManifestFileName;

host::PicturePlugin& Pictures() {
    static host::PicturePlugin* plugin = new host::PicturePlugin;
    return *plugin;
}

host::ArchivePlugin& Archives() {
    static host::ArchivePlugin* plugin = new host::ArchivePlugin;
    return *plugin;
}

std::string Dump(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Runs one call: its results, or its failure's message.
template <class Fn>
int Answer(Fn fn) {
    g_text.clear();
    g_numbers.clear();
    g_bytes.clear();
    try {
        fn();
        return 0;
    } catch (const std::bad_alloc&) {
        g_text = "out of memory";
    } catch (const std::exception& error) {
        g_text = error.what();
    }
    g_numbers.clear();
    g_bytes.clear();
    return 1;
}

enum : uint32_t { kNone = 0xFFFFFFFFu };

// Kinds as the worker numbers them (its KINDS), whatever the enum's order.
uint32_t KindCode(host::EntryKind kind) {
    return kind == host::EntryKind::Audio ? 0 : kind == host::EntryKind::Picture ? 1 : 2;
}

host::EntryKind KindFromCode(uint8_t code) {
    return code == 0 ? host::EntryKind::Audio : code == 1 ? host::EntryKind::Picture : host::EntryKind::File;
}

// The worker's table of `count` entries: six columns of numbers, one after
// the other, so that the worker takes each as it is (index, position,
// stored, delivered, kind (0 audio, 1 picture, 2 file), the entry whose
// position it shares (kNone: none)), entry `index` in row `index`; and each
// entry's name, output path and PNG path, each ended by 0.
constexpr size_t kColumns = 6;

void StartEntries(size_t count) { g_numbers.assign(kColumns * count, 0); }

void AddEntry(uint32_t index, uint32_t position, uint32_t stored, uint32_t delivered, host::EntryKind kind,
              uint32_t sharesWith, const std::string& name, const std::string& output, const std::string& png) {
    const size_t count = g_numbers.size() / kColumns;
    const uint32_t values[kColumns] = {index, position, stored, delivered, KindCode(kind), sharesWith};
    for (size_t column = 0; column < kColumns; ++column) g_numbers[column * count + index] = values[column];
    for (const std::string* text : {&name, &output, &png}) {
        g_bytes.insert(g_bytes.end(), text->begin(), text->end());
        g_bytes.push_back(0);
    }
}

void OpenArchive(const std::string& path) {
    host::ArchiveContents contents = host::ReadArchiveContents(Archives(), path);
    // The paths zorv extract writes are planned when first asked for
    // (zv_plan): planning 65,535 names costs a fifth of the listing, and
    // the page draws its first rows without them.
    g_text = Dump(host::ArchiveFacts(contents));
    StartEntries(contents.entries.size());
    for (size_t i = 0; i < contents.entries.size(); ++i) {
        const host::ArchiveEntry& e = contents.entries[i];
        AddEntry(e.index, e.position, e.storedSize, e.deliveredSize, e.kind, e.sharesPositionWith.value_or(kNone),
                 e.name, "", "");
    }
}

// A packed picture on its own is one entry: the file as it is, and the PNG
// zorv convert writes beside it.
void OpenPicture(const std::string& path, const std::string& name, const host::PackedPictureHeader& header) {
    host::PictureParts parts = Pictures().GetPicture(path);
    g_text = Dump(host::PictureFacts(header, parts.info.Bytes()));
    const uint64_t size = files::InputFile(path).Size();
    const uint32_t size32 = static_cast<uint32_t>(std::min<uint64_t>(size, 0xFFFFFFFFu));
    StartEntries(1);
    AddEntry(0, 0, size32, size32, host::EntryKind::Picture, kNone, name, name,
             host::ReplaceExtension(name, ".png"));
}

// One pixel's colour, whatever the picture's kind.
inline host::Rgb ColourAt(const host::Pixels& pixels, size_t i) {
    if (pixels.indexed) return pixels.palette[pixels.rows[i]];
    const uint8_t* p = &pixels.rows[i * 3];
    return {p[0], p[1], p[2]};
}

// A picture as the worker shows it: RGBA, top row first.
void ToRgba(const host::Pixels& pixels, std::vector<uint8_t>& rgba) {
    const size_t count = size_t{pixels.width} * pixels.height;
    rgba.resize(count * 4);
    uint8_t* out = rgba.data();
    for (size_t i = 0; i < count; ++i, out += 4) {
        const host::Rgb c = ColourAt(pixels, i);
        out[0] = c.r, out[1] = c.g, out[2] = c.b, out[3] = 255;
    }
}

// The picture made to fit `size` x `size` as RGBA, each small pixel the
// average of the pixels it covers (never enlarged); read from the pixels
// themselves, so a large picture is never widened to RGBA whole.
std::vector<uint8_t> Shrink(const host::Pixels& pixels, uint32_t size, uint32_t* outWidth, uint32_t* outHeight) {
    const uint32_t width = pixels.width, height = pixels.height;
    const double scale = std::min(1.0, std::min(double(size) / width, double(size) / height));
    const uint32_t w = std::max<uint32_t>(1, uint32_t(width * scale + 0.5));
    const uint32_t h = std::max<uint32_t>(1, uint32_t(height * scale + 0.5));
    std::vector<uint8_t> small(size_t{w} * h * 4);
    for (uint32_t y = 0; y < h; ++y) {
        const uint32_t y0 = uint32_t(uint64_t{y} * height / h), y1 = std::max(y0 + 1, uint32_t(uint64_t{y + 1} * height / h));
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t x0 = uint32_t(uint64_t{x} * width / w), x1 = std::max(x0 + 1, uint32_t(uint64_t{x + 1} * width / w));
            uint64_t sum[3] = {0, 0, 0};
            for (uint32_t sy = y0; sy < y1; ++sy)
                for (uint32_t sx = x0; sx < x1; ++sx) {
                    const host::Rgb c = ColourAt(pixels, size_t{sy} * width + sx);
                    sum[0] += c.r, sum[1] += c.g, sum[2] += c.b;
                }
            const uint64_t n = uint64_t{y1 - y0} * (x1 - x0);
            uint8_t* out = &small[(size_t{y} * w + x) * 4];
            for (int c = 0; c < 3; ++c) out[c] = uint8_t((sum[c] + n / 2) / n);
            out[3] = 255;
        }
    }
    *outWidth = w;
    *outHeight = h;
    return small;
}

enum PictureMode : uint32_t { kRgba = 0, kThumbnail = 1, kPng = 2 };

void DeliverPicture(host::PictureParts& parts, const host::PackedPictureHeader& header, PictureMode mode,
                    uint32_t size) {
    nlohmann::json facts = host::PictureFacts(header, parts.info.Bytes());
    host::ByteSpan info = parts.info.Bytes();
    host::ByteSpan bits = parts.bits.Bytes();
    host::Rendering rendering = host::RenderDib(info.data, info.size, bits.data, bits.size);
    uint32_t width = rendering.pixels.width, height = rendering.pixels.height;
    if (mode == kPng) {
        g_bytes = host::EncodePng(std::move(rendering.pixels));  // its rows are not needed after
    } else if (mode == kThumbnail) {
        g_bytes = Shrink(rendering.pixels, std::max<uint32_t>(size, 1), &width, &height);
    } else {
        ToRgba(rendering.pixels, g_bytes);
    }
    facts.erase("type");
    g_text = Dump({{"width", width}, {"height", height}, {"complete", rendering.complete},
                   {"warnings", rendering.warnings}, {"facts", facts}});
}

// Text for a preview: '%' escapes of the decoder undone for the layout
// controls (tab, line feed, carriage return) and for '%' itself; every
// other byte that is no character is shown as U+FFFD.
std::string PreviewText(const std::string& decoded) {
    std::string text;
    text.reserve(decoded.size());
    for (size_t i = 0; i < decoded.size(); ++i) {
        if (decoded[i] != '%' || i + 2 >= decoded.size()) {
            text += decoded[i];
            continue;
        }
        const std::string code = decoded.substr(i + 1, 2);
        i += 2;
        if (code == "25") text += '%';
        else if (code == "09") text += '\t';
        else if (code == "0A") text += '\n';
        else if (code == "0D") text += '\r';
        else text += "\xEF\xBF\xBD";
    }
    return text;
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE const char* zv_text() { return g_text.c_str(); }
EMSCRIPTEN_KEEPALIVE uint32_t zv_text_size() { return static_cast<uint32_t>(g_text.size()); }
EMSCRIPTEN_KEEPALIVE const uint32_t* zv_numbers() { return g_numbers.data(); }
EMSCRIPTEN_KEEPALIVE uint32_t zv_numbers_size() { return static_cast<uint32_t>(g_numbers.size()); }
EMSCRIPTEN_KEEPALIVE const uint8_t* zv_bytes() { return g_bytes.data(); }
EMSCRIPTEN_KEEPALIVE uint32_t zv_bytes_size() { return static_cast<uint32_t>(g_bytes.size()); }

// zorv info and zorv list of one file: the info as JSON text, the entries
// as described at AddEntry. `name` is the file's own name, for a lone
// picture's entry.
EMSCRIPTEN_KEEPALIVE int zv_open(const char* path, const char* name) {
    return Answer([&] {
        // The viewer's way, as zorv info: the picture plug-in probes the
        // file's first bytes in memory, the archive plug-in probes by path.
        const std::vector<uint8_t> head = host::PicturePlugin::ReadHead(path);
        std::optional<host::PackedPictureHeader> packed = host::ReadPackedPictureHeader(head.data(), head.size());
        if (packed && Pictures().IsSupported(path, head.data()))
            OpenPicture(path, name, *packed);
        else if (Archives().IsSupported(path))
            OpenArchive(path);
        else
            throw files::ToolError("not a ZORVAN picture or archive");
    });
}

// A picture delivered by the plug-in, drawn by host/: the file itself
// (position < 0) or the archive entry at `position`, `delivered` bytes long.
// mode 0: RGBA; 1: RGBA fitting `size` x `size`; 2: the PNG zorv writes.
// The text holds width, height, complete, warnings and the facts.
EMSCRIPTEN_KEEPALIVE int zv_picture(const char* path, int32_t position, uint32_t delivered, uint32_t mode,
                                    uint32_t size) {
    return Answer([&] {
        if (position < 0) {
            const std::vector<uint8_t> head = host::PicturePlugin::ReadHead(path);
            std::optional<host::PackedPictureHeader> header = host::ReadPackedPictureHeader(head.data(), head.size());
            if (!header) throw files::ToolError("not a ZORVAN packed picture");
            host::PictureParts parts = Pictures().GetPicture(path);
            DeliverPicture(parts, *header, static_cast<PictureMode>(mode), size);
            return;
        }
        host::HostBlock block = Archives().GetFile(path, static_cast<uint32_t>(position), nullptr);
        host::ByteSpan bytes = block.Bytes();
        if (bytes.size < delivered)
            throw files::ToolError("the plug-in delivered " + std::to_string(bytes.size) + " bytes, not " +
                                   std::to_string(delivered));
        std::optional<host::PackedPictureHeader> header = host::ReadPackedPictureHeader(bytes.data, delivered);
        if (!header) throw files::ToolError("not a ZORVAN packed picture");
        host::PictureParts parts = Pictures().GetPicture(bytes.data, delivered);
        block = host::HostBlock();  // the packed bytes are done with
        DeliverPicture(parts, *header, static_cast<PictureMode>(mode), size);
    });
}

// Bytes decoded as code page 932 text by host/'s decoder; fails (1, no
// message) for bytes that are not text: a NUL, or many bytes that decode
// to nothing or to controls other than tab, line feed, form feed and
// carriage return.
EMSCRIPTEN_KEEPALIVE int zv_text_preview(const uint8_t* bytes, uint32_t size) {
    g_text.clear();
    g_numbers.clear();
    g_bytes.clear();
    size_t odd = 0;
    for (uint32_t i = 0; i < size; ++i) {
        const uint8_t b = bytes[i];
        if (b == 0) return 1;
        if ((b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f' && b != 0x1A) || b == 0x7F) ++odd;
    }
    std::string decoded = host::NameToUtf8(std::string_view(reinterpret_cast<const char*>(bytes), size));
    g_text = PreviewText(decoded);
    size_t replaced = 0;
    for (size_t at = g_text.find("\xEF\xBF\xBD"); at != std::string::npos; at = g_text.find("\xEF\xBF\xBD", at + 3))
        ++replaced;
    // Form feeds and end-of-file marks come out replaced; they count once.
    if ((replaced + odd) * 20 > size + 1) {
        g_text.clear();
        return 1;
    }
    return 0;
}

// The output paths of zorv extract (with --convert when `convert`) for
// entries given by their decoded names (each ended by 0) and kinds (0
// audio, 1 picture, 2 file), in the bytes: each entry's file path, and with
// --convert its PNG path too (empty but for pictures), each ended by 0.
EMSCRIPTEN_KEEPALIVE int zv_plan(const char* names, const uint8_t* kinds, uint32_t count, uint32_t convert) {
    return Answer([&] {
        std::vector<host::ArchiveEntry> entries(count);
        const char* name = names;
        for (uint32_t i = 0; i < count; ++i) {
            entries[i].name = name;
            entries[i].kind = KindFromCode(kinds[i]);
            name += entries[i].name.size() + 1;
        }
        for (const host::OutputPaths& paths : host::PlanOutputPaths(entries, {true, convert != 0, kManifestFileName})) {
            g_bytes.insert(g_bytes.end(), paths.file.begin(), paths.file.end());
            g_bytes.push_back(0);
            if (!convert) continue;
            g_bytes.insert(g_bytes.end(), paths.png.begin(), paths.png.end());
            g_bytes.push_back(0);
        }
    });
}

// The manifest zorv extract writes beside an archive's files, for a ZIP of
// them: begun from the archive itself (fails, with the reason, when it
// cannot be described: zorv then writes none either), told of each file
// the ZIP takes, and ended as its JSON text.
EMSCRIPTEN_KEEPALIVE int zv_manifest_begin(const char* path, const char* name, uint32_t entryCount) {
    return Answer([&] {
        g_manifest.reset();
        writer::Manifest manifest = writer::DescribeArchive(std::filesystem::u8path(path));
        manifest.archiveName = name;  // the file's own name, not the name it is mounted under
        if (manifest.entries.size() != entryCount)
            throw files::ToolError("the plug-in lists another number of entries");
        for (writer::ManifestEntry& entry : manifest.entries)
            entry.name = host::NameToUtf8(writer::NameFromField(entry.nameField));
        g_manifest = std::move(manifest);
    });
}

// As zorv extract records a written file: its path and digest when it is
// what a rebuild can take back (the stored bytes, or coded audio's WAVE),
// and a packed picture's depth.
EMSCRIPTEN_KEEPALIVE int zv_manifest_file(uint32_t index, const char* relative, const uint8_t* bytes, uint32_t size) {
    return Answer([&] {
        if (!g_manifest || index >= g_manifest->entries.size()) return;
        writer::ManifestEntry& entry = g_manifest->entries[index];
        const bool wave = entry.kind == writer::EntryKind::Audio;
        const uint64_t expected = wave ? writer::WaveSizeOf(entry.audioHeader) : entry.storedSize;
        if (size == expected) {
            entry.file = writer::WrittenFile{relative, size, writer::ContentHashHex(bytes, size)};
            entry.form = wave ? writer::WrittenForm::Wave : writer::WrittenForm::Stored;
        }
        if (entry.kind != writer::EntryKind::Picture) return;
        // Only a hint: an entry that merely looks like a picture has none.
        try {
            entry.pictureBitCount = Pictures().GetPictureInfo(bytes, size).colorDepth;
        } catch (const files::ToolError& error) {
            if (error.Kind() != files::ErrorKind::PluginRefused) throw;
        }
    });
}

EMSCRIPTEN_KEEPALIVE int zv_manifest_end() {
    return Answer([&] {
        if (!g_manifest) throw files::ToolError("no manifest was begun");
        g_text = writer::ManifestToJson(*g_manifest);
        g_manifest.reset();
    });
}

// The indexes of the names (each ended by 0, `count` of them) that the
// glob matches, as zorv extract selects entries.
EMSCRIPTEN_KEEPALIVE int zv_glob(const char* pattern, const char* names, uint32_t count) {
    return Answer([&] {
        const char* name = names;
        for (uint32_t i = 0; i < count; ++i) {
            const size_t length = std::strlen(name);
            if (host::GlobMatch(pattern, std::string_view(name, length))) g_numbers.push_back(i);
            name += length + 1;
        }
    });
}

}  // extern "C"
