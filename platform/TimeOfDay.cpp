#include "TimeOfDay.h"

namespace tolvanex {

double SecondsOfDay(unsigned hour, unsigned minute, unsigned second, unsigned milliseconds) {
    return hour * 3600.0 + minute * 60.0 + second + milliseconds / 1000.0;
}

} // namespace tolvanex
