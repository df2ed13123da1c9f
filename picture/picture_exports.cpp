// The picture plug-in's entry points. Each format operation keeps a pending
// result that every step sets to its own failure code before it runs, and
// one clean-up bound to its scope that releases whatever the call obtained.
#include "picture_exports.h"

#include <climits>
#include <cstring>

#include "lzss_decoder.h"
#include "packed_bitmap.h"
#include "picture_version.h"

namespace {

const InfoStringTable kInfoStrings = {"00IN", ZORVPICT_DESCRIPTION, "*.bmp",
                                      "ZORVAN BMP Graphics"};

// Everything one picture operation holds until its clean-up.
struct PictureWork {
    HANDLE file = INVALID_HANDLE_VALUE;
    uint8_t* packed = nullptr;  // file mode only; memory mode reads in place
    uint8_t* unpacked = nullptr;
    uint32_t unpackedLength = 0;
    InfoHeaderFields info = {};
    uint64_t infoPartSize = 0;
    HGLOBAL infoHandle = nullptr;
    HGLOBAL bitsHandle = nullptr;
};

// The clean-up of both operations: file, then handles in the order they
// were made, then scratch blocks. Slots are written only on Ok.
void ReleaseWork(PictureWork& work, int32_t result, HGLOBAL* infoHandleOut,
                 HGLOBAL* bitsHandleOut) {
    CloseIfOpen(work.file);
    HandOverHandle(work.infoHandle, result == Ok, infoHandleOut);
    HandOverHandle(work.bitsHandle, result == Ok, bitsHandleOut);
    FreeScratch(work.packed);
    FreeScratch(work.unpacked);
}

// The lengths a header announces must be ones its stream could fill, checked
// before anything is allocated: ten hostile bytes must not cost gigabytes.
bool Plausible(const PackedHeader& header, uint32_t packedAvailable) {
    return header.unpackedLength >= kSmallestImage &&
           header.unpackedLength <= LargestUnpackedFrom(packedAvailable);
}

// The road both operations share: find the packed stream, unpack all of it
// and make sure the image holds its info part. Sets `pending` before each
// step; on false, what it obtained is left in `work` for the clean-up.
bool UnpackPicture(const char* source, int32_t length, uint32_t flags, PictureWork& work,
                   int32_t& pending) {
    pending = UnsupportedFormat;
    PackedHeader header;
    const uint8_t* stream;
    uint32_t packedAvailable;
    if (flags & SourceInMemory) {
        // The header alone is 10 bytes; a shorter image is not read at all.
        if (source == nullptr || length < static_cast<int32_t>(kPackedHeaderSize)) return false;
        const uint8_t* image = reinterpret_cast<const uint8_t*>(source);
        if (!ProbePackedHeader(nullptr, image)) return false;
        header = ParsePackedHeader(image);
        stream = image + kPackedHeaderSize;
        packedAvailable = static_cast<uint32_t>(length) - kPackedHeaderSize;
        if (!Plausible(header, packedAvailable)) return false;
    } else {
        // A file the probe cannot open is not ours (2); failing after it is a read error.
        if (!ProbePackedHeader(source, nullptr)) return false;
        pending = ReadError;
        work.file = OpenForReading(source);
        if (work.file == INVALID_HANDLE_VALUE) return false;
        uint8_t bytes[kPackedHeaderSize];
        if (!ReadExactly(work.file, bytes, kPackedHeaderSize)) return false;
        header = ParsePackedHeader(bytes);
        uint64_t fileSize = 0;
        if (!QueryFileSize(work.file, &fileSize)) return false;
        pending = UnsupportedFormat;
        if (fileSize < uint64_t{header.packedLength} + kPackedHeaderSize) return false;
        packedAvailable = header.packedLength;
        if (!Plausible(header, packedAvailable)) return false;
        pending = NoMemory;
        work.packed = static_cast<uint8_t*>(AllocScratch(header.packedLength));
        if (work.packed == nullptr) return false;
        pending = ReadError;
        if (!ReadExactly(work.file, work.packed, header.packedLength)) return false;
        stream = work.packed;
    }
    pending = NoMemory;
    work.unpacked = static_cast<uint8_t*>(AllocScratch(header.unpackedLength));
    if (work.unpacked == nullptr) return false;
    work.unpackedLength = header.unpackedLength;
    pending = UnsupportedFormat;
    // A stream that ends before the image is full is a damaged picture.
    if (LzssDecoder(work.unpacked, header.unpackedLength, stream, packedAvailable) !=
        header.unpackedLength)
        return false;
    work.info = ReadInfoHeader(work.unpacked);
    work.infoPartSize = InfoPartSize(work.info);
    return kFileHeaderSize + work.infoPartSize <= header.unpackedLength;
}

}  // namespace

// The picture module keeps nothing between calls.
void ModuleAttach() {}
void ModuleDetach() {}

PLUGIN_EXPORT int32_t WINAPI GetPluginInfo(int32_t infoIndex, char* buffer, int32_t bufferLength) {
    return CopyInfoString(kInfoStrings, infoIndex, buffer, bufferLength);
}

PLUGIN_EXPORT int32_t WINAPI IsSupported(const char* path, uintptr_t probeWord) {
    if ((probeWord >> 16) != 0) return ProbePackedHeader(nullptr, reinterpret_cast<const uint8_t*>(probeWord));
    return ProbePackedHeader(path, nullptr);
}

PLUGIN_EXPORT int32_t WINAPI GetPictureInfo(const char* source, int32_t length, uint32_t flags,
                                            PictureInfoRecord* info) {
    // No record to fill: refused before any work, as the archive module does.
    if (info == nullptr) return NotImplemented;
    int32_t pending = UnsupportedFormat;
    PictureWork work;
    auto cleanup = OnScopeExit([&] { ReleaseWork(work, pending, nullptr, nullptr); });
    if (!UnpackPicture(source, length, flags, work, pending)) return pending;
    pending = UnsupportedFormat;
    // -2^31 has no positive height to report.
    if (work.info.height == INT32_MIN) return pending;
    PictureInfoRecord record = {};
    record.width = work.info.width;
    record.height = work.info.height < 0 ? -work.info.height : work.info.height;
    record.colorDepth = work.info.bitCount;
    std::memcpy(info, &record, sizeof record);
    pending = Ok;
    return pending;
}

PLUGIN_EXPORT int32_t WINAPI GetPicture(const char* source, int32_t length, uint32_t flags,
                                        HGLOBAL* infoHandleOut, HGLOBAL* bitsHandleOut,
                                        ProgressCallback progress, intptr_t userData) {
    // Unpacking is one step with nothing to report, so the host is never called back.
    (void)progress;
    (void)userData;
    if (infoHandleOut == nullptr || bitsHandleOut == nullptr) return NotImplemented;
    int32_t pending = UnsupportedFormat;
    PictureWork work;
    auto cleanup = OnScopeExit([&] { ReleaseWork(work, pending, infoHandleOut, bitsHandleOut); });
    if (!UnpackPicture(source, length, flags, work, pending)) return pending;
    // Both fit in 32 bits: the info part was checked against the image.
    uint32_t infoSize = static_cast<uint32_t>(work.infoPartSize);
    uint32_t bitsSize = work.unpackedLength - kFileHeaderSize - infoSize;
    const uint8_t* infoPart = work.unpacked + kFileHeaderSize;

    pending = NoMemory;
    void* target = AllocAndLock(infoSize, 0, &work.infoHandle);
    if (target == nullptr) return pending;
    std::memcpy(target, infoPart, infoSize);
    GlobalUnlock(work.infoHandle);

    // bfOffBits is not trusted: the bits are everything behind the info part.
    // An empty bits part ends here, as a movable block of 0 bytes cannot be locked.
    target = AllocAndLock(bitsSize, 0, &work.bitsHandle);
    if (target == nullptr) return pending;
    std::memcpy(target, infoPart + infoSize, bitsSize);
    pending = Ok;
    return pending;
}
