// The shared frame and the kernel-service stand-in it runs on natively.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "invariants.h"
#include "platform_testing.h"
#include "plugin_frame.h"

using platform_testing::Call;
using platform_testing::FaultMode;

namespace {

InfoStringTable kTable = {"00IN", "Some Import Filter (C) us", "*.bmp", "Some Graphics"};

std::string FillWith(char c, size_t n) { return std::string(n, c); }

TEST(CopyInfoString, CutsToFitAndTerminates) {
    char buffer[100];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(4, CopyInfoString(kTable, 0, buffer, 5));
    EXPECT_STREQ("00IN", buffer);

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(4, CopyInfoString(kTable, 0, buffer, 100));
    EXPECT_STREQ("00IN", buffer);
    EXPECT_EQ(FillWith('x', 95), std::string(buffer + 5, 95)) << "bytes after the terminator untouched";

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(2, CopyInfoString(kTable, 0, buffer, 3));
    EXPECT_EQ(std::string("00\0x", 4), std::string(buffer, 4));

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(0, CopyInfoString(kTable, 0, buffer, 1));
    EXPECT_EQ(std::string("\0x", 2), std::string(buffer, 2));
}

TEST(CopyInfoString, NegativeLengthIsALargeBuffer) {
    char buffer[64];
    EXPECT_EQ(13, CopyInfoString(kTable, 3, buffer, -1));
    EXPECT_STREQ("Some Graphics", buffer);
}

TEST(CopyInfoString, WritesNothingOutsideTheTableOrWithoutRoom) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(0, CopyInfoString(kTable, 4, buffer, 8));
    EXPECT_EQ(0, CopyInfoString(kTable, -1, buffer, 8));
    EXPECT_EQ(0, CopyInfoString(kTable, 0, buffer, 0));
    EXPECT_EQ(FillWith('x', 8), std::string(buffer, 8));
}

TEST(HandOverHandle, UnlocksFullyThenStoresOrFrees) {
    auto before = platform_testing::Live();
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, 16);
    ASSERT_NE(nullptr, GlobalLock(handle));
    ASSERT_NE(nullptr, GlobalLock(handle));
    EXPECT_EQ(2u, GlobalFlags(handle) & GMEM_LOCKCOUNT);
    HGLOBAL slot = reinterpret_cast<HGLOBAL>(0x1234);
    HandOverHandle(handle, true, &slot);
    EXPECT_EQ(handle, slot);
    EXPECT_EQ(0u, GlobalFlags(handle) & GMEM_LOCKCOUNT);
    GlobalFree(handle);

    HGLOBAL delivered = slot;
    handle = GlobalAlloc(GMEM_MOVEABLE, 16);
    GlobalLock(handle);
    HandOverHandle(handle, false, &slot);
    EXPECT_EQ(delivered, slot) << "failure must not write the slot";
    HandOverHandle(nullptr, true, &slot);
    EXPECT_EQ(before, platform_testing::Live());
}

TEST(StandIn, MovableBlocksKeepLockCountsAndEmptyOnesCannotBeLocked) {
    auto before = platform_testing::Live();
    HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(nullptr, empty) << "a movable block of 0 bytes is allocated";
    EXPECT_EQ(nullptr, GlobalLock(empty)) << "...but cannot be locked";
    EXPECT_EQ(0u, GlobalSize(empty));
    EXPECT_EQ(GMEM_DISCARDED, GlobalFlags(empty) & GMEM_DISCARDED);
    EXPECT_EQ(nullptr, GlobalFree(empty));

    HGLOBAL zeroed = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 32);
    auto* bytes = static_cast<uint8_t*>(GlobalLock(zeroed));
    ASSERT_NE(nullptr, bytes);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(0, bytes[i]);
    EXPECT_EQ(32u, GlobalSize(zeroed));
    EXPECT_EQ(before.locks + 1, platform_testing::Live().locks);
    EXPECT_FALSE(GlobalUnlock(zeroed));
    GlobalFree(zeroed);

    void* fixed = AllocScratch(0);
    EXPECT_NE(nullptr, fixed) << "a fixed block of 0 bytes is an ordinary block";
    FreeScratch(fixed);
    FreeScratch(nullptr);
    EXPECT_EQ(before, platform_testing::Live());
}

#if defined(__SANITIZE_ADDRESS__)
#define ZORV_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZORV_ADDRESS_SANITIZER 1
#endif
#endif

TEST(StandIn, LargestBlockIsWhatThePointerWidthAllows) {
    // Nothing is touched, so the pages of a large block are never made; the
    // address sanitizer marks every byte's shadow, so there a block just
    // past the 32-bit limit stands for the largest.
    const bool wide = sizeof(void*) >= 8;
#ifdef ZORV_ADDRESS_SANITIZER
    const SIZE_T largest = wide ? SIZE_T{0x7FFF1000u} : SIZE_T{0x7FFF0001u};
#else
    const SIZE_T largest = wide ? SIZE_T{0xFFFFFFFFu} : SIZE_T{0x7FFF0001u};
#endif
    HGLOBAL large = GlobalAlloc(GMEM_MOVEABLE, largest);
    EXPECT_EQ(wide, large != nullptr) << "64 bits: up to 4 GiB - 1; 32 bits: Windows' own limit";
    if (large != nullptr) {
        EXPECT_EQ(largest, GlobalSize(large));
        GlobalFree(large);
    }
    if (wide) {
        EXPECT_EQ(nullptr, GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(uint64_t{1} << 32)));
    }
}

TEST(StandIn, CatchesFreesOfUnknownHandles) {
    long misuse = platform_testing::MisuseCount();
    int local = 0;
    EXPECT_EQ(&local, GlobalFree(&local));
    EXPECT_EQ(misuse + 1, platform_testing::MisuseCount());
}

class StandInFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::snprintf(path_, sizeof path_, "/tmp/zorv_frame_%d.bin", static_cast<int>(getpid()));
        FILE* f = std::fopen(path_, "wb");
        ASSERT_NE(nullptr, f);
        for (int i = 0; i < 100; ++i) std::fputc(i, f);
        std::fclose(f);
        platform_testing::ResetFaults();
    }
    void TearDown() override {
        platform_testing::ResetFaults();
        std::remove(path_);
    }
    char path_[64];
};

TEST_F(StandInFile, ReadsSeeksAndSizes) {
    HANDLE file = OpenForReading(path_);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(100u, GetFileSize(file, nullptr));
    uint8_t bytes[200];
    EXPECT_TRUE(SeekTo(file, 90));
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(file, bytes, 20, &got, nullptr)) << "reading past the end is not an error";
    EXPECT_EQ(10u, got);
    EXPECT_EQ(90, bytes[0]);
    EXPECT_TRUE(SeekTo(file, 0));
    EXPECT_TRUE(ReadExactly(file, bytes, 100));
    EXPECT_FALSE(ReadExactly(file, bytes, 1));
    // Without a high part, offsets from 2 GiB on are negative and refused.
    EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(file, static_cast<LONG>(0x80000000u), nullptr, FILE_BEGIN));
    EXPECT_TRUE(SeekTo(file, 0x80000000u)) << "with a zero high part the offset is unsigned";
    CloseIfOpen(file);
    EXPECT_EQ(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenForReading("/tmp")) << "a folder is not a file";
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenForReading("/nonexistent/zorv"));
    EXPECT_EQ(0, platform_testing::Live().files);
}

TEST_F(StandInFile, NamedPipeIsRefusedWithoutWaitingForAWriter) {
    const std::string pipe = std::string(path_) + ".fifo";
    ASSERT_EQ(0, mkfifo(pipe.c_str(), 0600));
    auto opening = std::async(std::launch::async, [&] { return OpenForReading(pipe.c_str()); });
    const bool answered = opening.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!answered) {  // release the waiting open, so the test can end
        int writer = open(pipe.c_str(), O_WRONLY);
        close(writer);
    }
    HANDLE file = opening.get();
    std::remove(pipe.c_str());
    EXPECT_TRUE(answered) << "opening a named pipe waited for a writer";
    EXPECT_EQ(INVALID_HANDLE_VALUE, file) << "only a regular file opens";
    CloseIfOpen(file);
    EXPECT_EQ(0, platform_testing::Live().files);
}

TEST_F(StandInFile, InjectedFaultsHitTheNthCallOnly) {
    HANDLE file = OpenForReading(path_);
    uint8_t bytes[10];
    platform_testing::InjectFault(Call::Read, 2, FaultMode::Short);
    EXPECT_TRUE(ReadExactly(file, bytes, 10));
    EXPECT_FALSE(ReadExactly(file, bytes, 10));
    EXPECT_TRUE(ReadExactly(file, bytes, 10));
    platform_testing::InjectFault(Call::Seek, 1, FaultMode::Short);
    EXPECT_FALSE(SeekTo(file, 50));
    platform_testing::InjectFault(Call::Size, 1);
    EXPECT_EQ(INVALID_FILE_SIZE, GetFileSize(file, nullptr));
    CloseHandle(file);

    platform_testing::InjectFault(Call::Open, 1);
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenForReading(path_));
    platform_testing::InjectFault(Call::Alloc, 1);
    EXPECT_EQ(nullptr, AllocScratch(8));
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, 8);
    platform_testing::InjectFault(Call::Lock, 1);
    EXPECT_EQ(nullptr, GlobalLock(handle));
    EXPECT_NE(nullptr, GlobalLock(handle));
    GlobalUnlock(handle);
    GlobalFree(handle);
    EXPECT_EQ(2, platform_testing::CallsMade(Call::Open));
}

TEST(StandIn, CriticalSectionIsReentrantAndExcludesOtherThreads) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);  // a second entry on the same thread must not block
    int shared = 0;
    std::thread other([&] {
        EnterCriticalSection(&section);
        shared = 2;
        LeaveCriticalSection(&section);
    });
    shared = 1;
    LeaveCriticalSection(&section);
    EXPECT_EQ(1, shared) << "still held after one of two leaves";
    LeaveCriticalSection(&section);
    other.join();
    EXPECT_EQ(2, shared);
    DeleteCriticalSection(&section);
}

TEST(StandIn, StringFunctions) {
    char target[8];
    std::memset(target, 'x', sizeof target);
    lstrcpynA(target, "abcdef", 4);
    EXPECT_EQ(std::string("abc\0x", 5), std::string(target, 5));
    EXPECT_EQ(0, lstrcmpA("Path", "Path"));
    EXPECT_NE(0, lstrcmpA("Path", "path"));
    EXPECT_EQ(6, lstrlenA("abcdef"));
}

// Random pieces, refill lengths and injected read and seek faults against
// the file's own bytes: every piece that lies inside the file comes back
// exact, every other one is refused, a piece already held costs no read, and
// a failed refill never leaves stale bytes behind.
TEST(ReadAheadBuffer, ServesExactPiecesThroughFaults) {
    std::vector<uint8_t> content(300000);
    uint32_t state = 12345;
    auto next = [&state](uint32_t below) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % below;
    };
    for (uint8_t& byte : content) byte = static_cast<uint8_t>(next(256));
    char path[64];
    std::snprintf(path, sizeof path, "/tmp/zorv_readahead_%d.bin", static_cast<int>(getpid()));
    FILE* f = std::fopen(path, "wb");
    ASSERT_NE(nullptr, f);
    ASSERT_EQ(content.size(), std::fwrite(content.data(), 1, content.size(), f));
    std::fclose(f);

    const auto before = platform_testing::Live();
    HANDLE file = OpenForReading(path);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    ReadAheadBuffer reader;
    ASSERT_TRUE(StartReadAhead(&reader, file, content.size(), 4096));
    const uint32_t size = static_cast<uint32_t>(content.size());
    for (int step = 0; step < 5000; ++step) {
        // Mostly small pieces at rising offsets, as a listing makes them.
        uint32_t offset = next(4) == 0 ? next(size + 200) : (reader.start + next(6000)) % (size + 200);
        uint32_t count = next(10) == 0 ? next(6000) : next(64);
        if (next(4) == 0 && reader.held > 64) {
            // A piece ending right at, just before or just after the held bytes' end.
            count = 1 + next(64);
            offset = reader.start + reader.held - count + next(3) - 1;
        }
        uint32_t fill = next(3) == 0 ? 0 : next(10000);
        bool inside = count <= 4096 && uint64_t{offset} + count <= size;
        bool held = ReadAheadHolds(reader, offset, count);
        bool faulty = next(20) == 0;
        platform_testing::ResetFaults();
        if (faulty) {
            platform_testing::InjectFault(next(2) ? Call::Read : Call::Seek, 1,
                                          next(2) ? FaultMode::Fail : FaultMode::Short);
        }
        const uint8_t* piece = ReadExactlyAt(&reader, offset, count, fill);
        SCOPED_TRACE(testing::Message() << "step " << step << ": " << count << " at " << offset);
        if (count == 0) continue;
        if (held) {
            EXPECT_EQ(0, platform_testing::CallsMade(Call::Read)) << "a held piece is read again";
        }
        if (!inside) {
            EXPECT_EQ(nullptr, piece);
            continue;
        }
        if (faulty && !held && piece == nullptr) continue;  // the fault hit the refill
        ASSERT_NE(nullptr, piece);
        ASSERT_EQ(0, std::memcmp(piece, content.data() + offset, count));
    }
    platform_testing::ResetFaults();
    EndReadAhead(&reader);
    EndReadAhead(&reader);
    CloseIfOpen(file);
    std::remove(path);
    EXPECT_EQ(before, platform_testing::Live());
}


#ifdef ZORV_CHECK_INVARIANTS
TEST(Invariants, ABrokenOneStopsTheProgramNamingItself) {
    int two = 2;
    EXPECT_DEATH(ZORV_INVARIANT(two + 2 == 5), "invariant broken: two \\+ 2 == 5");
}
#endif

}  // namespace
