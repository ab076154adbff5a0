#include "player/HeardCoverage.h"
#include "player/HeardCoverageStore.h"
#include "player/PlaybackRules.h"
#include "player/Timestamps.h"
#include "player/TranscriptionKeys.h"
#include "support/MemorySettingsStore.h"

#include "core/RuntimeError.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kallomir;

TEST(MovedPosition, StaysInsideTheRecordingOnWholeFrames) {
    struct Case {
        std::int64_t from;
        double seconds;
        std::int64_t expected;
    };
    // 8000 bytes per second, 4-byte frames, 40 000 bytes (5 s): the last frame starts at 39 996.
    const Case cases[] = {
        {24000, -2, 8000},   // 3 s back 2 s
        {8000, -2, 0},       // 1 s: no earlier than the start
        {0, -2, 0},          // at the start
        {24000, 0, 24000},   // no auto-rewind set
        {24000, 3, 39996},   // forward past the end: the last frame
        {40000, -2, 23996},  // paused at the very end: back from the last frame
        {39996, -10, 0},      {10002, -1, 2000},  // a position between frames snaps down to one
        {24000, -0.5, 20000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MovedPosition(c.from, c.seconds, 8000, 40000, 4), c.expected)
            << c.from << " " << c.seconds;
    }
    EXPECT_EQ(MovedPosition(100, -1, 8000, 0, 4), 0);  // empty recording
}

TEST(Tempo, LabelSpeedAndRange) {
    EXPECT_EQ(TempoLabel(10), QStringLiteral("1,0×"));
    EXPECT_EQ(TempoLabel(5), QStringLiteral("0,5×"));
    EXPECT_EQ(TempoLabel(17), QStringLiteral("1,7×"));
    EXPECT_EQ(ClampTempoTenths(3), 5);
    EXPECT_EQ(ClampTempoTenths(21), 20);
    EXPECT_DOUBLE_EQ(EffectiveSpeed(8000, 8000, 5), 0.5);
    EXPECT_DOUBLE_EQ(EffectiveSpeed(80000, 8000, 5), 5.0);  // Fast X 10 at half tempo
    EXPECT_DOUBLE_EQ(EffectiveSpeed(11020, 11025, 10), 11020.0 / 11025.0);
}

TEST(Timestamps, FormatFindAndPointAt) {
    EXPECT_EQ(FormatTimestamp(0), QStringLiteral("[00:00:00]"));
    EXPECT_EQ(FormatTimestamp(3725), QStringLiteral("[01:02:05]"));
    EXPECT_EQ(FormatTimestamp(100 * 3600 + 1), QStringLiteral("[100:00:01]"));
    EXPECT_EQ(FormatTimestamp(-4), QStringLiteral("[00:00:00]"));

    const QString text = QStringLiteral("A: pronto [00:01:05] B: chi [1:2:3] parla? [02:00:59][x]");
    const auto marks = FindTimestamps(text);
    ASSERT_EQ(marks.size(), 2u);  // "[1:2:3]" is no time mark
    EXPECT_EQ(marks[0].start, 10);
    EXPECT_EQ(marks[0].length, 10);
    EXPECT_EQ(marks[0].seconds, 65);
    EXPECT_EQ(marks[1].seconds, 2 * 3600 + 59);
    EXPECT_TRUE(FindTimestamps(QStringLiteral("[00:61:00] [00:00:60]")).empty());

    struct Case {
        int position;
        std::optional<std::int64_t> seconds;
    };
    for (const Case& c : {Case{9, std::nullopt}, Case{10, 65}, Case{15, 65}, Case{20, 65},
                          Case{21, std::nullopt}, Case{43, 7259}, Case{0, std::nullopt}}) {
        const auto at = TimestampAt(text, c.position);
        EXPECT_EQ(at ? std::optional<std::int64_t>(at->seconds) : std::nullopt, c.seconds)
            << c.position;
    }
}

TEST(HeardCoverage, StretchesMergeWhenTheyOverlapOrTouch) {
    using S = HeardCoverage::Stretch;
    struct Case {
        std::vector<std::pair<int, int>> added;
        std::vector<S> expected;
    };
    const Case cases[] = {
        {{{0, 10}, {20, 30}}, {S{0, 10}, S{20, 30}}},
        {{{20, 30}, {0, 10}}, {S{0, 10}, S{20, 30}}},  // any order
        {{{0, 10}, {5, 25}}, {S{0, 25}}},              // overlap
        {{{0, 10}, {10, 20}}, {S{0, 20}}},             // touching
        {{{10, 20}, {0, 10}}, {S{0, 20}}},
        {{{0, 10}, {20, 30}, {40, 50}, {5, 45}}, {S{0, 50}}},  // one bridges three
        {{{0, 100}, {20, 30}}, {S{0, 100}}},                   // inside
        {{{30, 40}, {0, 10}, {15, 20}, {12, 16}}, {S{0, 10}, S{12, 20}, S{30, 40}}},
        {{{5, 5}, {9, 3}}, {}},  // empty or reversed: nothing
    };
    for (const Case& c : cases) {
        HeardCoverage coverage;
        for (auto [from, to] : c.added) coverage.add(from, to);
        EXPECT_EQ(coverage.stretches(), c.expected);
        EXPECT_EQ(HeardCoverage::fromText(coverage.toText()), coverage);
    }
    HeardCoverage c;
    c.add(0, 949);
    c.add(2000, 2500);
    EXPECT_EQ(c.total(), 1449);
    EXPECT_EQ(c.percentOf(1000), 94);  // 94.9 % is not yet 95
    EXPECT_EQ(c.percentOf(0), 0);
    EXPECT_EQ(c.percentOf(950), 99);  // what lies past the end does not count
    EXPECT_EQ(HeardCoverage::fromText(QStringLiteral("0-10;x;5-;20-30;-4-8")).toText(),
              QStringLiteral("0-10;20-30"));
}

TEST(HeardTracker, OnlyContinuousListeningAtNormalSpeedOrSlowerCounts) {
    HeardTracker t;
    t.observe(1000, true);  // the first reading only sets the start
    EXPECT_TRUE(t.coverage().empty());
    t.observe(1100, true);
    t.observe(1200, true);
    EXPECT_EQ(t.coverage().toText(), QStringLiteral("1000-1200"));
    EXPECT_TRUE(t.takeChanged());
    EXPECT_FALSE(t.takeChanged());
    t.observe(1700, false);  // fast: not listened to
    t.observe(2200, true);
    t.observe(2300, true);
    EXPECT_EQ(t.coverage().toText(), QStringLiteral("1000-1200;2200-2300"));
    t.interrupt();  // a jump back
    t.observe(500, true);
    t.observe(600, true);
    t.observe(9000, true);  // a leap the transport did not report: not listening
    t.observe(9100, true);
    EXPECT_EQ(t.coverage().toText(), QStringLiteral("500-600;1000-1200;2200-2300;9000-9100"));
    t.reachedEnd(9300);
    EXPECT_EQ(t.coverage().stretches().back().to, 9300);
    t.reachedEnd(9900);  // nothing playing any more
    EXPECT_EQ(t.coverage().stretches().back().to, 9300);
}

TEST(HeardCoverageStore, KeepsEachRecordingsCoverageAcrossReopening) {
    QTemporaryDir dir;
    const auto store = HeardCoverageStore::InFolder(dir.path());
    EXPECT_TRUE(store.load(QStringLiteral("/r/a.Ems")).empty());
    HeardCoverage a;
    a.add(0, 5000);
    HeardCoverage b;
    b.add(100, 200);
    store.save(QStringLiteral("/r/a.Ems"), a);
    store.save(QStringLiteral("/r/b.Ems"), b);
    a.add(7000, 9000);
    store.save(QStringLiteral("/r/./a.Ems"), a);  // the same file, however it is written
    const auto reopened = HeardCoverageStore::InFolder(dir.path());
    EXPECT_EQ(reopened.load(QStringLiteral("/r/a.Ems")), a);
    EXPECT_EQ(reopened.load(QStringLiteral("/r/b.Ems")), b);

    // A file that is no database is reported, never silently ignored.
    const QString bad = dir.filePath(QStringLiteral("bad.db"));
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    EXPECT_THROW(HeardCoverageStore(bad).save(QStringLiteral("/r/a.Ems"), a), RuntimeError);
    EXPECT_THROW(HeardCoverageStore(dir.filePath(QStringLiteral("no/such/dir/x.db")))
                     .load(QStringLiteral("/r/a.Ems")),
                 RuntimeError);
}

TEST(TranscriptionKeys, DefaultsStoredValuesAndRefusals) {
    MemorySettingsStore store;
    UserSettings settings(store, QStringLiteral("kallomir"));
    const TranscriptionSettings defaults = TranscriptionSettings::Load(settings);
    EXPECT_EQ(defaults, TranscriptionSettings::Defaults());
    EXPECT_EQ(defaults.key(TranscriptionAction::PlayPause), QKeySequence(Qt::Key_F4));
    EXPECT_EQ(defaults.autoRewindSeconds, 2);
    EXPECT_EQ(defaults.pedal[1], PedalAction::HoldToPlay);
    EXPECT_TRUE(SettingsProblem(defaults).isEmpty());

    TranscriptionSettings mine = defaults;
    mine.keys[static_cast<size_t>(TranscriptionAction::InsertTimestamp)] =
        QKeySequence(QStringLiteral("Ctrl+T"));
    mine.autoRewindSeconds = 0;
    mine.tempoTenths = 7;
    mine.pedalDevice = QStringLiteral("/dev/input/by-id/usb-VEC_Footpedal-event-if00");
    mine.pedal = {PedalAction::Slower, PedalAction::PlayPause, PedalAction::Faster};
    mine.save(settings);
    EXPECT_EQ(TranscriptionSettings::Load(settings), mine);
    EXPECT_EQ(settings.get(QStringLiteral("KeyTimestamp"), {}), QStringLiteral("Ctrl+T"));

    // Values edited by hand into nonsense fall back one by one.
    settings.save(QStringLiteral("AutoRewind"), QStringLiteral("11"));
    settings.save(QStringLiteral("Velocita"), QStringLiteral("due"));
    settings.save(QStringLiteral("PedalLeft"), QStringLiteral("99"));
    settings.save(QStringLiteral("KeyBack"), QStringLiteral("A"));
    const TranscriptionSettings repaired = TranscriptionSettings::Load(settings);
    EXPECT_EQ(repaired.autoRewindSeconds, 2);
    EXPECT_EQ(repaired.tempoTenths, 10);
    EXPECT_EQ(repaired.pedal[0], PedalAction::Back);
    EXPECT_EQ(repaired.key(TranscriptionAction::Back), QKeySequence(Qt::Key_F7));
    EXPECT_EQ(repaired.key(TranscriptionAction::InsertTimestamp),
              QKeySequence(QStringLiteral("Ctrl+T")));

    struct Case {
        const char* key;
        bool usable;
    };
    for (const Case& c :
         {Case{"F9", true}, Case{"Shift+F3", true}, Case{"Ctrl+T", true}, Case{"Alt+J", true},
          Case{"Ctrl+Shift+Space", true}, Case{"A", false}, Case{"Shift+A", false},
          Case{"5", false}, Case{"Space", false}, Case{"Ctrl+C", false}, Case{"Ctrl+V", false},
          Case{"Ctrl+Z", false}, Case{"Ctrl+A", false}, Case{"Ctrl+Left", false},
          Case{"Ctrl+End", false}, Case{"", false}, Case{"F4, F5", false}}) {
        EXPECT_EQ(KeyProblem(QKeySequence(QString::fromLatin1(c.key))).isEmpty(), c.usable)
            << c.key;
    }
    TranscriptionSettings twice = defaults;
    twice.keys[static_cast<size_t>(TranscriptionAction::Faster)] = QKeySequence(Qt::Key_F4);
    EXPECT_TRUE(SettingsProblem(twice).contains(QStringLiteral("Ascolta / Pausa")));
    TranscriptionSettings far = defaults;
    far.jumpSeconds = 31;
    EXPECT_FALSE(SettingsProblem(far).isEmpty());
}
