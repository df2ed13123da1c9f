// Where the writers put their output: appended bytes, in order. A sink that
// cannot take them throws; the writer stops at once and the caller discards
// what was written (an AtomicFile is simply not committed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

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

// What went wrong while writing output or reading the input for it; the
// message is for the user and names the file.
struct WriteError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace writer
