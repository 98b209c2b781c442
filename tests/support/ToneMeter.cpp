#include "support/ToneMeter.h"

#include "support/Command.h"

#include <cmath>
#include <cstdio>

namespace test_support {

namespace {

std::vector<std::int16_t> ReadSamples(const std::string& command, std::size_t limit)
{
    const CommandPipe pipe = ReadCommand(command);
    if (!pipe) return {};
    std::vector<std::int16_t> samples(limit);
    samples.resize(std::fread(samples.data(), sizeof(std::int16_t), samples.size(), pipe.get()));
    return samples;
}

}  // namespace

Level Measure(std::span<const std::int16_t> samples)
{
    if (samples.empty()) return {};
    double sum = 0;
    int crossings = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        sum += double(samples[i]) * samples[i];
        if (i > 0 && (samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
    }
    const double seconds = double(samples.size()) / kMeterRate;
    return {std::sqrt(sum / samples.size()) / 32768.0, crossings / seconds / 2};
}

Level MeasureSource(const std::string& source)
{
    // A low latency asks the sink for small blocks, so the first sound comes at once.
    const auto samples = ReadSamples(
        "parec --raw --format=s16le --channels=1 --rate=48000 --latency-msec=20 -d " + source + " 2>/dev/null",
        kMeterRate / 4);
    return samples.size() == kMeterRate / 4 ? Measure(samples) : Level{};
}

std::vector<std::int16_t> DecodeAudio(const std::string& file)
{
    return ReadSamples("ffmpeg -v error -i '" + file + "' -vn -ac 1 -ar 48000 -f s16le - 2>/dev/null",
                       std::size_t(kMeterRate) * 600);
}

}  // namespace test_support
