#include "settings/ui/CfrmSettingsWp.h"

#include "controls/TelephonyControl.h"
#include "controls/WaveControl.h"
#include "core/AppContext.h"
#include "core/FormLinks.h"
#include "core/GeneralSound.h"
#include "core/IniFile.h"
#include "core/MessageBoxService.h"
#include "core/RuntimeError.h"
#include "core/VbConvert.h"
#include "recorder/RecorderSession.h"
#include "settings/CapabilityReports.h"
#include "settings/ServiceShutdown.h"
#include "settings/SettingsRules.h"
#include "settings/ui/FolderNameValidator.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

namespace kallomir {

namespace {

const QString kLineDevice = QStringLiteral("Line Device");
const QString kNotSet = QStringLiteral("Not Set");
const QString kSoundCardOutput = QStringLiteral("Sound Card Output");
const QString kSoundCardInput = QStringLiteral("Sound Card Input");
const QString kRecordFormat = QStringLiteral("Record Format");
const QString kRingsBeforeAnswer = QStringLiteral("Rings Before Answer");
const QString kSettingError = QStringLiteral("Errore settaggio");

// A stored list position or code; text that is not a whole number counts as no choice.
qint32 StoredNumber(const QString& text) {
    return IsWholeNumber(text) ? ToInt32(Val(text.trimmed())) : -1;
}

QLabel* Label(const QString& text, QWidget* buddy = nullptr) {
    auto* label = new QLabel(text);
    if (buddy != nullptr)
        label->setBuddy(buddy);
    return label;
}

}  // namespace

CfrmSettingsWp::CfrmSettingsWp(AppContext& ctx, QWidget* parent) : QDialog(parent), ctx_(ctx) {
    buildWindow();
}

CfrmSettingsWp::~CfrmSettingsWp() = default;

void CfrmSettingsWp::buildWindow() {
    setWindowTitle(QStringLiteral("Parametri"));
    setModal(true);

    comboLineName_ = new QComboBox;
    comboLineName_->setPlaceholderText(QStringLiteral("Select telephony line device"));
    comboLineName_->setMinimumContentsLength(28);
    commandCaps_ = new QPushButton(QStringLiteral("&Capabilities"));
    labelTapiVer_ = new QLabel(QStringLiteral("Tapi Ver 0.0"));
    auto* lineFrame = new QGroupBox(QStringLiteral("Periferiche Telefoniche"));
    auto* lineLayout = new QGridLayout(lineFrame);
    lineLayout->addWidget(comboLineName_, 0, 0, 1, 2);
    lineLayout->addWidget(commandCaps_, 1, 0);
    lineLayout->addWidget(labelTapiVer_, 1, 1);

    comboSoundCardIn_ = new QComboBox;
    comboSoundCardIn_->setPlaceholderText(QStringLiteral("Select Sound Card"));
    comboSoundCardOut_ = new QComboBox;
    comboSoundCardOut_->setPlaceholderText(QStringLiteral("Select Sound Card"));
    auto* cardFrame = new QGroupBox(QStringLiteral("Scheda Audio"));
    auto* cardLayout = new QGridLayout(cardFrame);
    cardLayout->addWidget(Label(QStringLiteral("Registrazione")), 0, 0);
    cardLayout->addWidget(comboSoundCardIn_, 0, 1);
    cardLayout->addWidget(Label(QStringLiteral("Ascolto")), 1, 0);
    cardLayout->addWidget(comboSoundCardOut_, 1, 1);
    cardLayout->setColumnStretch(1, 1);

    comboRecordFormat_ = new QComboBox;
    comboRecordFormat_->setPlaceholderText(QStringLiteral("Select Record Wave Format"));
    auto* formatFrame = new QGroupBox(QStringLiteral("Formato di Registrazione"));
    (new QVBoxLayout(formatFrame))->addWidget(comboRecordFormat_);

    optionWaveDevice_[0] = new QRadioButton(QStringLiteral("Scheda Audio Line In"));
    optionWaveDevice_[1] = new QRadioButton(QStringLiteral("Scheda Audio Modem"));
    optionWaveDevice_[1]->setChecked(true);
    commandWaveInCaps_ = new QPushButton(QStringLiteral("In Entrata"));
    commandWaveOutCaps_ = new QPushButton(QStringLiteral("In Uscita"));
    auto* supportedFrame = new QGroupBox(QStringLiteral("Formati audio Supportati"));
    auto* supportedLayout = new QGridLayout(supportedFrame);
    supportedLayout->addWidget(optionWaveDevice_[0], 0, 0);
    supportedLayout->addWidget(commandWaveInCaps_, 0, 1);
    supportedLayout->addWidget(optionWaveDevice_[1], 1, 0);
    supportedLayout->addWidget(commandWaveOutCaps_, 1, 1);

    checkAutoAnswer_ = new QCheckBox(QStringLiteral("Auto Risposta Dopo"));
    textRings_ = new QLineEdit;
    textRings_->setMaximumWidth(48);
    checkRecall_ = new QCheckBox(QStringLiteral("Richiamata"));
    slider1_ = new QSlider(Qt::Horizontal);
    slider1_->setRange(15, 30);
    slider1_->setSingleStep(1);
    slider1_->setPageStep(5);
    txtRecall_ = new QLineEdit;
    txtRecall_->setMaximumWidth(48);
    auto* answerFrame = new QGroupBox(QStringLiteral("Impostazione Risposta"));
    auto* answerLayout = new QGridLayout(answerFrame);
    answerLayout->addWidget(checkAutoAnswer_, 0, 0);
    answerLayout->addWidget(textRings_, 0, 1);
    answerLayout->addWidget(Label(QStringLiteral("Squilli")), 0, 2);
    answerLayout->addWidget(checkRecall_, 1, 0);
    answerLayout->addWidget(Label(QStringLiteral("Tempo Attesa Richiamata")), 2, 0);
    answerLayout->addWidget(slider1_, 2, 1, 1, 2);
    answerLayout->addWidget(txtRecall_, 2, 3);

    textTelephoneNumber_ = new QLineEdit;
    for (int i = 0; i < 2; ++i) {
        txtParm_[i] = new QLineEdit;
        txtParm_[i]->setValidator(new FolderNameValidator(txtParm_[i]));
        txtParm_[i]->setMaxLength(kFolderNameLength);
        txtParm_[i]->installEventFilter(this);
    }
    txtParm_[1]->setEnabled(false);
    comboFolder_ = new QComboBox;
    comboFolder_->setEditable(true);
    comboFolder_->addItems({QStringLiteral("600"), QStringLiteral("700   "), QStringLiteral("4600"),
                            QStringLiteral("1")});
    comboFolder_->setCurrentIndex(-1);
    auto* numberFrame = new QGroupBox(QStringLiteral("Numero Telefonico Da Richiamare"));
    auto* numberLayout = new QGridLayout(numberFrame);
    numberLayout->addWidget(textTelephoneNumber_, 0, 0, 1, 2);
    numberLayout->addWidget(Label(QStringLiteral("&Nome:"), txtParm_[1]), 1, 0);
    numberLayout->addWidget(txtParm_[1], 1, 1);
    numberLayout->addWidget(Label(QStringLiteral("&Cartella"), txtParm_[0]), 2, 0);
    numberLayout->addWidget(txtParm_[0], 2, 1);
    numberLayout->addWidget(Label(QStringLiteral("&Dimensione Cartella"), comboFolder_), 3, 0);
    numberLayout->addWidget(comboFolder_, 3, 1);

    commandOk_ = new QPushButton(QStringLiteral("&Ok"));
    cmdCancel_ = new QPushButton(QStringLiteral("Annulla"));
    command1_ = new QPushButton(QStringLiteral("Fine Servizio"));
    // Enter presses the button that has the keyboard, and OK (with OK's checks) from anywhere
    // else in the dialog.
    commandOk_->setDefault(true);
    for (QPushButton* button :
         {commandOk_, cmdCancel_, command1_, commandCaps_, commandWaveInCaps_, commandWaveOutCaps_})
        button->setAutoDefault(true);

    // Hidden carriers of the capture quality.
    const std::array<QStringList, 3> qualities{
        QStringList{QStringLiteral("11025"), QStringLiteral("22050"), QStringLiteral("44100")},
        QStringList{QStringLiteral("8"), QStringLiteral("16")},
        QStringList{QStringLiteral("1"), QStringLiteral("2")}};
    for (int i = 0; i < 3; ++i) {
        combo1_[i] = new QComboBox(this);
        combo1_[i]->setEditable(true);
        combo1_[i]->addItems(qualities[i]);
        combo1_[i]->setCurrentIndex(-1);
        combo1_[i]->hide();
    }

    auto* left = new QVBoxLayout;
    left->addWidget(lineFrame);
    left->addWidget(cardFrame);
    left->addWidget(formatFrame);
    left->addWidget(supportedFrame);
    auto* right = new QVBoxLayout;
    right->addWidget(answerFrame);
    right->addWidget(numberFrame);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(commandOk_);
    buttons->addWidget(cmdCancel_);
    buttons->addWidget(command1_);
    right->addLayout(buttons);
    right->addStretch();
    auto* main = new QHBoxLayout(this);
    main->addLayout(left);
    main->addLayout(right);

    textRings_->installEventFilter(this);
    comboFolder_->installEventFilter(this);

    connect(comboLineName_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            ComboLineName_Click();
    });
    connect(comboSoundCardOut_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            ComboSoundCardOut_Click();
    });
    connect(comboSoundCardIn_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            ComboSoundCardIn_Click();
    });
    connect(comboRecordFormat_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            ComboRecordFormat_Click();
    });
    connect(checkAutoAnswer_, &QCheckBox::toggled, this, [this] { CheckAutoAnswer_Click(); });
    connect(slider1_, &QSlider::valueChanged, this, [this] {
        if (!loadingSlider_)
            Slider1_Scroll();
    });
    connect(commandOk_, &QPushButton::clicked, this, [this] { CommandOk_Click(); });
    connect(cmdCancel_, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });
    connect(command1_, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(commandCaps_, &QPushButton::clicked, this, [this] { CommandCaps_Click(); });
    connect(commandWaveOutCaps_, &QPushButton::clicked, this,
            [this] { CommandWaveOutCaps_Click(); });
    connect(commandWaveInCaps_, &QPushButton::clicked, this, [this] { CommandWaveInCaps_Click(); });
}

TelephonyControl& CfrmSettingsWp::tapi() const {
    if (tapi_ == nullptr)
        throw RuntimeError(91, QStringLiteral("Object variable or With block variable not set"));
    return *tapi_;
}

WaveControl& CfrmSettingsWp::wave() const {
    if (wave_ == nullptr)
        throw RuntimeError(91, QStringLiteral("Object variable or With block variable not set"));
    return *wave_;
}

int CfrmSettingsWp::exec() {
    if (!loaded_)
        Form_Load();
    return QDialog::exec();
}

void CfrmSettingsWp::done(int result) {
    Form_Unload();
    QDialog::done(result);
}

void CfrmSettingsWp::accept() {
    CommandOk_Click();
}

void CfrmSettingsWp::fillSoundCards(QComboBox* combo, bool output, const QString& key,
                                    RetryBudget& budget) {
    const qint16 count =
        budget.run([&] { return output ? wave().outputDeviceCount() : wave().inputDeviceCount(); });
    for (qint16 i = 0; i < count; ++i) {
        combo->addItem(budget.run(
            [&] { return output ? wave().outputDeviceName(i) : wave().inputDeviceName(i); }));
    }
    const qint32 stored =
        budget.run([&] { return StoredNumber(ctx_.settings.get(key, QStringLiteral("-1"))); });
    if (stored >= 0 && stored < combo->count())
        combo->setCurrentIndex(stored);
}

void CfrmSettingsWp::setFolderBox(int index, const QString& text) {
    // A longer value from a hand-edited file is shown whole, never cut behind the operator's
    // back; only typing is held to eight characters.
    txtParm_[index]->setMaxLength(std::max<int>(kFolderNameLength, static_cast<int>(text.size())));
    txtParm_[index]->setText(text);
}

void CfrmSettingsWp::Form_Load() {
    loaded_ = true;
    RetryBudget budget;
    try {
        budget.run([&] { ctx_.forms->recorder().setTelephoneSourceEnabled(true); });

        const QString recall = budget.run(
            [&] { return ctx_.settings.get(QStringLiteral("timerecall"), QStringLiteral("7")); });
        loadingSlider_ = true;
        slider1_->setValue(ToInt32(Val(recall)));  // the slider keeps it within 15..30
        loadingSlider_ = false;
        txtRecall_->setText(QString::number(slider1_->value()));

        // The name box holds the plain folder name; OK adds the folder number again.
        setFolderBox(0, ctx_.config.folderNumber);
        setFolderBox(1, PlainFolderName(ctx_.config.recFolder, ctx_.config.folderNumber));
        combo1_[0]->setEditText(ctx_.config.sampleRate);
        combo1_[1]->setEditText(ctx_.config.bitsPerSample);
        combo1_[2]->setEditText(ctx_.config.channels);

        budget.run([&] {
            const double seconds = RoundHalfEven(wave().voxHoldMs() / 1000.0);
            ctx_.forms->mixer().setTimeVoxSlider(static_cast<int>(seconds));
        });

        fillSoundCards(comboSoundCardOut_, true, kSoundCardOutput, budget);
        fillSoundCards(comboSoundCardIn_, false, kSoundCardInput, budget);

        for (const RecordFormatEntry& entry : kRecordFormatList)
            comboRecordFormat_->addItem(QString::fromLatin1(entry.text), entry.code);
        const qint32 format = budget.run(
            [&] { return StoredNumber(ctx_.settings.get(kRecordFormat, QStringLiteral("-1"))); });
        if (format != -1) {
            const int position = comboRecordFormat_->findData(format);
            if (position >= 0)
                comboRecordFormat_->setCurrentIndex(position);
        }

        if (budget.run([&] { return tapi().lineOpen(); }))
            budget.run([&] { tapi().setLineOpen(false); });

        textTelephoneNumber_->setText(budget.run(
            [&] { return ctx_.settings.get(QStringLiteral("Telephone Number"), QString()); }));
        comboFolder_->setEditText(budget.run(
            [&] { return ctx_.settings.get(QStringLiteral("DimFolder"), QStringLiteral("600")); }));

        checkAutoAnswer_->setChecked(budget.run([&] {
            return Val(ctx_.settings.get(QStringLiteral("Auto Answer"), QStringLiteral("1"))) != 0;
        }));
        textRings_->setEnabled(checkAutoAnswer_->isChecked());
        textRings_->setText(
            budget.run([&] { return ctx_.settings.get(kRingsBeforeAnswer, kDefaultRings); }));
        checkRecall_->setChecked(budget.run([&] {
            return Val(ctx_.settings.get(QStringLiteral("Recall"), QStringLiteral("0"))) != 0;
        }));

        const QString storedLine =
            budget.run([&] { return ctx_.settings.get(kLineDevice, kNotSet); });
        const qint32 lines = budget.run([&] { return tapi().lineDeviceCount(); });
        int remembered = -1;
        for (qint32 i = 0; i < lines; ++i) {
            const QString name = budget.run([&] { return tapi().lineDeviceName(i); });
            const qint32 version = budget.run([&] { return tapi().apiVersion(); });
            const qint32 caps = budget.run([&] { return tapi().capabilities(); });
            if (version < 1 || (caps & 8) == 0)
                continue;
            comboLineName_->addItem(name);
            if (name == storedLine)
                remembered = comboLineName_->count() - 1;
        }
        if (remembered >= 0)
            comboLineName_->setCurrentIndex(remembered);
    } catch (const RetryBudget::Exhausted& failure) {
        ReportError(ctx_.boxes, failure.error,
                    QStringLiteral("Main Form, Form_Load mancata lettura periferiche"));
    }
}

void CfrmSettingsWp::ComboLineName_Click() {
    RetryBudget budget;
    try {
        const QString name = comboLineName_->currentText();
        budget.run([&] { ctx_.settings.save(kLineDevice, name); });
        budget.run([&] { tapi().setLineName(name); });
        const qint32 version = budget.run([&] { return tapi().apiVersion(); });
        labelTapiVer_->setText(TapiVersionText(version));
    } catch (const RetryBudget::Exhausted& failure) {
        ReportError(ctx_.boxes, failure.error, QStringLiteral("ComboLineName_Click"));
    }
}

void CfrmSettingsWp::ComboSoundCardOut_Click() {
    try {
        ctx_.settings.save(kSoundCardOutput, QString::number(comboSoundCardOut_->currentIndex()));
    } catch (const RuntimeError& error) {
        ReportError(ctx_.boxes, error, QStringLiteral("ComboSoundCardOut_Click"));
    }
}

void CfrmSettingsWp::ComboSoundCardIn_Click() {
    try {
        ctx_.settings.save(kSoundCardInput, QString::number(comboSoundCardIn_->currentIndex()));
    } catch (const RuntimeError& error) {
        ReportError(ctx_.boxes, error, QStringLiteral("ComboSoundCardIn_Click"));
    }
}

void CfrmSettingsWp::ComboRecordFormat_Click() {
    try {
        ctx_.settings.save(kRecordFormat,
                           QString::number(comboRecordFormat_->currentData().toInt()));
    } catch (const RuntimeError& error) {
        ReportError(ctx_.boxes, error, QStringLiteral("ComboRecordFormat_Click"));
    }
}

void CfrmSettingsWp::CheckAutoAnswer_Click() {
    textRings_->setEnabled(checkAutoAnswer_->isChecked());
}

void CfrmSettingsWp::Slider1_Scroll() {
    ctx_.config.recallTime = static_cast<std::int16_t>(slider1_->value());
    txtRecall_->setText(QString::number(slider1_->value()));
}

void CfrmSettingsWp::TextRingsBeforeAnswer_LostFocus() {
    if (CheckRings(textRings_->text()) != RingsCheck::Refused)
        return;
    textRings_->setText(kDefaultRings);
    ctx_.boxes.show(QStringLiteral("Settare Auto Risposta tra 0 e 10 squilli"), kSettingError,
                    MsgButtons::Ok, MsgIcon::Critical);
}

bool CfrmSettingsWp::txtParm_KeyPress(int /*index*/, QChar key) {
    return IsFolderNameKey(key);
}

void CfrmSettingsWp::txtParm_LostFocus(int index) {
    if (txtParm_[1]->text().size() >= kFolderNameLength)
        return;
    ctx_.boxes.show(QStringLiteral("INSERIRE 8 CARATTERI"), QStringLiteral("Avviso"),
                    MsgButtons::Ok, MsgIcon::None);
    focusWithoutChecks(txtParm_[index]);
}

void CfrmSettingsWp::ComboFolder_LostFocus() {
    const std::optional<double> limit = FolderLimitValue(comboFolder_->currentText());
    if (!limit) {
        ctx_.boxes.show(QStringLiteral("Dimensione Cartella non valida: inserire un numero."),
                        kSettingError, MsgButtons::Ok, MsgIcon::Critical);
        return;
    }
    ctx_.forms->recorder().setFolderSizeLimit(*limit);
}

bool CfrmSettingsWp::refuseFolderBoxes() {
    // The boxes become DataPath + name + "/" + number: both must be plain folder names. A
    // new name (the box is open after "Fine Servizio") has eight characters; the name in
    // use, which the operator cannot change here, is taken as it is.
    const QString name = txtParm_[1]->text();
    const bool shortNewName = txtParm_[1]->isEnabled() && name.size() < kFolderNameLength;
    if (shortNewName || !IsPlainFolderName(name)) {
        ctx_.boxes.show(QStringLiteral("INSERIRE 8 CARATTERI"), QStringLiteral("Avviso"),
                        MsgButtons::Ok, MsgIcon::None);
        txtParm_[1]->setEnabled(true);
        focusWithoutChecks(txtParm_[1]);
        return true;
    }
    if (!IsPlainFolderName(txtParm_[0]->text())) {
        ctx_.boxes.show(QStringLiteral("Inserire il numero della cartella"),
                        QStringLiteral("Avviso"), MsgButtons::Ok, MsgIcon::None);
        focusWithoutChecks(txtParm_[0]);
        return true;
    }
    return false;
}

bool CfrmSettingsWp::refuseInvalidInput() {
    // OK's shortcut and Enter press it without leaving a box, so the boxes' checks run here
    // too; nothing is stored while a box holds something it must not.
    if (refuseFolderBoxes())
        return true;
    if (CheckRings(textRings_->text()) == RingsCheck::Refused) {
        TextRingsBeforeAnswer_LostFocus();
        focusWithoutChecks(textRings_);
        return true;
    }
    if (!FolderLimitValue(comboFolder_->currentText())) {
        ComboFolder_LostFocus();
        focusWithoutChecks(comboFolder_);
        return true;
    }
    return false;
}

bool CfrmSettingsWp::askRetry(const QString& text) {
    return ctx_.boxes.show(text + QStringLiteral("\r\nVuoi riprovare?"), QStringLiteral("Error"),
                           MsgButtons::YesNo, MsgIcon::Critical) == MsgAnswer::Yes;
}

void CfrmSettingsWp::CommandOk_Click() {
    if (refuseInvalidInput())
        return;
    try {
        GeneralSound& config = ctx_.config;
        QString name = txtParm_[1]->text();
        config.folderNumber = txtParm_[0]->text();
        config.recFolder = name + u'/' + config.folderNumber;
        config.sampleRate = combo1_[0]->currentText();
        config.bitsPerSample = combo1_[1]->currentText();
        config.channels = combo1_[2]->currentText();

        WriteIniValue(config.iniFile, QStringLiteral("PATH"), QStringLiteral("DATI"),
                      config.dataPath);
        WriteIniValue(config.iniFile, QStringLiteral("PATH"), QStringLiteral("NOME"), name);
        WriteIniValue(config.iniFile, QStringLiteral("PATH"), QStringLiteral("FOLDER"),
                      config.folderNumber);
        WriteIniValue(config.iniFile, QStringLiteral("PARAMETRI"), QStringLiteral("QUALITA"),
                      config.sampleRate);
        WriteIniValue(config.iniFile, QStringLiteral("PARAMETRI"), QStringLiteral("BITS"),
                      config.bitsPerSample);
        WriteIniValue(config.iniFile, QStringLiteral("PARAMETRI"), QStringLiteral("STEREO"),
                      config.channels);
        config.recFolder = name + u'/' + config.folderNumber;  // the writes may have blanked breaks

        UserSettings& settings = ctx_.settings;
        const auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
        settings.save(QStringLiteral("Telephone Number"), textTelephoneNumber_->text());
        settings.save(QStringLiteral("Auto Answer"), flag(checkAutoAnswer_->isChecked()));
        settings.save(QStringLiteral("Recall"), flag(checkRecall_->isChecked()));
        settings.save(kRingsBeforeAnswer, textRings_->text());
        settings.save(QStringLiteral("DimFolder"), comboFolder_->currentText(),
                      QStringLiteral("settings"));
        settings.save(QStringLiteral("etichetta"), name);
        settings.save(QStringLiteral("TimeRecall"), txtRecall_->text());

        if (settings.get(kLineDevice, kNotSet) == kNotSet) {
            if (askRetry(QStringLiteral("Non è stata selezionata nessuna periferica telefonica.")))
                return;
            done(QDialog::Accepted);
            return;
        }
        const std::array<std::pair<QString, QString>, 3> checks{{
            {kSoundCardOutput,
             QStringLiteral("Non è stata selezionata nessuna periferica audio in uscita.")},
            {kSoundCardInput,
             QStringLiteral("Non è stata selezionata nessuna periferica audio in ingresso.")},
            {kRecordFormat, QStringLiteral("Non è stato selezionato nessun formato wave.")},
        }};
        for (const auto& [key, text] : checks) {
            if (settings.get(key, QStringLiteral("-1")) == QStringLiteral("-1") && askRetry(text))
                return;
        }

        if (textRings_->text().isEmpty()) {
            textRings_->setText(kDefaultRings);
            settings.save(kRingsBeforeAnswer, kDefaultRings);
        }
        if (!QDir(config.dataPath + name).exists())
            QDir().mkdir(config.dataPath + name);
        TransferSettings();
        done(QDialog::Accepted);
    } catch (const RuntimeError& error) {
        ReportError(ctx_.boxes, error, QStringLiteral("frmSettings CommandOk_Click"));
    }
}

void CfrmSettingsWp::cmdCancel_Click() {
    done(QDialog::Rejected);
}

void CfrmSettingsWp::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    const GeneralSound& config = ctx_.config;
    if (!QDir(config.dataPath).exists())
        QDir().mkdir(config.dataPath);
    // The numbered folder may sit below a name folder that is new as well; only ever below
    // DataPath, whatever RecFolder holds.
    const QStringList parts = config.recFolder.split(u'/');
    const bool inside =
        parts.size() == 2 && IsPlainFolderName(parts[0]) && IsPlainFolderName(parts[1]);
    if (inside && QDir(config.dataPath).exists() && !QDir(config.recordingsFolder()).exists())
        QDir(config.dataPath).mkpath(config.recFolder);
    try {
        PlayerLink& player = ctx_.forms->player();
        player.setFolderPath(config.recordingsFolder());
        player.refreshFileList();
    } catch (const RuntimeError&) {
        // The unload reports nothing; the player keeps its folder.
    }
}

void CfrmSettingsWp::TransferSettings() {
    kallomir::TransferSettings(ctx_);
}

void CfrmSettingsWp::Command1_Click() {
    if (ctx_.boxes.show(ServiceShutdownQuestion(), kServiceShutdownTitle, MsgButtons::YesNo,
                        MsgIcon::None) != MsgAnswer::Yes)
        return;
    const QString previousName = txtParm_[1]->text();
    txtParm_[1]->setEnabled(true);
    txtParm_[1]->clear();
    txtParm_[0]->setText(QStringLiteral("1"));
    txtParm_[1]->setFocus();
    CloseServiceCatalogue(ctx_, previousName, QStringLiteral("Command1_Click"));
}

void CfrmSettingsWp::CommandCaps_Click() {
    try {
        ShowLineCapabilities(tapi(), ctx_.boxes);
    } catch (const RuntimeError& error) {
        ReportError(ctx_.boxes, error, LineCapabilitiesErrorTitle());
    }
}

void CfrmSettingsWp::CommandWaveOutCaps_Click() {
    try {
        ShowWaveCapabilities(WaveDirection::Output, optionWaveDevice_[0]->isChecked(),
                             comboSoundCardOut_->currentIndex(), tapi(), wave(), ctx_.boxes);
    } catch (const RuntimeError& error) {
        ReportError(ctx_.boxes, error, WaveCapabilitiesErrorTitle(WaveDirection::Output));
    }
}

void CfrmSettingsWp::CommandWaveInCaps_Click() {
    try {
        ShowWaveCapabilities(WaveDirection::Input, optionWaveDevice_[0]->isChecked(),
                             comboSoundCardIn_->currentIndex(), tapi(), wave(), ctx_.boxes);
    } catch (const RuntimeError& error) {
        ReportError(ctx_.boxes, error, WaveCapabilitiesErrorTitle(WaveDirection::Input));
    }
}

void CfrmSettingsWp::focusWithoutChecks(QWidget* widget) {
    // Sending the operator back to a box must not count as leaving the box he was in, or
    // two boxes would keep sending the focus to each other.
    refocusing_ = true;
    widget->setFocus();
    refocusing_ = false;
}

void CfrmSettingsWp::leaveAfterFocusOut(QWidget* widget) {
    // Checked once the focus has settled, never while a message box takes the focus away.
    QMetaObject::invokeMethod(
        this,
        [this, widget] {
            // A box that has the focus again (OK's own checks sent it back) was not left.
            if (checking_ || unloaded_ || !isVisible() || widget->hasFocus())
                return;
            checking_ = true;
            if (widget == textRings_)
                TextRingsBeforeAnswer_LostFocus();
            if (widget == txtParm_[0])
                txtParm_LostFocus(0);
            if (widget == txtParm_[1])
                txtParm_LostFocus(1);
            if (widget == comboFolder_)
                ComboFolder_LostFocus();
            checking_ = false;
        },
        Qt::QueuedConnection);
}

bool CfrmSettingsWp::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && (watched == txtParm_[0] || watched == txtParm_[1])) {
        // Only typed characters are filtered; editing keys (Delete, Ctrl+A, Ctrl+V ...) carry
        // control characters or none and keep their work. Pasted text meets the validator.
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (IsTypedText(text) && !txtParm_KeyPress(watched == txtParm_[0] ? 0 : 1, text.at(0)))
            return true;
    }
    if (event->type() == QEvent::FocusOut && !refocusing_) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (auto* widget = qobject_cast<QWidget*>(watched))
                leaveAfterFocusOut(widget);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void OpenSettingsDialog(AppContext& ctx, QWidget* owner) {
    if (ctx.forms == nullptr)
        throw RuntimeError(91, QStringLiteral("Object variable or With block variable not set"));
    RecorderLink& recorder = ctx.forms->recorder();
    CfrmSettingsWp dialog(ctx, owner);
    dialog.SetTapiControl(recorder.session().amTapiPro1());
    dialog.SetWaveControl(recorder.session().amWavePro1());
    dialog.exec();
}

}  // namespace kallomir
