// The time-left guess of the progress line. Work is entries (or files) and
// bytes, and each costs time of its own: creating, naming and renaming a
// file costs as much whether it holds ten bytes or none. So the time so
// far is modelled as a * items + b * bytes, fitted to the steps done, and
// what is left is priced by the same model. Bytes alone said minutes where
// seconds were left when many tiny entries came before a few large ones.
#pragma once

#include <cstdint>
#include <optional>

namespace cli {

class TimeLeft {
public:
    // One step of the work: `items` and `bytes` done in `seconds`.
    void Add(double seconds, uint64_t items, uint64_t bytes);
    // The seconds the remaining items and bytes will take; nullopt until a
    // step with some time in it was seen.
    std::optional<double> Predict(uint64_t items, uint64_t bytes) const;

private:
    // Least squares over the steps: the sums of the normal equations, with
    // bytes counted in units of kBytesPerUnit so that both columns weigh
    // alike.
    double itemsItems_ = 0, itemsUnits_ = 0, unitsUnits_ = 0, itemsSeconds_ = 0, unitsSeconds_ = 0;
    double seconds_ = 0;
};

}  // namespace cli
