#include "time_left.h"

#include <algorithm>

namespace cli {

namespace {

// About what writing a file costs beside its bytes: a unit of bytes weighs
// as much as an item in the fit.
constexpr double kBytesPerUnit = 64 * 1024;

}  // namespace

void TimeLeft::Add(double seconds, uint64_t items, uint64_t bytes) {
    if (seconds <= 0 || (items == 0 && bytes == 0)) return;
    const double x = static_cast<double>(items), u = static_cast<double>(bytes) / kBytesPerUnit;
    itemsItems_ += x * x;
    itemsUnits_ += x * u;
    unitsUnits_ += u * u;
    itemsSeconds_ += x * seconds;
    unitsSeconds_ += u * seconds;
    seconds_ += seconds;
}

std::optional<double> TimeLeft::Predict(uint64_t items, uint64_t bytes) const {
    if (seconds_ <= 0) return std::nullopt;
    // A little ridge keeps the fit defined when every step so far had items
    // and bytes in one proportion: the cost then goes to the larger column,
    // the one that can explain it with the smaller coefficient.
    const double ridge = 1e-6 * (itemsItems_ + unitsUnits_);
    const double p = itemsItems_ + ridge, q = itemsUnits_, r = unitsUnits_ + ridge;
    const double determinant = p * r - q * q;
    double perItem = (itemsSeconds_ * r - unitsSeconds_ * q) / determinant;
    double perUnit = (unitsSeconds_ * p - itemsSeconds_ * q) / determinant;
    // Neither can cost less than nothing: refit the other column alone.
    if (perItem < 0) perItem = 0, perUnit = unitsSeconds_ / r;
    if (perUnit < 0) perUnit = 0, perItem = itemsSeconds_ / p;
    return perItem * static_cast<double>(items) + perUnit * (static_cast<double>(bytes) / kBytesPerUnit);
}

}  // namespace cli
