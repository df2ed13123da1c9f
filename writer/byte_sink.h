// Where the writers put their output: appended bytes, in order. A sink that
// cannot take them throws (a files::ToolError); the writer stops at once
// and the caller discards what was written (an AtomicFile is simply not
// committed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tool_error.h"  // what the writers throw

namespace writer {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void Write(const uint8_t* data, size_t size) = 0;
};

class VectorSink : public ByteSink {
public:
    void Write(const uint8_t* data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
    std::vector<uint8_t> bytes;
};

}  // namespace writer
