#include "core/RuntimeError.h"
#include "support/ManualClock.h"
#include "support/TestAudioSystem.h"

#include <gtest/gtest.h>

namespace kallomir {
namespace {

// Other subsystems' tests lean on these devices keeping exact pace with the clock.
TEST(TestAudioSystemTest, DevicesMoveInStepWithTheClock) {
    ManualClock clock;
    const QDateTime start = clock.now();
    TestAudioSystem audio(&clock);
    audio.addInput({QStringLiteral("In"), MonoSamples{11025, {1, 2, 3, 4, 5}}, 0x0C});
    audio.addOutput({QStringLiteral("Out"), 0xFF});

    std::vector<std::int16_t> heard;
    auto input = audio.openInput(0, 44100, [&](std::span<const std::int16_t> s) {
        heard.insert(heard.end(), s.begin(), s.end());
    });
    EXPECT_EQ(input->sampleRate(), 11025) << "a card with a sound runs at the sound's rate";
    std::size_t asked = 0;
    auto output = audio.openOutput(0, 11025, 2, [&](std::span<std::int16_t> buffer) {
        asked += buffer.size();
        std::fill(buffer.begin(), buffer.end(), std::int16_t{7});
        return buffer.size() / 2;
    });
    EXPECT_EQ(audio.openInputStreams(), 1);
    EXPECT_EQ(audio.openOutputStreams(), 1);

    audio.advance(1000);  // 11025 / 50 per piece is fractional: the fraction carries over
    EXPECT_EQ(clock.now(), start.addMSecs(1000));
    ASSERT_EQ(heard.size(), 11025u);
    EXPECT_EQ(heard[4], 5);
    EXPECT_EQ(heard[5], 0) << "silence after the sound";
    EXPECT_EQ(asked, 2u * 11025u);
    EXPECT_EQ(audio.played(0).size(), 2u * 11025u);

    output->stop();
    input.reset();
    audio.advance(100);
    EXPECT_EQ(heard.size(), 11025u);
    EXPECT_EQ(audio.played(0).size(), 2u * 11025u);
    EXPECT_EQ(audio.openInputStreams() + audio.openOutputStreams(), 0);
    EXPECT_EQ(audio.inputFormats(0), 0x0Cu);
    EXPECT_EQ(audio.inputFormats(1), 0u);
    EXPECT_THROW(audio.openInput(1, 8000, {}), RuntimeError);
}

}  // namespace
}  // namespace kallomir
