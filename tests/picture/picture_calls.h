// Calls the picture entry points the way a host does and checks what every
// call must leave behind, whatever it returns: unlocked handles on success,
// untouched slots and record on failure.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

#include "bitmap_builder.h"
#include "picture_exports.h"
#include "take_handle.h"

enum class Source { File, Memory };

inline const char* SourceName(Source source) { return source == Source::File ? "File" : "Memory"; }
inline void PrintTo(Source source, std::ostream* out) { *out << SourceName(source); }

// A packed file where the entry points can reach it: on disk, or in a heap
// block of exactly its size so that reading past its end is caught.
class PictureInput {
public:
    PictureInput(const std::vector<uint8_t>& bytes, Source source)
        : bytes_(bytes), source_(source) {
        if (source == Source::File) file_.reset(new bitmap_builder::TempFile(bytes));
    }
    const char* source() const {
        return file_ ? file_->path() : reinterpret_cast<const char*>(bytes_.data());
    }
    int32_t length() const { return static_cast<int32_t>(bytes_.size()); }
    uint32_t flags() const { return source_ == Source::Memory ? uint32_t{SourceInMemory} : 0u; }

private:
    std::vector<uint8_t> bytes_;
    Source source_;
    std::unique_ptr<bitmap_builder::TempFile> file_;
};

// What the host puts in its slots before a call.
inline HGLOBAL SlotSentinel() { return reinterpret_cast<HGLOBAL>(uintptr_t{0x5EED0}); }

struct Delivery {
    int32_t result;
    std::vector<uint8_t> info;
    std::vector<uint8_t> bits;
};

inline Delivery CallGetPicture(const char* source, int32_t length, uint32_t flags) {
    HGLOBAL infoHandle = SlotSentinel();
    HGLOBAL bitsHandle = SlotSentinel();
    Delivery delivery{GetPicture(source, length, flags, &infoHandle, &bitsHandle, nullptr, 0), {}, {}};
    if (delivery.result == Ok) {
        delivery.info = TakeHandle(infoHandle);
        delivery.bits = TakeHandle(bitsHandle);
    } else {
        EXPECT_EQ(infoHandle, SlotSentinel());
        EXPECT_EQ(bitsHandle, SlotSentinel());
    }
    return delivery;
}

inline Delivery CallGetPicture(const PictureInput& input) {
    return CallGetPicture(input.source(), input.length(), input.flags());
}

// The record as it must look after a successful call.
inline PictureInfoRecord ExpectedRecord(int32_t width, int32_t height, uint16_t depth) {
    PictureInfoRecord record;
    std::memset(&record, 0, sizeof record);
    record.width = width;
    record.height = height;
    record.colorDepth = depth;
    return record;
}

// Calls GetPictureInfo over a record full of filler; on failure the record
// must still hold only filler.
inline int32_t CallGetPictureInfo(const char* source, int32_t length, uint32_t flags,
                                  PictureInfoRecord* record) {
    std::memset(record, 0xAB, sizeof *record);
    int32_t result = GetPictureInfo(source, length, flags, record);
    if (result != Ok) {
        PictureInfoRecord filler;
        std::memset(&filler, 0xAB, sizeof filler);
        EXPECT_EQ(std::memcmp(record, &filler, sizeof filler), 0) << "record written on failure";
    }
    return result;
}

inline int32_t CallGetPictureInfo(const PictureInput& input, PictureInfoRecord* record) {
    return CallGetPictureInfo(input.source(), input.length(), input.flags(), record);
}

inline bool SameRecord(const PictureInfoRecord& a, const PictureInfoRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
