// The progress line's time-left guess, on the shapes of work that fooled a
// guess from bytes alone.
#include <gtest/gtest.h>

#include "time_left.h"

namespace {

constexpr uint64_t kMiB = 1 << 20;

// Steps as the extraction reports them: bytes in 4 MiB pieces while an
// entry is written, then the entry itself with what remained of it.
void Entry(cli::TimeLeft& model, uint64_t bytes, double secondsPerByte, double secondsPerEntry) {
    uint64_t left = bytes;
    while (left > 4 * kMiB) {
        model.Add(4 * kMiB * secondsPerByte, 0, 4 * kMiB);
        left -= 4 * kMiB;
    }
    model.Add(static_cast<double>(left) * secondsPerByte + secondsPerEntry, 1, left);
}

TEST(TimeLeft, NothingToSayBeforeTheFirstStep) {
    cli::TimeLeft model;
    EXPECT_FALSE(model.Predict(10, 10).has_value());
    model.Add(0, 5, 5);
    EXPECT_FALSE(model.Predict(10, 10).has_value()) << "a step that took no time tells nothing";
}

TEST(TimeLeft, FitsEntriesAndBytesOfWorkAlike) {
    // 1 ms per entry, 1 ns per byte (about 1 GB/s): entries of 1 MiB.
    cli::TimeLeft model;
    for (int i = 0; i < 50; ++i) Entry(model, kMiB, 1e-9, 1e-3);
    const double truth = 50 * (1e-3 + kMiB * 1e-9);
    EXPECT_NEAR(truth, *model.Predict(50, 50 * kMiB), truth * 0.05);
}

TEST(TimeLeft, OneLargeEntryGoesByItsBytes) {
    cli::TimeLeft model;
    for (int piece = 0; piece < 100; ++piece) model.Add(4e-3, 0, 4 * kMiB);  // 1 GB/s
    EXPECT_NEAR(0.4, *model.Predict(1, 400 * kMiB), 0.4 * 0.05);
}

TEST(TimeLeft, ManyTinyEntriesBeforeLargeOnes) {
    // 10,000 entries of 100 bytes took 10 s; ten of 300 MiB remain, which
    // at 1 GB/s take about 3 s. From bytes alone: about 9 hours.
    cli::TimeLeft model;
    for (int i = 0; i < 10000; ++i) Entry(model, 100, 1e-9, 1e-3);
    const double bytesAlone = 10.0 / (10000 * 100) * (10 * 300 * kMiB);
    const double truth = 10 * (1e-3 + 300 * kMiB * 1e-9);
    const double before = *model.Predict(10, 10 * 300 * kMiB);
    EXPECT_LT(before, bytesAlone / 100) << "the tiny entries' time is theirs, not their bytes'";
    // Once a piece of a large entry was seen, the bytes have their price.
    model.Add(4 * kMiB * 1e-9, 0, 4 * kMiB);
    EXPECT_NEAR(truth, *model.Predict(10, 10 * 300 * kMiB - 4 * kMiB), truth * 0.1);
}

TEST(TimeLeft, LargeEntriesBeforeManyTinyOnes) {
    // Ten entries of 100 MiB, then 10,000 tiny ones at 1 ms each remain.
    cli::TimeLeft model;
    for (int i = 0; i < 10; ++i) Entry(model, 100 * kMiB, 1e-9, 1e-3);
    const double truth = 10000 * (1e-3 + 100 * 1e-9);
    EXPECT_NEAR(truth, *model.Predict(10000, 10000 * 100), truth * 0.2);
}

}  // namespace
