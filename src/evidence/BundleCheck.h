#pragma once

#include "evidence/IntegrityCheck.h"

#include <QString>

namespace kallomir {

// Checks a hand-over bundle on its own (a folder, or a ".zip" archive): the manifest's seal,
// every listed file against its SHA-256 and size, files that are not listed, each log line
// against its own hash, and each recording, WAV and transcription against what its log
// lines state. Reads only.
CheckReport CheckHandOverBundle(const QString& path, const std::atomic<bool>* cancel = nullptr);

}  // namespace kallomir
