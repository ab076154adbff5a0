#include "player/ui/TranscriptionToolsDialog.h"

#include "core/MessageBoxService.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace kallomir {

TranscriptionToolsDialog::TranscriptionToolsDialog(MessageBoxService& boxes,
                                                   const TranscriptionSettings& settings,
                                                   const std::vector<PedalInfo>& pedals,
                                                   const QString& pedalState, QWidget* parent)
    : QDialog(parent), boxes_(boxes), tempoTenths_(settings.tempoTenths) {
    setObjectName(QStringLiteral("TranscriptionToolsDialog"));
    setWindowTitle(QStringLiteral("Tasti e pedale"));
    auto* layout = new QVBoxLayout(this);

    auto* keys = new QGroupBox(QStringLiteral("Tasti (funzionano anche mentre si scrive)"), this);
    auto* keyForm = new QFormLayout(keys);
    for (int i = 0; i < kTranscriptionActionCount; ++i) {
        auto* edit = new QKeySequenceEdit(settings.keys[static_cast<size_t>(i)], keys);
        // One key each: a second press replaces the first.
        connect(edit, &QKeySequenceEdit::keySequenceChanged, edit, [edit](const QKeySequence& k) {
            if (k.count() > 1)
                edit->setKeySequence(QKeySequence(k[k.count() - 1]));
        });
        edit->setObjectName(QStringLiteral("key%1").arg(i));
        keyEdits[static_cast<size_t>(i)] = edit;
        keyForm->addRow(ActionCaption(static_cast<TranscriptionAction>(i)), edit);
    }
    jump = new QSpinBox(keys);
    jump->setRange(1, 30);
    jump->setSuffix(QStringLiteral(" s"));
    jump->setValue(settings.jumpSeconds);
    keyForm->addRow(QStringLiteral("Salto indietro e avanti"), jump);
    autoRewind = new QSpinBox(keys);
    autoRewind->setRange(0, 10);
    autoRewind->setSuffix(QStringLiteral(" s"));
    autoRewind->setValue(settings.autoRewindSeconds);
    keyForm->addRow(QStringLiteral("Ritorno a ogni ripresa"), autoRewind);
    layout->addWidget(keys);

    auto* pedal = new QGroupBox(QStringLiteral("Pedale"), this);
    auto* pedalForm = new QFormLayout(pedal);
    pedalDevice = new QComboBox(pedal);
    pedalDevice->addItem(QStringLiteral("Nessuno"), QString());
    bool listed = settings.pedalDevice.isEmpty();
    for (const PedalInfo& p : pedals) {
        pedalDevice->addItem(p.name, p.id);
        listed = listed || p.id == settings.pedalDevice;
    }
    if (!listed) {
        // The chosen pedal is not plugged in now: it stays chosen and is used when it comes.
        pedalDevice->addItem(QStringLiteral("%1 (non collegato)").arg(settings.pedalDevice),
                             settings.pedalDevice);
    }
    pedalDevice->setCurrentIndex(std::max(0, pedalDevice->findData(settings.pedalDevice)));
    pedalForm->addRow(QStringLiteral("Dispositivo"), pedalDevice);
    for (int b = 0; b < kPedalButtons; ++b) {
        auto* box = new QComboBox(pedal);
        for (int a = 0; a < kPedalActionCount; ++a)
            box->addItem(PedalActionCaption(static_cast<PedalAction>(a)), a);
        box->setCurrentIndex(static_cast<int>(settings.pedal[static_cast<size_t>(b)]));
        pedalButtons[static_cast<size_t>(b)] = box;
        pedalForm->addRow(QStringLiteral("Pulsante %1").arg(PedalButtonCaption(b).toLower()), box);
    }
    pedalStatus = new QLabel(pedalState, pedal);
    pedalStatus->setWordWrap(true);
    pedalForm->addRow(pedalStatus);
    layout->addWidget(pedal);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Annulla"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

TranscriptionSettings TranscriptionToolsDialog::settings() const {
    TranscriptionSettings s;
    for (int i = 0; i < kTranscriptionActionCount; ++i)
        s.keys[static_cast<size_t>(i)] = keyEdits[static_cast<size_t>(i)]->keySequence();
    s.jumpSeconds = jump->value();
    s.autoRewindSeconds = autoRewind->value();
    s.tempoTenths = tempoTenths_;
    s.pedalDevice = pedalDevice->currentData().toString();
    for (int b = 0; b < kPedalButtons; ++b) {
        s.pedal[static_cast<size_t>(b)] =
            static_cast<PedalAction>(pedalButtons[static_cast<size_t>(b)]->currentData().toInt());
    }
    return s;
}

void TranscriptionToolsDialog::accept() {
    const QString problem = SettingsProblem(settings());
    if (!problem.isEmpty()) {
        boxes_.show(problem, kApplicationTitle, MsgButtons::Ok, MsgIcon::Exclamation);
        return;  // stays open to be put right
    }
    QDialog::accept();
}

}  // namespace kallomir
