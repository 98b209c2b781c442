// Reads what bench/av_sync_bench.sh extracted from a recording and from the viewers:
//
//   av_sync_analyse sync VIDEO_CSV AUDIO_S16_MONO AUDIO_START_SECONDS SAMPLE_RATE
//       VIDEO_CSV holds "seconds,luma" per frame; the sound is the decoded track as
//       mono samples, counted from AUDIO_START_SECONDS on (as a player hears them).
//       Prints each flash with its beep, audio - video in ms, and the mean, spread
//       and drift (a least-squares line through the offsets, in ms per minute).
//   av_sync_analyse latency SCREEN_CSV VIEWER_CSV
//       both "seconds,luma" on the same wall clock: how long after a flash appeared
//       on the screen a viewer of the server decoded it (median, p90).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr double kBrightLuma = 128;     // between black (16) and white (235)
constexpr double kQuietBefore = 1.0;    // seconds without a flash or beep before an onset
constexpr double kBeepThreshold = 0.3;  // of the loudest sample
constexpr double kPairWindow = 1.0;     // seconds between a flash and its beep at most

// The times at which the luma rises above kBrightLuma after a dark second.
std::vector<double> FlashOnsets(const char* path)
{
    std::ifstream in(path);
    std::vector<double> onsets;
    double lastBright = -1e9;
    std::string line;
    while (std::getline(in, line)) {
        double seconds = 0, luma = 0;
        if (std::sscanf(line.c_str(), "%lf,%lf", &seconds, &luma) != 2 || luma < kBrightLuma) continue;
        if (seconds - lastBright > kQuietBefore) onsets.push_back(seconds);
        lastBright = seconds;
    }
    return onsets;
}

std::vector<double> BeepOnsets(const char* path, double start, double rate)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::int16_t> samples;
    std::int16_t sample = 0;
    while (in.read(reinterpret_cast<char*>(&sample), sizeof sample)) samples.push_back(sample);
    int loudest = 1;
    for (const std::int16_t s : samples) loudest = std::max(loudest, std::abs(int(s)));
    const double threshold = kBeepThreshold * loudest;
    std::vector<double> onsets;
    double lastLoud = -1e9;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(int(samples[i])) < threshold) continue;
        const double seconds = start + double(i) / rate;
        if (seconds - lastLoud > kQuietBefore) onsets.push_back(seconds);
        lastLoud = seconds;
    }
    return onsets;
}

// The first of `times` within [from, from + window], or NaN.
double FirstWithin(const std::vector<double>& times, double from, double window)
{
    const auto it = std::lower_bound(times.begin(), times.end(), from);
    return it != times.end() && *it <= from + window ? *it : NAN;
}

double Mean(const std::vector<double>& values)
{
    double sum = 0;
    for (const double v : values) sum += v;
    return values.empty() ? NAN : sum / values.size();
}

double Spread(const std::vector<double>& values)
{
    const double mean = Mean(values);
    double sum = 0;
    for (const double v : values) sum += (v - mean) * (v - mean);
    return values.size() < 2 ? NAN : std::sqrt(sum / (values.size() - 1));
}

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(fraction * values.size()))];
}

// Slope of the least-squares line through (x, y).
double Slope(const std::vector<double>& x, const std::vector<double>& y)
{
    const double mx = Mean(x), my = Mean(y);
    double sxy = 0, sxx = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
    }
    return sxx > 0 ? sxy / sxx : NAN;
}

int Sync(char** argv)
{
    const std::vector<double> flashes = FlashOnsets(argv[0]);
    const std::vector<double> beeps = BeepOnsets(argv[1], std::atof(argv[2]), std::atof(argv[3]));
    std::vector<double> minutes, offsets;
    for (const double flash : flashes) {
        const double beep = FirstWithin(beeps, flash - kPairWindow, 2 * kPairWindow);
        if (std::isnan(beep)) continue;
        minutes.push_back(flash / 60);
        offsets.push_back((beep - flash) * 1000);
        std::printf("event %.3f s %+.1f ms\n", flash, offsets.back());
    }
    std::printf("flashes %zu beeps %zu paired %zu\n", flashes.size(), beeps.size(), offsets.size());
    std::printf("mean %+.1f ms\nspread %.1f ms\nmin %+.1f ms\nmax %+.1f ms\ndrift %+.2f ms/min\n", Mean(offsets),
                Spread(offsets), offsets.empty() ? NAN : *std::min_element(offsets.begin(), offsets.end()),
                offsets.empty() ? NAN : *std::max_element(offsets.begin(), offsets.end()), Slope(minutes, offsets));
    return offsets.empty() ? 1 : 0;
}

int Latency(char** argv)
{
    const std::vector<double> shown = FlashOnsets(argv[0]);
    const std::vector<double> seen = FlashOnsets(argv[1]);
    std::vector<double> latencies;
    for (const double flash : shown) {
        const double viewer = FirstWithin(seen, flash, kPairWindow);
        if (!std::isnan(viewer)) latencies.push_back((viewer - flash) * 1000);
    }
    std::printf("flashes %zu seen %zu\nlatency_median %.0f ms\nlatency_p90 %.0f ms\n", shown.size(), latencies.size(),
                Percentile(latencies, 0.5), Percentile(latencies, 0.9));
    return latencies.empty() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && std::strcmp(argv[1], "sync") == 0) return Sync(argv + 2);
    if (argc == 4 && std::strcmp(argv[1], "latency") == 0) return Latency(argv + 2);
    std::fprintf(stderr, "usage: see the head of av_sync_analyse.cpp\n");
    return 2;
}
