// Every allocation, lock, open, size query and read of a picture operation
// is made to fail in turn: each failure must give the code of the step that
// failed and leave nothing behind.
#include <gtest/gtest.h>

#include <string>

#include "picture_calls.h"
#include "platform_testing.h"

using namespace platform_testing;

namespace {

struct Operation {
    const char* name;
    bool delivers;  // GetPicture rather than GetPictureInfo
    Source source;
};

void PrintTo(const Operation& op, std::ostream* out) { *out << op.name; }

// The code each failing call must produce. In file mode the first open and
// read belong to the probe, which refuses (2); later ones are read errors.
int32_t ExpectedResult(Call kind, long nth) {
    switch (kind) {
    case Call::Open:
    case Call::Read:
        return nth == 1 ? UnsupportedFormat : ReadError;
    case Call::Size:
        return ReadError;
    default:
        return NoMemory;
    }
}

// Calls each operation makes in a clean run: in file mode, two opens (probe
// and reading), three reads (probe header, header, stream) and one size query;
// scratch blocks for the stream (file mode) and the image, then GetPicture's
// two handles, each locked once.
long ExpectedCalls(const Operation& op, Call kind) {
    bool file = op.source == Source::File;
    switch (kind) {
    case Call::Alloc:
        return (file ? 2 : 1) + (op.delivers ? 2 : 0);
    case Call::Lock:
        return op.delivers ? 2 : 0;
    case Call::Open:
        return file ? 2 : 0;
    case Call::Read:
        return file ? 3 : 0;
    case Call::Size:
        return file ? 1 : 0;
    default:
        return 0;
    }
}

class FaultSweep : public ::testing::TestWithParam<Operation> {
protected:
    FaultSweep()
        : bitmap_(bitmap_builder::BuildBitmap({11, 7, 8, 0, 30})),
          input_(bitmap_builder::PackBitmap(bitmap_.file), GetParam().source) {}

    // Runs the operation and notes the calls it made, before the test's own
    // look at the handles adds locks of its own.
    int32_t Run() {
        int32_t result;
        if (GetParam().delivers) {
            HGLOBAL info = SlotSentinel(), bits = SlotSentinel();
            result = GetPicture(input_.source(), input_.length(), input_.flags(), &info, &bits,
                                nullptr, 0);
            NoteCalls();
            if (result == Ok) {
                EXPECT_EQ(TakeHandle(info), bitmap_.infoPart);
                EXPECT_EQ(TakeHandle(bits), bitmap_.bits);
            } else {
                EXPECT_EQ(info, SlotSentinel());
                EXPECT_EQ(bits, SlotSentinel());
            }
        } else {
            PictureInfoRecord record;
            result = CallGetPictureInfo(input_, &record);
            NoteCalls();
            if (result == Ok) {
                EXPECT_TRUE(SameRecord(record, ExpectedRecord(11, 7, 8)));
            }
        }
        return result;
    }

    void NoteCalls() {
        for (int k = 0; k < kKinds; ++k) made_[k] = CallsMade(kKind[k]);
    }

    static constexpr int kKinds = 6;
    static constexpr Call kKind[kKinds] = {Call::Alloc, Call::Lock, Call::Open,
                                           Call::Size,  Call::Seek, Call::Read};
    static constexpr const char* kName[kKinds] = {"alloc", "lock", "open", "size", "seek", "read"};
    long made_[kKinds] = {};
    bitmap_builder::Bitmap bitmap_;
    PictureInput input_;
};

TEST_P(FaultSweep, EachFailingCallGivesItsStepsCodeAndLeavesNothingBehind) {
    ResetFaults();
    ASSERT_EQ(Run(), Ok);
    long calls[kKinds];
    for (int k = 0; k < kKinds; ++k) {
        calls[k] = made_[k];
        EXPECT_EQ(calls[k], ExpectedCalls(GetParam(), kKind[k])) << kName[k];
    }

    const LiveCounts before = Live();
    const long misuse = MisuseCount();
    for (int k = 0; k < kKinds; ++k) {
        for (FaultMode mode : {FaultMode::Fail, FaultMode::Short}) {
            if (mode == FaultMode::Short && kKind[k] != Call::Read) continue;
            for (long nth = 1; nth <= calls[k]; ++nth) {
                SCOPED_TRACE(std::string(kName[k]) + " " + std::to_string(nth) +
                             (mode == FaultMode::Short ? " short" : " fails"));
                ResetFaults();
                InjectFault(kKind[k], nth, mode);
                EXPECT_EQ(Run(), ExpectedResult(kKind[k], nth));
                EXPECT_GE(made_[k], nth) << "the armed call was not made";
                ResetFaults();
                EXPECT_EQ(Live(), before);
                EXPECT_EQ(MisuseCount(), misuse);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    PictureOperations, FaultSweep,
    ::testing::Values(Operation{"GetPictureInfoFile", false, Source::File},
                      Operation{"GetPictureInfoMemory", false, Source::Memory},
                      Operation{"GetPictureFile", true, Source::File},
                      Operation{"GetPictureMemory", true, Source::Memory}),
    [](const ::testing::TestParamInfo<Operation>& info) { return std::string(info.param.name); });

}  // namespace
