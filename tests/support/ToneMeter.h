// Measures sound: how loud, and at which pitch (from zero crossings, enough for
// telling a pure tone from silence).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace test_support {

constexpr int kMeterRate = 48000;  // mono samples per second, everywhere here
constexpr double kToneHz = 1000;   // the pitch of TonePlayer

struct Level {
    double rms = 0;        // 0..1 of full scale
    double frequency = 0;  // Hz
};

Level Measure(std::span<const std::int16_t> samples);

// Records a quarter of a second from a source of the test sound server.
Level MeasureSource(const std::string& source);

// The audio track of a media file, decoded to mono samples at kMeterRate.
std::vector<std::int16_t> DecodeAudio(const std::string& file);

}  // namespace test_support
