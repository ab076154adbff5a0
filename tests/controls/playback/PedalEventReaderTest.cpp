#include "controls/playback/PedalEventReader.h"
#include "controls/playback/PedalEvents.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace kallomir;
using namespace kallomir::test;

namespace {

struct Seen {
    std::vector<std::pair<int, bool>> changes;
    QString lost;
};

void Watch(PedalEventReader& reader, Seen& seen) {
    QObject::connect(&reader, &PedalEventReader::buttonChanged,
                     [&seen](int code, bool down) { seen.changes.emplace_back(code, down); });
    QObject::connect(&reader, &PedalEventReader::lost,
                     [&seen](const QString& why) { seen.lost = why.isEmpty() ? "?" : why; });
}

// Lets the event loop deliver until the condition holds (or a generous limit passes).
// Lets whatever is pending arrive, when nothing in particular is awaited.
void Settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

template <typename Condition>
void Deliver(Condition done) {
    const QDeadlineTimer limit(5000);
    while (!done() && !limit.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void WriteAll(int fd, const QByteArray& bytes) {
    ASSERT_EQ(::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())), bytes.size());
}

}  // namespace

TEST(PedalEventReader, DecodesARecordedStreamFromAFile) {
    // Left down, left up, middle held with key repeats, right down, everything released
    // in one report, then the end of the recording.
    const QByteArray stream =
        Button(BTN_0, true) + Button(BTN_0, false) + Button(BTN_1, true) +
        Records({{EV_KEY, BTN_1, 2}, {EV_SYN, SYN_REPORT, 0}}) + Button(BTN_2, true) +
        Records({{EV_KEY, BTN_1, 0}, {EV_KEY, BTN_2, 0}, {EV_SYN, SYN_REPORT, 0}});
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pedal.events"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(stream);
    file.close();
    PedalEventReader reader(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK));
    Seen seen;
    Watch(reader, seen);
    Deliver([&] { return !seen.lost.isEmpty(); });
    const std::vector<std::pair<int, bool>> expected = {{BTN_0, true},  {BTN_0, false},
                                                        {BTN_1, true},  {BTN_2, true},
                                                        {BTN_1, false}, {BTN_2, false}};
    EXPECT_EQ(seen.changes, expected);
    EXPECT_FALSE(seen.lost.isEmpty());
    EXPECT_FALSE(reader.open());
}

TEST(PedalEventReader, RecordsSplitAcrossReadsAndReportsTakeEffectAtTheirEnd) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK), 0);
    PedalEventReader reader(fds[0]);
    Seen seen;
    Watch(reader, seen);
    const QByteArray down = Button(BTN_1, true);
    WriteAll(fds[1], down.left(30));  // one and a bit records: nothing yet
    Settle();
    EXPECT_TRUE(seen.changes.empty());
    WriteAll(fds[1], down.mid(30, down.size() - 30 - 5));  // still missing the report's end
    reader.readAvailable();
    EXPECT_TRUE(seen.changes.empty());
    WriteAll(fds[1], down.right(5));
    Deliver([&] { return !seen.changes.empty(); });
    EXPECT_EQ(seen.changes, (std::vector<std::pair<int, bool>>{{BTN_1, true}}));

    // Events lost in the kernel: what was held is let go, the broken report is skipped.
    WriteAll(fds[1], Records({{EV_KEY, BTN_2, 1},
                              {EV_SYN, SYN_DROPPED, 0},
                              {EV_KEY, BTN_0, 1},
                              {EV_SYN, SYN_REPORT, 0}}) +
                         Button(BTN_2, true));
    Deliver([&] { return seen.changes.size() >= 3; });
    EXPECT_EQ(seen.changes,
              (std::vector<std::pair<int, bool>>{{BTN_1, true}, {BTN_1, false}, {BTN_2, true}}));

    // The other end goes away (as an unplugged device does): held buttons are let go.
    ::close(fds[1]);
    Deliver([&] { return !seen.lost.isEmpty(); });
    EXPECT_EQ(seen.changes.back(), (std::pair<int, bool>{BTN_2, false}));
    EXPECT_FALSE(reader.open());
}

TEST(PedalEventReader, OneBatchPerReadThroughASocketPair) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, fds), 0);
    PedalEventReader reader(fds[0]);
    Seen seen;
    Watch(reader, seen);
    for (int i = 0; i < 20; ++i) {
        WriteAll(fds[1], Button(BTN_0, i % 2 == 0));
    }
    Deliver([&] { return seen.changes.size() >= 20; });
    ASSERT_EQ(seen.changes.size(), 20u);
    EXPECT_EQ(seen.changes[19], (std::pair<int, bool>{BTN_0, false}));
    ::close(fds[1]);
    Deliver([&] { return !seen.lost.isEmpty(); });
    EXPECT_FALSE(seen.lost.isEmpty());
}
