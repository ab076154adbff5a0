// One main for every test executable: the Qt application object living for the whole run,
// then GoogleTest. Core tests get a QCoreApplication, so nothing they link can need widgets;
// window tests a QApplication, offscreen unless told otherwise.
#ifdef KALLOMIR_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
QtMessageHandler previousHandler = nullptr;
// The offscreen platform warns about every window feature it lacks; that noise hides real output.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QStringLiteral("This plugin does not support")))
        return;
    if (previousHandler)
        previousHandler(type, context, message);
}
}  // namespace

int main(int argc, char** argv) {
    previousHandler = qInstallMessageHandler(QuietHandler);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("KALLOMIR_TEST_DATA"))
        qputenv("KALLOMIR_TEST_DATA", KALLOMIR_TEST_DATA_DEFAULT);
    // A private runtime folder keeps Qt's warnings quiet and tests apart from a running program.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") ||
        !QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).exists()) {
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    }
    TestApplication app(argc, argv);
    TestApplication::setApplicationName(QStringLiteral("kallomir"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
