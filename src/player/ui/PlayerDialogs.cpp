#include "player/ui/PlayerDialogs.h"

#include "player/ui/TranscriptionToolsDialog.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextDocument>

namespace kallomir {

std::optional<QString> QtPlayerDialogs::openFileName(QWidget* parent, const QString& title,
                                                     const QString& filter) {
    const QString name = QFileDialog::getOpenFileName(parent, title, QString(), filter);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

std::optional<QString> QtPlayerDialogs::saveFileName(QWidget* parent, const QString& title,
                                                     const QString& filter) {
    const QString name = QFileDialog::getSaveFileName(parent, title, QString(), filter);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

std::optional<QFont> QtPlayerDialogs::font(QWidget* parent, const QFont& initial) {
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, initial, parent);
    if (!ok)
        return std::nullopt;
    return chosen;
}

std::optional<QColor> QtPlayerDialogs::color(QWidget* parent, const QColor& initial) {
    const QColor chosen = QColorDialog::getColor(initial, parent);
    if (!chosen.isValid())
        return std::nullopt;
    return chosen;
}

bool QtPlayerDialogs::print(QWidget* parent, QTextDocument& document) {
    QPrinter printer;
    QPrintDialog dialog(&printer, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    document.print(&printer);
    return true;
}

bool QtPlayerDialogs::transcriptionTools(QWidget* parent, MessageBoxService& boxes,
                                         TranscriptionSettings& settings,
                                         const std::vector<PedalInfo>& pedals,
                                         const QString& pedalState) {
    TranscriptionToolsDialog dialog(boxes, settings, pedals, pedalState, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    settings = dialog.settings();
    return true;
}

}  // namespace kallomir
