// How both plug-ins read files: opening, exact reads, seeks, the file's real
// size, and a read-ahead buffer for many small reads at rising offsets.
#pragma once

#include <cstdint>

#include "platform.h"

// Every file the plug-ins read is opened the same way: shared reading,
// existing files only, sequential-scan hint.
HANDLE OpenForReading(const char* path);
// Reads exactly `count` bytes; the count read alone decides.
bool ReadExactly(HANDLE file, void* target, uint32_t count);
// Sets the read position to an absolute offset below 4 GiB.
bool SeekTo(HANDLE file, uint32_t offset);
// Closes the file if it is open and marks it closed.
void CloseIfOpen(HANDLE& file);

// The full 64-bit size, so that files of 4 GiB and more are judged by their
// real end rather than by the low 32 bits. A low part of all ones with no
// high part is the failure answer (a file of exactly 4 GiB - 1 bytes is
// refused).
bool QueryFileSize(HANDLE file, uint64_t* size);

// Small pieces of one file, read through one buffer: a piece the buffer does
// not hold refills it from the piece's offset with as many of the following
// bytes as the caller expects to want next, so that neighbouring pieces cost
// no seek or read of their own. Offsets lie below 4 GiB.
struct ReadAheadBuffer {
    HANDLE file;
    uint64_t fileSize;
    uint8_t* bytes;  // `capacity` bytes from AllocScratch
    uint32_t capacity;
    uint32_t start;         // file offset of bytes[0]
    uint32_t held;          // bytes of the file held from `start`
    uint64_t filePosition;  // where the next ReadFile reads; ~0 when unknown
};

// Allocates the buffer; false when it cannot be had. The file stays the
// caller's to close.
bool StartReadAhead(ReadAheadBuffer* reader, HANDLE file, uint64_t fileSize, uint32_t capacity);
// Frees the buffer; safe on a reader that never started.
void EndReadAhead(ReadAheadBuffer* reader);

// Whether the `count` bytes at `offset` are already in the buffer.
inline bool ReadAheadHolds(const ReadAheadBuffer& reader, uint32_t offset, uint32_t count) {
    return offset >= reader.start &&
           uint64_t{offset} + count <= uint64_t{reader.start} + reader.held;
}

// The `count` bytes at `offset` if the buffer holds them, else null: the
// cheap first step of a read, inline because a listing takes it per entry.
inline const uint8_t* HeldBytes(const ReadAheadBuffer& reader, uint32_t offset, uint32_t count) {
    return ReadAheadHolds(reader, offset, count) ? reader.bytes + (offset - reader.start) : nullptr;
}

// The `count` bytes at `offset` (count <= capacity), valid until the next
// call; null when they do not all lie inside the file or a read fails. A
// refill reads `fillLength` bytes from `offset`, cut to the capacity and the
// file's end, but never fewer than `count`.
const uint8_t* ReadExactlyAt(ReadAheadBuffer* reader, uint32_t offset, uint32_t count,
                             uint32_t fillLength);
