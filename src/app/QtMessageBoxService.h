#pragma once

#include "core/MessageBoxService.h"

namespace kallomir {

// Message boxes on screen, modal to the active window.
class QtMessageBoxService : public MessageBoxService {
public:
    MsgAnswer show(const QString& text, const QString& title, MsgButtons buttons,
                   MsgIcon icon) override;
};

}  // namespace kallomir
