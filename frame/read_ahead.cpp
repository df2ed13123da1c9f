// Reading at chosen offsets: seeks and the read-ahead buffer (file_reading.h).
#include "file_reading.h"

#include "plugin_frame.h"

namespace {

constexpr uint64_t kPositionUnknown = ~uint64_t{0};

}  // namespace

bool SeekTo(HANDLE file, uint32_t offset) {
    // A zero high part makes the offset unsigned, so entries between 2 and
    // 4 GiB stay reachable; without it Windows takes it as negative.
    LONG high = 0;
    DWORD landed = SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN);
    return landed == offset && high == 0;
}

bool StartReadAhead(ReadAheadBuffer* reader, HANDLE file, uint64_t fileSize, uint32_t capacity) {
    *reader = ReadAheadBuffer{file, fileSize, nullptr, capacity, 0, 0, kPositionUnknown};
    reader->bytes = static_cast<uint8_t*>(AllocScratch(capacity));
    return reader->bytes != nullptr;
}

void EndReadAhead(ReadAheadBuffer* reader) {
    FreeScratch(reader->bytes);
    reader->bytes = nullptr;
    reader->held = 0;
}

const uint8_t* ReadExactlyAt(ReadAheadBuffer* reader, uint32_t offset, uint32_t count,
                             uint32_t fillLength) {
    if (count == 0) return reader->bytes;
    if (const uint8_t* held = HeldBytes(*reader, offset, count)) return held;
    uint64_t fileLeft = offset < reader->fileSize ? reader->fileSize - offset : 0;
    if (count > reader->capacity || count > fileLeft) return nullptr;  // would come up short
    uint32_t want = fillLength < reader->capacity ? fillLength : reader->capacity;
    if (want > fileLeft) want = static_cast<uint32_t>(fileLeft);
    if (want < count) want = count;

    // Nothing is held while the buffer is being overwritten.
    reader->held = 0;
    if (reader->filePosition != offset && !SeekTo(reader->file, offset)) {
        reader->filePosition = kPositionUnknown;
        return nullptr;
    }
    reader->filePosition = kPositionUnknown;  // until the read succeeds
    if (!ReadExactly(reader->file, reader->bytes, want)) return nullptr;
    reader->filePosition = uint64_t{offset} + want;
    reader->start = offset;
    reader->held = want;
    return reader->bytes;
}
