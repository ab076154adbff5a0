#include "app/ui/AppWiring.h"

#include "app/AppContext.h"
#include "app/ui/CommandLine.h"

namespace kallomir {

struct AppWiring::Devices {};

AppWiring::AppWiring(AppContext&, const CommandLine&) : devices_(std::make_unique<Devices>()) {}

AppWiring::~AppWiring() = default;

WindowRegistry::Factories AppWiring::windowFactories() const { return {}; }

}  // namespace kallomir
