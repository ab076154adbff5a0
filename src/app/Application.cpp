#include "app/Application.h"

#include "KallomirVersion.h"
#include "app/AppIcon.h"
#include "app/AppWiring.h"
#include "app/CatalogueCopyCommand.h"
#include "app/CommandLine.h"
#include "app/FrmSplash.h"
#include "app/QtMessageBoxService.h"
#include "app/QtProcessControl.h"
#include "app/WindowRegistry.h"
#include "core/AppContext.h"
#include "core/Clock.h"
#include "core/GeneralSound.h"
#include "core/HomeFolder.h"
#include "core/SingleInstance.h"
#include "evidence/FilePolicy.h"
#include "evidence/VerifyCommand.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

namespace kallomir {

bool InstallQtItalian(QCoreApplication& app, QTranslator& translator) {
    if (!translator.load(QLocale(QLocale::Italian, QLocale::Italy), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return app.installTranslator(&translator);
}

namespace {

// The verify commands run without a window (and without a display), beside a running
// program if need be: they only read.
int RunVerification(int argc, char** argv, const CommandLine& options) {
    QCoreApplication app(argc, argv);
    if (!options.verifyExport.isEmpty())
        return RunVerifyExportCommand(options.verifyExport, stdout);
    if (!options.home.isEmpty() && !QFileInfo(options.home).isDir())
        return RunVerifyCommand(options.home, QDir::homePath(), stdout);
    const HomeFolderResult home = ResolveHomeFolder(options.home);
    if (!home.error.isEmpty()) {
        std::fprintf(stderr, "kallomir: %s\n", qPrintable(home.error));
        return kVerifyCannot;
    }
    return RunVerifyCommand(home.path, QDir::homePath(), stdout);
}

}  // namespace

int RunApplication(int argc, char** argv) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    // A command that needs no window runs before anything needs a display.
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "--catalogue-copy-to-server") == 0)
            return RunCatalogueCopyCommand(argc, argv);
    {
        const CommandLine early = ParseCommandLine(ArgumentsOf(argc, argv));
        if (early.error.isEmpty() && !early.showHelp && !early.showVersion &&
            (early.verify || !early.verifyExport.isEmpty()))
            return RunVerification(argc, argv, early);
    }
    QApplication app(argc, argv);
    // Before the first window or message box. Without the translation Qt's texts stay English.
    QTranslator qtItalian;
    InstallQtItalian(app, qtItalian);
    // The settings store is addressed by the executable's name.
    QApplication::setApplicationName(QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName());
    QApplication::setApplicationVersion(
        QStringLiteral("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision));

    QApplication::setWindowIcon(AppIcon());
    const CommandLine options = ParseCommandLine(QApplication::arguments());
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "kallomir: %s\n\n%s", qPrintable(options.error),
                     qPrintable(options.helpText));
        return 2;
    }
    if (options.showHelp) {
        std::fputs(qPrintable(options.helpText), stdout);
        return 0;
    }
    if (options.showVersion) {
        std::printf("%s\n", qPrintable(VersionText()));
        return 0;
    }

    // LimitaAvvio: a second start hands over to the first and ends before reading any
    // configuration or settings.
    SingleInstance instance(SingleInstance::DefaultRuntimeDir());
    if (!instance.claim())
        return 0;

    // Whatever the program creates is the owner's alone until the configuration says which
    // group may read it too.
    ApplyFilePolicy(FilePolicy{});
    const HomeFolderResult home = ResolveHomeFolder(options.home);
    QtMessageBoxService boxes;
    if (!home.error.isEmpty()) {
        boxes.show(home.error, kApplicationTitle, MsgButtons::Ok, MsgIcon::Critical);
        return 1;
    }
    const FilePolicy files =
        LoadFilePolicy(AppFolderOf(home.path) + QStringLiteral("RIZEDUZO.INI"));
    ApplyFilePolicy(files);
    const QString shared = ShareWithGroup(home.path);
    if (!files.problem.isEmpty() || !shared.isEmpty())
        boxes.show(files.problem.isEmpty() ? shared : files.problem, kApplicationTitle,
                   MsgButtons::Ok, MsgIcon::Exclamation);

    GeneralSound config;
    IniSettingsStore store(IniSettingsStore::DefaultRoot());
    SystemClock clock;
    QtProcessControl process;
    AppContext ctx(config, store, boxes, clock, process, home.path,
                   QApplication::applicationName());

    AppWiring wiring(ctx, options);
    if (!wiring.error().isEmpty()) {
        boxes.show(wiring.error(), kApplicationTitle, MsgButtons::Ok, MsgIcon::Critical);
        return 1;
    }
    if (!wiring.warnings().isEmpty())
        boxes.show(wiring.warnings().join(QStringLiteral("\n\n")), kApplicationTitle,
                   MsgButtons::Ok, MsgIcon::Exclamation);
    WindowRegistry forms(ctx, wiring.windowFactories());
    QObject::connect(&instance, &SingleInstance::activationRequested, &forms,
                     &WindowRegistry::bringToFront);

    auto* splash = new FrmSplash(ctx);
    splash->show();
    splash->load();
    if (options.startupProbe) {
        QApplication::processEvents();
        const bool loginShown = forms.loginWindow() && forms.loginWindow()->isVisible();
        std::printf("startup-to-login-ms %lld %s at-epoch-ms %lld\n",
                    static_cast<long long>(sinceStart.elapsed()),
                    loginShown ? "login-shown" : "no-login",
                    static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
        std::fflush(stdout);
        return loginShown ? 0 : 1;
    }
    if (process.ended())
        return process.exitCode();
    const int code = QApplication::exec();
    return process.ended() ? process.exitCode() : code;
}

}  // namespace kallomir
