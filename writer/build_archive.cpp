// Building an archive from a plan: each entry's bytes as the plan says,
// encoded entries first, so that a picture or WAVE that cannot be read
// stops the build before its first byte.
#include <algorithm>
#include <cstring>

#include "byte_order.h"
#include "file_look.h"
#include "packed_picture.h"
#include "pw_encoder.h"
#include "rebuild.h"
#include "source_file.h"
#include "wave_file.h"

namespace writer {

namespace fs = std::filesystem;

namespace {

// Pictures and WAVE files are encoded in memory.
constexpr uint64_t kLargestEncodedInput = uint64_t{1} << 30;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// The samples of an unchanged WAVE back into codes: each is a table value,
// so each gives its own code back. The WAVE's header, as long as the coded
// one, is skipped: the original header is written instead.
class CodingSink : public ByteSink {
public:
    explicit CodingSink(ByteSink& inner) : inner_(inner) {}
    void Write(const uint8_t* data, size_t size) override {
        const size_t skip = std::min(size, kPwHeaderSize - skipped_);
        skipped_ += skip;
        data += skip;
        size -= skip;
        while (size > 0) {
            const size_t take = std::min(size, sizeof pending_ - pendingSize_);
            std::memcpy(pending_ + pendingSize_, data, take);
            pendingSize_ += take;
            data += take;
            size -= take;
            if (pendingSize_ == sizeof pending_) Drain();
        }
    }
    void Finish() {
        if (pendingSize_ % 2 != 0) throw files::ToolError("a WAVE file ends in half a sample");
        Drain();
    }

private:
    void Drain() {
        const size_t count = pendingSize_ / 2;
        for (size_t k = 0; k < count; ++k)
            samples_[k] = static_cast<int16_t>(ReadLe16(pending_ + 2 * k));
        EncodePwCodes(codes_, samples_, count);
        inner_.Write(codes_, count);
        pendingSize_ = 0;
    }

    ByteSink& inner_;
    size_t skipped_ = 0;
    uint8_t pending_[8192];
    size_t pendingSize_ = 0;
    int16_t samples_[4096];
    uint8_t codes_[4096];
};

void WriteFileBytes(const PlanItem& item, uint64_t size, const std::string* hash, ByteSink& sink) {
    WriteFileBytes(item.content, item.source, item.file, size, hash, sink);
}

ArchiveEntry OriginalEntry(const PlanItem& item) {
    const ManifestEntry& entry = *item.original;
    ArchiveEntry out;
    out.name = entry.nameField;
    out.label = entry.file->path;
    if (entry.form == WrittenForm::Stored) {
        out.size = entry.storedSize;
        out.writeData = [&item](ByteSink& sink) {
            WriteFileBytes(item, item.original->file->size, &item.original->file->hash, sink);
        };
        return out;
    }
    out.size = static_cast<uint32_t>(kPwHeaderSize + uint64_t{PwCodeCount(entry.audioHeader.data())} +
                                     entry.audioTrailing.size());
    out.writeData = [&item](ByteSink& sink) {
        const ManifestEntry& original = *item.original;
        sink.Write(original.audioHeader.data(), original.audioHeader.size());
        CodingSink coding(sink);
        WriteFileBytes(item, original.file->size, &original.file->hash, coding);
        coding.Finish();
        sink.Write(original.audioTrailing.data(), original.audioTrailing.size());
    };
    return out;
}

std::vector<uint8_t> ReadForEncoding(const PlanItem& item) {
    if (item.content) return *item.content;
    return ReadWholeFile(fs::u8path(item.source), kLargestEncodedInput);
}

ArchiveEntry EncodedEntry(const PlanItem& item, const BuildOptions& options, std::vector<std::string>* notes) {
    const std::vector<uint8_t> input = ReadForEncoding(item);
    std::vector<uint8_t> bytes;
    std::vector<std::string> said;
    try {
        if (item.making == Making::PackPicture) {
            PackOptions pack;
            pack.parse = options.parse;
            pack.check = options.checkPicture;
            if (item.original) {
                pack.signature = item.original->pictureSignature == "E1" ? PackedSignature::E1 : PackedSignature::B1;
                pack.preferredDepth = item.original->pictureBitCount;
            }
            PackedPicture picture = PackPicture(input.data(), input.size(), pack);
            bytes = std::move(picture.file);
            said = std::move(picture.notes);
        } else {
            PcmAudio audio = ReadWave(input.data(), input.size());
            said = audio.notes;
            const bool keepHeader = item.original && item.original->kind == EntryKind::Audio;
            bytes = EncodePwAudio(audio, keepHeader ? item.original->audioHeader.data() : nullptr,
                                  keepHeader ? item.original->audioTrailing : std::vector<uint8_t>{});
        }
    } catch (files::ToolError& error) {
        error.About(item.file);
        throw;
    }
    for (const std::string& note : said) notes->push_back(Quoted(item.file) + ": " + note);
    return EntryFromBytes(item.nameField, std::move(bytes), item.file);
}

ArchiveEntry AsIsEntry(const PlanItem& item) {
    if (item.fileSize > 0xFFFFFFFFull)
        throw files::ToolError(Quoted(item.file) + " is larger than an entry may be (4 GiB)");
    ArchiveEntry out;
    out.name = item.nameField;
    out.label = item.file;
    out.size = static_cast<uint32_t>(item.fileSize);
    out.writeData = [&item](ByteSink& sink) { WriteFileBytes(item, item.fileSize, nullptr, sink); };
    return out;
}

}  // namespace

void BuildArchive(const RebuildPlan& plan, ByteSink& sink, const BuildOptions& options,
                  std::vector<std::string>* notes) {
    std::vector<ArchiveEntry> entries;
    entries.reserve(plan.items.size());
    for (const PlanItem& item : plan.items) {
        switch (item.making) {
        case Making::Nothing:
            break;
        case Making::Original:
            entries.push_back(OriginalEntry(item));
            break;
        case Making::AsIs:
            entries.push_back(AsIsEntry(item));
            break;
        case Making::PackPicture:
        case Making::EncodeAudio:
            entries.push_back(EncodedEntry(item, options, notes));
            break;
        }
    }
    if (options.onProgress) {
        for (ArchiveEntry& entry : entries) {
            entry.writeData = [&options, write = std::move(entry.writeData), &entry](ByteSink& sink) {
                write(sink);
                options.onProgress(entry.label, entry.size);
            };
        }
    }
    WriteArchive(sink, plan.layout, entries);
}

}  // namespace writer
