// One main for every test executable: a QApplication (offscreen unless told otherwise)
// living for the whole run, then GoogleTest.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
QtMessageHandler previousHandler = nullptr;
// The offscreen platform warns about every window feature it lacks; that noise hides real output.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QStringLiteral("This plugin does not support"))) return;
    if (previousHandler) previousHandler(type, context, message);
}
}  // namespace

int main(int argc, char** argv) {
    previousHandler = qInstallMessageHandler(QuietHandler);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // A private runtime folder keeps Qt's warnings quiet and tests apart from a running program.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") ||
        !QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).exists()) {
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kallomir"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
