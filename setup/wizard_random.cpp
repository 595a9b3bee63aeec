#include "setup/wizard_random.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <random>

namespace kestrix {

namespace {

std::mt19937_64& generator() {
    static std::mt19937_64 engine;
    return engine;
}

double secondsSinceMidnight() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    const auto fraction =
        std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(seconds));
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + fraction.count();
}

}  // namespace

void seedWizardRandom(double seed) {
    std::uint64_t bits = 0;
    static_assert(sizeof bits == sizeof seed);
    std::memcpy(&bits, &seed, sizeof bits);
    generator().seed(bits);
}

double wizardRandom() {
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator());
}

void seedWizardRandomAtStart() {
    const double seconds = secondsSinceMidnight();
    seedWizardRandom(seconds);
    const double first = wizardRandom();
    seedWizardRandom(seconds * first);
}

}  // namespace kestrix
