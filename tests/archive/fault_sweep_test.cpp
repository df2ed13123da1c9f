// Every allocation, lock, open, size query, seek and read of each archive
// operation is made to fail in turn: the call must give the code of the
// step that failed, write no slot or record, release the cache lock and
// leave no block, lock or file behind.
#include "archive_calls.h"

using namespace archive_builder;
using namespace platform_testing;

namespace {

struct Fixture {
    ArchiveFolder folder;
    ArchiveRecipe recipe;
    std::string path, other;
    std::vector<uint8_t> wave;
    uint32_t audioPosition = 0;

    Fixture() {
        PwRecipe stereo;
        stereo.channels = 2;
        stereo.codes = Bytes(500, 1);
        // The large entry puts the last peeks beyond the first read window.
        recipe.entries = {{"A.TXT", Bytes(100, 2)}, {"VOICE.PW", MakePwAudio(stereo)},
                        {"BIG.BIN", Bytes(70000, 3)}, {"EMPTY", {}}, {"Z.TXT", Bytes(10, 4)}};
        path = folder.Write("sweep.dat", BuildArchive(recipe));
        other = folder.Write("other.dat", BuildArchive(ArchiveRecipe{}));
        wave = ExpectedWave(recipe.entries[1].data);
        audioPosition = EntryPositions(recipe)[1];
    }
};

Fixture& Shared() {
    static Fixture fixture;  // its folder goes at exit
    return fixture;
}

struct Operation {
    const char* name;
    bool warm;    // the archive is cached before the call
    bool probes;  // the first open, size query and read are an unlocked probe
    bool delivers;  // hands over a block, which the test locks once to read it
    int32_t (*run)(Fixture&);
};

int32_t List(Fixture& f) {
    Listing listing = CallGetArchiveInfo(f.path);
    if (listing.result == Ok) {
        EXPECT_EQ(listing.records.size(), f.recipe.entries.size());
    }
    return listing.result;
}

int32_t Lookup(Fixture& f) {
    ArchiveEntryRecord record;
    int32_t result = CallGetFileInfo(f.path, "VOICE.PW", 0, &record);
    if (result == Ok) {
        EXPECT_EQ(record.outputSize, f.wave.size());
    }
    return result;
}

int32_t Extract(Fixture& f) {
    Delivery delivery = CallGetFile(f.path, f.audioPosition);
    if (delivery.result == Ok) {
        EXPECT_EQ(delivery.bytes, f.wave);
    }
    return delivery.result;
}

int32_t ExpectedResult(const Operation& op, Call kind, long nth) {
    switch (kind) {
    case Call::Alloc:
    case Call::Lock:
        return NoMemory;
    default:
        return op.probes && nth == 1 && kind != Call::Seek ? UnsupportedFormat : ReadError;
    }
}

class FaultSweep : public ::testing::TestWithParam<Operation> {
protected:
    void Prepare() {
        Fixture& f = Shared();
        ASSERT_EQ(CallGetArchiveInfo(GetParam().warm ? f.path : f.other).result, Ok);
    }
};

}  // namespace

TEST_P(FaultSweep, EachFailingCallGivesItsCodeAndLeavesNothing) {
    const Operation& op = GetParam();
    Fixture& f = Shared();
    const Call kinds[] = {Call::Alloc, Call::Lock, Call::Open, Call::Size, Call::Seek, Call::Read};
    long calls[static_cast<int>(Call::Count_)] = {};
    Prepare();
    ResetFaults();
    ASSERT_EQ(op.run(f), Ok);
    for (Call kind : kinds) calls[static_cast<int>(kind)] = CallsMade(kind);
    calls[static_cast<int>(Call::Lock)] -= op.delivers;
    EXPECT_GT(calls[static_cast<int>(Call::Open)] + op.warm, 0);

    for (Call kind : kinds) {
        for (FaultMode mode : {FaultMode::Fail, FaultMode::Short}) {
            if (mode == FaultMode::Short && kind != Call::Read && kind != Call::Seek) continue;
            for (long nth = 1; nth <= calls[static_cast<int>(kind)]; ++nth) {
                SCOPED_TRACE("call kind " + std::to_string(static_cast<int>(kind)) + " #" +
                             std::to_string(nth) + (mode == FaultMode::Short ? " short" : " fails"));
                Prepare();
                const LiveCounts before = Live();
                const long misuse = MisuseCount();
                ResetFaults();
                InjectFault(kind, nth, mode);
                int32_t result = op.run(f);
                ResetFaults();
                EXPECT_EQ(result, ExpectedResult(op, kind, nth));
                EXPECT_TRUE(CacheLockIsFree());
                Prepare();
                EXPECT_EQ(Live(), before);
                EXPECT_EQ(MisuseCount(), misuse);
                EXPECT_EQ(op.run(f), Ok) << "the next call fails";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Archive, FaultSweep,
                         ::testing::Values(Operation{"ListCold", false, true, true, List},
                                           Operation{"LookupCold", false, false, false, Lookup},
                                           Operation{"ExtractCold", false, false, true, Extract},
                                           Operation{"ExtractWarm", true, false, true, Extract}),
                         [](const ::testing::TestParamInfo<Operation>& info) { return info.param.name; });
