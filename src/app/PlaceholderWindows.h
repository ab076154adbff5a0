#pragma once

#include <QWidget>

namespace kallomir {

struct AppContext;

// Stand-ins for child windows whose real implementation is not linked into this build:
// they keep the registry and the links working (no unsaved changes, nothing playing).
QWidget* MakePlaceholderRecorder(AppContext& ctx, QWidget* parent);
QWidget* MakePlaceholderPlayer(AppContext& ctx, QWidget* parent);
QWidget* MakePlaceholderMixer(AppContext& ctx, QWidget* parent);
QWidget* MakePlaceholderReports(AppContext& ctx, QWidget* parent);

}  // namespace kallomir
