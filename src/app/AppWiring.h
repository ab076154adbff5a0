#pragma once

#include "app/WindowRegistry.h"

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

private:
    struct Devices;
    std::unique_ptr<Devices> devices_;
    QString error_;
};

}  // namespace kallomir
