#include "wave_file.h"

#include <cmath>
#include <cstring>
#include <optional>

#include "byte_order.h"

namespace writer {

namespace {

constexpr uint16_t kTagPcm = 0x0001;
constexpr uint16_t kTagFloat = 0x0003;
constexpr uint16_t kTagExtensible = 0xFFFE;

// An extensible format's sub-format GUID is a plain format tag in its first
// two bytes followed by these fourteen.
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool IsTag(const uint8_t* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

std::string Hex(uint32_t value, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 15];
    return text;
}

// A chunk id for messages, with unprintable bytes escaped.
std::string ChunkName(const uint8_t* id) {
    std::string name = "\"";
    for (int i = 0; i < 4; ++i) {
        if (id[i] >= 0x20 && id[i] < 0x7F)
            name += static_cast<char>(id[i]);
        else
            name += "\\x" + Hex(id[i], 2).substr(2);
    }
    return name + "\"";
}

[[noreturn]] void Refuse(const std::string& why) { throw files::ToolError(why); }

// Where the two chunks we need lie. The data chunk keeps its declared length,
// which may exceed what the file holds; the caller decides about that.
struct Chunks {
    const uint8_t* format = nullptr;
    size_t formatSize = 0;
    const uint8_t* data = nullptr;
    uint32_t declaredDataSize = 0;
    size_t presentDataSize = 0;
};

// Our archive plug-in's WAVE images copy the stored format chunk length but
// always lay an 18-byte format body at 20..37 and the data chunk at 38, so
// with a stored length other than 18 the chunk lengths do not add up. Such
// an image is told by everything the plug-in itself writes: "data" at 38, a
// RIFF length of exactly 38 plus the data length, 16 bits, and the block
// align of 16-bit samples. An ordinary file matches all of that only when
// its format length is 18, and then the plain walk reads it alike.
std::optional<Chunks> ArchiveImageLayout(const uint8_t* file, size_t size) {
    if (size < 46 || !IsTag(file + 12, "fmt ") || !IsTag(file + 38, "data")) return std::nullopt;
    const uint32_t dataSize = ReadLe32(file + 42);
    const bool pluginWritten = uint64_t{ReadLe32(file + 4)} == 38 + uint64_t{dataSize} && ReadLe16(file + 34) == 16 &&
                               ReadLe16(file + 32) == static_cast<uint16_t>(ReadLe16(file + 22) * 2u);
    if (!pluginWritten || ReadLe32(file + 16) == 18) return std::nullopt;
    const size_t present = size - 46;
    return Chunks{file + 20, 18, file + 46, dataSize, dataSize < present ? dataSize : present};
}

std::string TruncatedMessage(const Chunks& chunks) {
    return "truncated WAVE file: the data chunk declares " + std::to_string(chunks.declaredDataSize) +
           " bytes, but only " + std::to_string(chunks.presentDataSize) + " are present";
}

// Walks the chunks after the 12-byte RIFF header until both the format and
// the data chunk are found. Unknown chunks are skipped with their pad byte;
// the RIFF length is not trusted (writers often get it wrong), the file's
// own end is.
Chunks WalkChunks(const uint8_t* file, size_t size) {
    Chunks found;
    std::string overrun;  // why the walk stopped early, for the message
    size_t offset = 12;
    while (offset < size && size - offset >= 8 && (!found.format || !found.data)) {
        const uint8_t* id = file + offset;
        const uint32_t length = ReadLe32(id + 4);
        const size_t remaining = size - offset - 8;
        if (IsTag(id, "fmt ") && !found.format) {
            if (length > remaining)
                Refuse("damaged WAVE file: the format chunk at offset " + std::to_string(offset) + " claims " +
                       std::to_string(length) + " bytes, but only " + std::to_string(remaining) + " follow");
            found.format = id + 8;
            found.formatSize = length;
        } else if (IsTag(id, "data") && !found.data) {
            found.data = id + 8;
            found.declaredDataSize = length;
            found.presentDataSize = length < remaining ? length : remaining;
        }
        if (length >= remaining) {  // nothing can follow a chunk that ends the file
            if (length > remaining)
                overrun = " (the " + ChunkName(id) + " chunk at offset " + std::to_string(offset) + " claims " +
                          std::to_string(length) + " bytes, but only " + std::to_string(remaining) + " follow)";
            break;
        }
        offset += 8 + size_t{length} + (length & 1);  // an odd chunk is followed by a pad byte
    }
    if (!found.format && found.data && found.presentDataSize < found.declaredDataSize)
        Refuse(TruncatedMessage(found));
    if (!found.format) Refuse("damaged WAVE file: no format (\"fmt \") chunk" + overrun);
    if (!found.data) Refuse("damaged WAVE file: no \"data\" chunk" + overrun);
    return found;
}

enum class SampleKind { Unsigned8, Signed, Float };

struct SampleFormat {
    SampleKind kind = SampleKind::Signed;
    unsigned bytes = 2;  // per sample, per channel
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
};

// The format tag an extensible format stands for, or 0 when its
// sub-format is not one of the plain tags.
uint16_t SubFormatTag(const uint8_t* body, size_t size) {
    if (size < 40 || ReadLe16(body + 16) < 22)
        Refuse("damaged WAVE file: an extensible format chunk of " + std::to_string(size) +
               " bytes is too short for its sub-format");
    const uint8_t* guid = body + 24;
    if (std::memcmp(guid + 2, kSubFormatTail, sizeof kSubFormatTail) != 0) return 0;
    return ReadLe16(guid);
}

SampleFormat ParseFormat(const uint8_t* body, size_t size) {
    if (size < 16)
        Refuse("damaged WAVE file: the format chunk has " + std::to_string(size) + " bytes, fewer than 16");
    const uint16_t declaredTag = ReadLe16(body);
    const uint16_t tag = declaredTag == kTagExtensible ? SubFormatTag(body, size) : declaredTag;
    SampleFormat format;
    format.channels = ReadLe16(body + 2);
    format.sampleRate = ReadLe32(body + 4);
    const uint16_t blockAlign = ReadLe16(body + 12);
    const uint16_t bits = ReadLe16(body + 14);

    if (tag != kTagPcm && tag != kTagFloat)
        Refuse(declaredTag == kTagExtensible
                   ? std::string("unsupported WAVE format: an extensible format whose sub-format is not PCM or float")
                   : "unsupported WAVE format: format tag " + Hex(tag, 4) +
                         " is compressed or unknown audio; only PCM and 32-bit float are accepted");
    if (format.channels == 0) Refuse("damaged WAVE file: the format says 0 channels");
    if (format.channels > 2)
        Refuse("unsupported WAVE format: " + std::to_string(format.channels) +
               " channels; only mono and stereo are accepted");
    if (tag == kTagFloat) {
        if (bits != 32)
            Refuse("unsupported WAVE format: " + std::to_string(bits) + "-bit float; only 32-bit float is accepted");
        format.kind = SampleKind::Float;
    } else {
        if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
            Refuse("unsupported WAVE format: " + std::to_string(bits) +
                   "-bit PCM; only 8-, 16-, 24- and 32-bit PCM are accepted");
        format.kind = bits == 8 ? SampleKind::Unsigned8 : SampleKind::Signed;
    }
    format.bytes = bits / 8u;
    const unsigned expectedAlign = format.channels * format.bytes;
    if (blockAlign != expectedAlign)
        Refuse("damaged WAVE file: block align " + std::to_string(blockAlign) + " does not match " +
               std::to_string(format.channels) + " channel(s) of " + std::to_string(bits) + " bits (" +
               std::to_string(expectedAlign) + ")");
    return format;
}

int16_t Clip(int64_t value, size_t& clipped) {
    if (value > 32767) {
        ++clipped;
        return 32767;
    }
    if (value < -32768) {
        ++clipped;
        return -32768;
    }
    return static_cast<int16_t>(value);
}

// value / 2^shift, rounded to nearest, halves away from zero (so a signal and
// its negation convert alike).
int64_t RoundShift(int64_t value, unsigned shift) {
    const int64_t half = int64_t{1} << (shift - 1);
    return value >= 0 ? (value + half) >> shift : -((-value + half) >> shift);
}

int16_t FloatTo16(const uint8_t* p, size_t& clipped) {
    const uint32_t bits = ReadLe32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    if (std::isnan(value)) return 0;
    // Full scale is 1.0 = 32768, so 16-bit samples stored as float come back
    // exactly. Whatever would round beyond the 16-bit range is clipped.
    const double scaled = double{value} * 32768.0;
    if (scaled >= 32767.5) return Clip(32768, clipped);
    if (scaled <= -32768.5) return Clip(-32769, clipped);
    return static_cast<int16_t>(std::lround(scaled));
}

std::vector<int16_t> ConvertSamples(const SampleFormat& format, const uint8_t* data, size_t count,
                                    std::vector<std::string>& notes) {
    std::vector<int16_t> samples(count);
    size_t clipped = 0;
    const uint8_t* p = data;
    for (size_t i = 0; i < count; ++i, p += format.bytes) {
        switch (format.kind) {
        case SampleKind::Unsigned8:
            samples[i] = static_cast<int16_t>((p[0] - 128) * 256);
            break;
        case SampleKind::Float:
            samples[i] = FloatTo16(p, clipped);
            break;
        case SampleKind::Signed:
            if (format.bytes == 2) {
                samples[i] = static_cast<int16_t>(ReadLe16(p));
            } else {
                // Sign-extend from the top byte, then drop the extra low bits.
                int64_t value = static_cast<int8_t>(p[format.bytes - 1]);
                for (unsigned b = format.bytes - 1; b-- > 0;) value = value * 256 + p[b];
                samples[i] = Clip(RoundShift(value, 8 * (format.bytes - 2)), clipped);
            }
            break;
        }
    }
    if (format.kind != SampleKind::Signed || format.bytes != 2) {
        std::string what = format.kind == SampleKind::Float ? "32-bit float"
                                                            : std::to_string(8 * format.bytes) + "-bit PCM";
        std::string note = "converted " + what + " to 16-bit PCM";
        if (format.kind != SampleKind::Unsigned8) note += " (rounded)";
        if (clipped) note += "; " + std::to_string(clipped) + " sample(s) beyond the 16-bit range were clipped";
        notes.push_back(note);
    }
    return samples;
}

}  // namespace

bool LooksLikeWave(const uint8_t* data, size_t size) {
    return size >= 12 && IsTag(data, "RIFF") && IsTag(data + 8, "WAVE");
}

PcmAudio ReadWave(const uint8_t* file, size_t size) {
    if (size < 12) Refuse("not a WAVE file: " + std::to_string(size) + " bytes, too short for a RIFF header");
    if (!LooksLikeWave(file, size)) Refuse("not a WAVE file: no RIFF/WAVE header");

    const std::optional<Chunks> image = ArchiveImageLayout(file, size);
    const Chunks chunks = image ? *image : WalkChunks(file, size);
    const SampleFormat format = ParseFormat(chunks.format, chunks.formatSize);

    // A data chunk that ends early means a file cut short: taking what is
    // there would store a clipped line in the game without anyone noticing,
    // so the user is asked for a whole file instead.
    if (chunks.presentDataSize < chunks.declaredDataSize)
        Refuse(TruncatedMessage(chunks));

    PcmAudio audio;
    audio.channels = format.channels;
    audio.sampleRate = format.sampleRate;
    const size_t frameBytes = size_t{format.channels} * format.bytes;
    const size_t frames = chunks.presentDataSize / frameBytes;
    if (const size_t partial = chunks.presentDataSize % frameBytes)
        audio.notes.push_back("ignored " + std::to_string(partial) +
                              " byte(s) at the end of the data chunk that make no whole sample frame");
    audio.samples = ConvertSamples(format, chunks.data, frames * format.channels, audio.notes);
    return audio;
}

}  // namespace writer
