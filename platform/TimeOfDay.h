// The time of day as the pause reads it, kept apart from the Windows calls so that the same
// arithmetic runs in the tests.
#pragma once

namespace tolvanex {

constexpr double SecondsPerDay = 86400.0;

// Seconds since midnight, with the milliseconds as a fraction, for a clock time of day.
double SecondsOfDay(unsigned hour, unsigned minute, unsigned second, unsigned milliseconds);

} // namespace tolvanex
