#pragma once

#include "app/WindowRegistry.h"

#include <QStringList>

#include <memory>

namespace kallomir {

struct AppContext;
struct CommandLine;

// The one place where the real implementations of every outside interface are chosen:
// line devices, audio devices, mixer, dialogs and the windows of each subsystem.
class AppWiring {
public:
    AppWiring(AppContext& ctx, const CommandLine& options);
    ~AppWiring();

    WindowRegistry::Factories windowFactories() const;
    // Problems found while wiring (for example a scenario file that does not parse).
    QString error() const { return error_; }
    // What the operator should know but that does not stop the program (a line setting that
    // was ignored, a password file others can read).
    const QStringList& warnings() const { return warnings_; }

private:
    struct Devices;
    std::unique_ptr<Devices> devices_;
    QString error_;
    QStringList warnings_;
};

}  // namespace kallomir
