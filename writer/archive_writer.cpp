#include "archive_writer.h"

#include <cstring>
#include <memory>

#include "byte_order.h"

namespace writer {

namespace {

constexpr uint64_t kLargestArchive = 0xFFFFFFFFull;

// Counts what an entry's writer delivers, so a short or long entry is caught
// before the directory would disagree with the data.
class CountingSink : public ByteSink {
public:
    explicit CountingSink(ByteSink& inner) : inner_(inner) {}
    void Write(const uint8_t* data, size_t size) override {
        count_ += size;
        inner_.Write(data, size);
    }
    uint64_t count() const { return count_; }

private:
    ByteSink& inner_;
    uint64_t count_ = 0;
};

}  // namespace

NameField MakeNameField(std::string_view rawName, std::string_view shownName) {
    const std::string who = "'" + std::string(shownName) + "'";
    if (rawName.empty()) throw files::ToolError("an entry needs a name: " + who + " is empty");
    if (rawName.size() > kEntryNameLength)
        throw files::ToolError("the name " + who + " takes " + std::to_string(rawName.size()) +
                               " bytes; an archive holds names of at most 12");
    if (rawName.find('\0') != std::string_view::npos)
        throw files::ToolError("the name " + who + " holds a zero byte, which would end it early");
    NameField field{};
    std::memcpy(field.data(), rawName.data(), rawName.size());
    return field;
}

std::string NameFromField(const NameField& field) {
    size_t length = 0;
    while (length < field.size() && field[length] != 0) ++length;
    return std::string(reinterpret_cast<const char*>(field.data()), length);
}

std::string FoldArchiveName(std::string rawName) {
    for (char& c : rawName) c = FoldArchiveNameByte(c);
    return rawName;
}

ArchiveSignature ParseArchiveSignature(std::string_view text) {
    if (text == "ZRV00") return ArchiveSignature::Zrv00;
    if (text == "ZRV01") return ArchiveSignature::Zrv01;
    if (text == "ZRV03") return ArchiveSignature::Zrv03;
    throw files::ToolError("unknown archive signature '" + std::string(text) + "': use ZRV00, ZRV01 or ZRV03");
}

ArchiveLayout DefaultLayout(ArchiveSignature signature) {
    static const char* const kText[] = {"ZRV00", "ZRV01", "ZRV03"};
    ArchiveLayout layout;
    std::memcpy(layout.signature.data(), kText[static_cast<int>(signature)], 5);
    layout.signature[5] = 0x1A;
    return layout;
}

void WriteArchive(ByteSink& sink, const ArchiveLayout& layout, const std::vector<ArchiveEntry>& entries) {
    if (entries.size() > kMostArchiveEntries)
        throw files::ToolError("an archive holds at most 65,535 entries; this one would hold " +
                               std::to_string(entries.size()));
    if (!IsArchiveSignature(layout.signature.data()))
        throw files::ToolError("the archive's signature is not ZRV00, ZRV01 or ZRV03 followed by 0x1A 0x00");
    uint64_t dataEnd = kArchiveHeaderSize;
    for (const ArchiveEntry& entry : entries) dataEnd += entry.size;
    const uint64_t directoryOffset = dataEnd + layout.gap.size();
    const uint64_t fileSize = directoryOffset + kDirectoryEntrySize * entries.size() + layout.tail.size();
    if (fileSize > kLargestArchive)
        throw files::ToolError("the archive would take " + std::to_string(fileSize) +
                               " bytes; its offsets and sizes end at 4 GiB");

    uint8_t header[kArchiveHeaderSize];
    std::memcpy(header, layout.signature.data(), 8);
    WriteLe16(header + kEntryCountField, static_cast<uint16_t>(entries.size()));
    WriteLe32(header + kDirectoryOffsetField, static_cast<uint32_t>(directoryOffset));
    std::memcpy(header + 14, layout.reserved.data(), 2);
    sink.Write(header, sizeof header);

    for (const ArchiveEntry& entry : entries) {
        CountingSink counted(sink);
        entry.writeData(counted);
        if (counted.count() != entry.size)
            throw files::ToolError("'" + entry.label + "' gave " + std::to_string(counted.count()) +
                                   " bytes where " + std::to_string(entry.size) +
                                   " were announced (did it change while the archive was written?)");
    }
    sink.Write(layout.gap.data(), layout.gap.size());

    std::vector<uint8_t> directory(kDirectoryEntrySize * entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t* record = directory.data() + kDirectoryEntrySize * i;
        std::memcpy(record, entries[i].name.data(), kEntryNameLength);
        WriteLe32(record + kEntryNameLength, entries[i].size);
    }
    sink.Write(directory.data(), directory.size());
    sink.Write(layout.tail.data(), layout.tail.size());
}

ArchiveEntry EntryFromBytes(const NameField& name, std::vector<uint8_t> bytes, std::string label) {
    auto data = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
    ArchiveEntry entry;
    entry.name = name;
    entry.size = static_cast<uint32_t>(data->size());
    if (entry.size != data->size()) throw files::ToolError("'" + label + "' is larger than 4 GiB");
    entry.writeData = [data](ByteSink& sink) { sink.Write(data->data(), data->size()); };
    entry.label = std::move(label);
    return entry;
}

}  // namespace writer
