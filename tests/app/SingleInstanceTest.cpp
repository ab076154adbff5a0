#include "core/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace kallomir;

namespace {

TEST(SingleInstance, SecondClaimFailsAndAsksTheFirstToComeForward) {
    QTemporaryDir runtime;
    SingleInstance first(runtime.path());
    ASSERT_TRUE(first.claim());
    QSignalSpy raised(&first, &SingleInstance::activationRequested);
    SingleInstance second(runtime.path());
    EXPECT_FALSE(second.claim());
    EXPECT_TRUE(raised.wait(2000));
}

// The real program started twice: the second start ends at once, before it reads or writes
// any configuration or settings, and the first keeps running.
TEST(SingleInstance, SecondProgramEndsWithoutTouchingConfiguration) {
    QTemporaryDir root;
    const QString homeA = root.filePath(QStringLiteral("a"));
    const QString homeB = root.filePath(QStringLiteral("b"));
    const QString configA = root.filePath(QStringLiteral("cfg-a"));
    const QString configB = root.filePath(QStringLiteral("cfg-b"));
    QDir().mkpath(homeA);
    QDir().mkpath(homeB);
    QFile password(homeA + QStringLiteral("/2001Kallomir.Emx"));
    ASSERT_TRUE(password.open(QIODevice::WriteOnly));
    password.write("x\n");
    password.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("HOME"), root.path());
    QDir().mkpath(root.filePath(QStringLiteral("run")));

    QProcess first;
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configA);
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(KALLOMIR_BINARY), {QStringLiteral("--home"), homeA});
    ASSERT_TRUE(first.waitForStarted());
    // Wait until the first one has taken the lock and written its configuration.
    for (int i = 0; i < 200 && !QFileInfo::exists(homeA + QStringLiteral("/RIZEDUZO.INI")); ++i)
        QThread::msleep(25);
    ASSERT_TRUE(QFileInfo::exists(homeA + QStringLiteral("/RIZEDUZO.INI")));

    QProcess second;
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configB);
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(KALLOMIR_BINARY), {QStringLiteral("--home"), homeB});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(QDir(homeB).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(configB));
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();
}

}  // namespace
