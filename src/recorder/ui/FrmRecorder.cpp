#include "recorder/ui/FrmRecorder.h"

#include "catalogue/Catalogue.h"
#include "controls/MediaCommands.h"
#include "controls/TelephonyControl.h"
#include "controls/WaveControl.h"
#include "core/AppContext.h"
#include "core/Clock.h"
#include "core/GeneralSound.h"
#include "core/MessageBoxService.h"
#include "core/RuntimeError.h"
#include "core/VbConvert.h"
#include "recorder/CaptureEngine.h"
#include "recorder/RecorderMonitor.h"
#include "recorder/RecordingSaver.h"
#include "widgets/PictureBox.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace kallomir {

namespace {
const QString kWaiting = QStringLiteral("In Attesa");
const QString kWaitingToRecord = QStringLiteral("In attesa di registrare ...");
const QString kSaveTitle = QStringLiteral("errore di registrazione");

// A save in progress, cleared however the save ends.
class SavingFlag {
public:
    explicit SavingFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~SavingFlag() { flag_ = false; }
    SavingFlag(const SavingFlag&) = delete;
    SavingFlag& operator=(const SavingFlag&) = delete;

private:
    bool& flag_;
};
}  // namespace

FrmRecorder::FrmRecorder(AppContext& ctx, QWidget* parent)
    : QWidget(parent), ctx_(ctx), marker_(ctx.homeFile(QStringLiteral("Record.wav"))) {
    setObjectName(QStringLiteral("FrmRecorder"));
    setWindowTitle(QStringLiteral("Recorder"));
    if (!ctx.line || !ctx.audio)
        throw RuntimeError(errors::kDeviceIo,
                           QStringLiteral("No line or audio system to record from"));
    tapi_ = std::make_unique<TelephonyControl>(*ctx.line, ctx.audio, this);
    wave_ = std::make_unique<WaveControl>(*ctx.audio, ctx.line, this);
    engine_ = std::make_unique<CaptureEngine>(ctx, *tapi_, *wave_);
    buildControls();
    engine_->setStatusText = [this](const QString& text) { lbstatus->setText(text); };
    connectControls();
    counter_.setInterval(1000);
    timer1_.setInterval(1000);
}

FrmRecorder::~FrmRecorder() = default;

FrmRecorder* FrmRecorder::Create(AppContext& ctx, QWidget* parent) {
    auto* window = new FrmRecorder(ctx, parent);
    window->Form_Load();
    return window;
}

void FrmRecorder::buildControls() {
    auto* grid = new QGridLayout(this);

    auto* status = new QGroupBox(this);
    auto* statusGrid = new QGridLayout(status);
    LabelStatus = new QLabel(status);
    LabelStatus->setObjectName(QStringLiteral("LabelStatus"));
    QFont big = LabelStatus->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    LabelStatus->setFont(big);
    lbstatus = new QLabel(QStringLiteral("Status"), status);
    IStat = new QLabel(status);
    statusGrid->addWidget(IStat, 0, 0, 2, 1);
    statusGrid->addWidget(LabelStatus, 0, 1);
    statusGrid->addWidget(lbstatus, 1, 1);
    grid->addWidget(status, 0, 0, 1, 3);

    auto* buttons = new QGroupBox(this);
    auto* buttonsGrid = new QGridLayout(buttons);
    BtiNIReg = new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay),
                               QStringLiteral("Registra / Chiama"), buttons);
    BtFineReg = new QPushButton(style()->standardIcon(QStyle::SP_MediaStop),
                                QStringLiteral("Stop / Chiudi"), buttons);
    BtPlayReg = new QPushButton(QStringLiteral("Ascolta"), buttons);
    cmdProvvisorio = new QPushButton(QStringLiteral("P a r z i a l i z z a"), buttons);
    Command2 = new QPushButton(QStringLiteral("Command2"), buttons);
    Command1 = new QPushButton(QStringLiteral("Fine"), buttons);
    BtFineReg->setEnabled(false);
    BtPlayReg->setEnabled(false);
    BtPlayReg->hide();
    cmdProvvisorio->setEnabled(false);
    Command2->hide();
    Command1->hide();
    buttonsGrid->addWidget(BtiNIReg, 0, 0);
    buttonsGrid->addWidget(BtFineReg, 0, 1);
    buttonsGrid->addWidget(cmdProvvisorio, 1, 0, 1, 2);

    auto* sources = new QButtonGroup(this);
    const QStringList sourceNames{QStringLiteral("Telefono"), QStringLiteral("Line In"),
                                  QStringLiteral("Impegno linea")};
    for (int i = 0; i < 3; ++i) {
        OptionWaveDevice[i] = new QRadioButton(sourceNames[i], buttons);
        sources->addButton(OptionWaveDevice[i], i);
        buttonsGrid->addWidget(OptionWaveDevice[i], 2 + i, 0);
    }
    OptionWaveDevice[0]->setChecked(true);
    OptionWaveDevice[2]->setEnabled(false);
    OptionWaveDevice[2]->hide();
    auto* targets = new QButtonGroup(this);
    const QStringList targetNames{QStringLiteral("Rec File"), QStringLiteral("Rec Null")};
    for (int i = 0; i < 2; ++i) {
        OptionRecordFile[i] = new QRadioButton(targetNames[i], buttons);
        targets->addButton(OptionRecordFile[i], i);
        buttonsGrid->addWidget(OptionRecordFile[i], 2 + i, 1);
    }
    OptionRecordFile[0]->setChecked(true);
    silencecrt = new QCheckBox(QStringLiteral("Silence Detect"), buttons);
    buttonsGrid->addWidget(silencecrt, 4, 1);
    grid->addWidget(buttons, 1, 0, 2, 1);

    const QStringList headings{QStringLiteral("Tempo Rimanente        (hh:mm:ss)"),
                               QStringLiteral("Sensibilità Registrazione"),
                               QStringLiteral("Sensibilità Vox"),
                               QStringLiteral("Folder di Registrazione"),
                               QStringLiteral("Durata (gg:hh:mm:ss)"),
                               QStringLiteral("Registrazione"),
                               QStringLiteral("Inizio registrazione")};
    for (int i = 0; i < 7; ++i) Eti[i] = new QLabel(headings[i], this);

    auto* times = new QGroupBox(this);
    auto* timesGrid = new QGridLayout(times);
    LbInizio = new QLabel(kWaitingToRecord, times);
    LbNow = new QLabel(kWaitingToRecord, times);
    LbContrec = new QLabel(QStringLiteral("00:00:00:00"), times);
    Label2 = new QLabel(QStringLiteral("00:00:00"), times);
    USEDIR = new QLabel(QStringLiteral("Folder di registrazione"), times);
    Label3 = new QLabel(QStringLiteral("Progressivo N°"), times);
    txtprog = new QLineEdit(times);
    LABELSIZE = new QLabel(QStringLiteral("0"), times);
    timesGrid->addWidget(Eti[6], 0, 0);
    timesGrid->addWidget(LbInizio, 0, 1);
    timesGrid->addWidget(Eti[5], 1, 0);
    timesGrid->addWidget(LbNow, 1, 1);
    timesGrid->addWidget(Eti[4], 2, 0);
    timesGrid->addWidget(LbContrec, 2, 1);
    timesGrid->addWidget(Eti[0], 3, 0);
    timesGrid->addWidget(Label2, 3, 1);
    timesGrid->addWidget(Eti[3], 4, 0);
    timesGrid->addWidget(USEDIR, 4, 1);
    timesGrid->addWidget(Label3, 5, 0);
    timesGrid->addWidget(txtprog, 5, 1);
    timesGrid->addWidget(LABELSIZE, 6, 1);
    grid->addWidget(times, 1, 1, 1, 2);

    auto* levels = new QGroupBox(this);
    auto* levelsGrid = new QGridLayout(levels);
    ProgressBar = new QProgressBar(levels);
    ProgressBar1 = new QProgressBar(levels);
    ProgressBar2 = new QProgressBar(levels);
    for (QProgressBar* bar : {ProgressBar, ProgressBar1}) {
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
    }
    ProgressBar2->setRange(0, 15);
    ProgressBar2->setValue(0);
    ProgressBar2->setTextVisible(false);
    Label1 = new QLabel(levels);
    LABELRECALL = new QLabel(QStringLiteral("0"), levels);
    picture3_ = new PictureBox(levels);
    picture3_->setObjectName(QStringLiteral("Picture3"));
    picture3_->setFixedSize(160, 100);
    picture3_->setBackColor(Qt::black);
    picture3_->setForeColor(Qt::green);
    levelsGrid->addWidget(Eti[1], 0, 0);
    levelsGrid->addWidget(ProgressBar, 0, 1);
    levelsGrid->addWidget(Eti[2], 1, 0);
    levelsGrid->addWidget(ProgressBar1, 1, 1);
    levelsGrid->addWidget(Label1, 2, 1);
    levelsGrid->addWidget(ProgressBar2, 3, 1);
    levelsGrid->addWidget(LABELRECALL, 3, 0);
    levelsGrid->addWidget(picture3_, 0, 2, 4, 1);
    grid->addWidget(levels, 2, 1, 1, 2);
}

void FrmRecorder::connectControls() {
    connect(BtiNIReg, &QPushButton::clicked, this, [this] { BtiNIReg_Click(); });
    connect(BtFineReg, &QPushButton::clicked, this,
            [this] { guarded(QStringLiteral("BtFineReg_Click"), [this] { BtFineReg_Click(); }); });
    connect(cmdProvvisorio, &QPushButton::clicked, this, [this] {
        guarded(QStringLiteral("cmdProvvisorio_Click"), [this] { cmdProvvisorio_Click(); });
    });
    connect(Command2, &QPushButton::clicked, this,
            [this] { guarded(QStringLiteral("Command2_Click"), [this] { Command2_Click(); }); });
    connect(silencecrt, &QCheckBox::toggled, this, [this] {
        guarded(QStringLiteral("silencecrt_Click"), [this] { silencecrt_Click(); });
    });
    connect(&counter_, &QTimer::timeout, this,
            [this] { guarded(QStringLiteral("Counter_Timer"), [this] { Counter_Timer(); }); });
    connect(&timer1_, &QTimer::timeout, this,
            [this] { guarded(QStringLiteral("Timer1_Timer"), [this] { Timer1_Timer(); }); });
    connect(tapi_.get(), &TelephonyControl::IncomingCall, this,
            [this](int rings) { amTapiPro1_IncomingCall(rings); });
    connect(tapi_.get(), &TelephonyControl::Connected, this, [this] { amTapiPro1_Connected(); });
    connect(tapi_.get(), &TelephonyControl::Disconnected, this, [this] {
        guarded(QStringLiteral("amTapiPro1_Disconnected"), [this] { amTapiPro1_Disconnected(); });
    });
    connect(tapi_.get(), &TelephonyControl::Idle, this, [this] { amTapiPro1_Idle(); });
    connect(wave_.get(), &WaveControl::Level, this, [this](qint16 a, qint16 b) {
        guarded(QStringLiteral("amWavePro1_Level"), [=, this] { amWavePro1_Level(a, b); });
    });
    connect(wave_.get(), &WaveControl::Silence, this,
            [this](bool silent) { amWavePro1_Silence(silent); });
    // A capture that stopped on its own (disk full, folder gone): keep what it holds.
    connect(wave_.get(), &WaveControl::captureFailed, this, [this](const QString& text) {
        ReportError(ctx_.boxes, errors::kDeviceIo, text, kSaveTitle);
        guarded(kSaveTitle, [this] {
            engine_->StopDevices();
            StopAndSave();
        });
    });
}

void FrmRecorder::guarded(const QString& title, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const RuntimeError& error) {
        ReportError(ctx_.boxes, error, title);
    }
}

void FrmRecorder::mci(const QString& command, QString* reply) {
    if (reply)
        reply->clear();
    if (ctx_.media)
        ctx_.media->send(command, reply);
}

void FrmRecorder::letEventsRun() {
    QCoreApplication::processEvents();
}

PlayerLink* FrmRecorder::player() {
    return ctx_.forms ? &ctx_.forms->player() : nullptr;
}

QDateTime FrmRecorder::nowToSecond() const {
    QDateTime now = ctx_.clock.now();
    now.setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    return now;
}

QString FrmRecorder::fallbackDataPath() const {
    return ConfigurationDefaults::ForHome(ctx_.userHome).fallbackPath;
}

bool FrmRecorder::recNull() const {
    return OptionRecordFile[1]->isChecked();
}

void FrmRecorder::showIStat(bool recording) {
    IStat->setPixmap((recording ? BtiNIReg : BtFineReg)->icon().pixmap(32, 32));
}

void FrmRecorder::resetSilenceCountdown() {
    silenceCountdown_ = SilenceReload(wave_->voxHoldMs());
}

// ---- window events ---------------------------------------------------------------------

void FrmRecorder::Form_Load() {
    letEventsRun();
    move(0, 0);
    ctx_.config.silenceStopEnabled = QStringLiteral("1");
    Meter.NewLCD(*picture3_);
    Meter.BottomCenter(0);
    showIStat(false);
    resetSilenceCountdown();
    voxThreshold_ = wave_->voxThreshold();
    ProgressBar1->setValue(
        std::clamp(voxThreshold_, ProgressBar1->minimum(), ProgressBar1->maximum()));
    ShowDiskTime();
    ctx_.config.recallTime =
        ToInt16(Val(ctx_.settings.get(QStringLiteral("timerecall"), QStringLiteral("15"))));
    dimFolder_ =
        ToInt64(Val(ctx_.settings.get(QStringLiteral("DimFolder"), QStringLiteral("600"))));
    txtprog->setText(ctx_.settings.get(QStringLiteral("progressivo"), QStringLiteral("*")));
    if (txtprog->text() == QStringLiteral("*")) {
        ctx_.settings.save(QStringLiteral("progressivo"), QStringLiteral("0"));
        txtprog->setText(ctx_.settings.get(QStringLiteral("progressivo"), QStringLiteral("0")));
    }
    guarded(QStringLiteral("Main Form_Load"), [this] {
        LabelStatus->setText(kWaiting);
        tapi_->setMember13(4);
        // A first start has no catalogue yet.
        const Catalogue catalogue = Catalogue::InFolder(ctx_.homeFolder);
        if (!QFileInfo::exists(catalogue.file()))
            catalogue.create();
        applyStoredLine();
    });
    // A recording cut off by a crash or power loss is saved before anything else is recorded.
    RecoverOrphanedCapture(marker_, ctx_.config, fallbackDataPath(),
                           Catalogue::InFolder(ctx_.homeFolder), ctx_.settings, ctx_.boxes,
                           [this] { letEventsRun(); });
    txtprog->setText(ctx_.settings.get(QStringLiteral("progressivo"), txtprog->text()));
    counter_.start();
    timer1_.start();
    loaded_ = true;
}

// Opens the line chosen in the settings, as confirming the settings does, so that calls
// are answered from the first moment and not only after the settings were confirmed again.
void FrmRecorder::applyStoredLine() {
    const QString name =
        ctx_.settings.get(QStringLiteral("Line Device"), QStringLiteral("Not Set"));
    if (name == QStringLiteral("Not Set"))
        return;
    if (tapi_->lineOpen())
        tapi_->setLineOpen(false);
    tapi_->setLineName(name);
    tapi_->setCallPrivilege(4);
    tapi_->setLineOpen(true);
}

void FrmRecorder::Form_Unload(bool& cancel) {
    cancel = false;
    guarded(QStringLiteral("Form_Unload"), [&] {
        // The status text is replaced by the media mode every second, so a running
        // recording is asked about by its own flag as well.
        if (lbstatus->text() == QStringLiteral("recording") || isRecording_) {
            const MsgAnswer answer =
                ctx_.boxes.show(QStringLiteral("Stai registrando !!! Vuoi uscire ?"),
                                QStringLiteral("Uscita"), MsgButtons::YesNo);
            if (answer != MsgAnswer::Yes) {
                cancel = true;
                return;
            }
            mci(QStringLiteral("stop capture"));
            // Leaving must not lose the recording so far.
            engine_->StopDevices();
            StopAndSave();
        } else {
            mci(QStringLiteral("stop capture"));
        }
        counter_.stop();
        timer1_.stop();
        mci(QStringLiteral("close all"));
        if (ctx_.forms) {
            ctx_.forms->unload(FormId::Mixer);
            ctx_.forms->unload(FormId::Login);
        }
        wave_->stopCapture();
        tapi_->drop();
        wave_->closeCapture();
        tapi_->setLineOpen(false);
    });
}

void FrmRecorder::closeEvent(QCloseEvent* event) {
    bool cancel = false;
    Form_Unload(cancel);
    if (cancel)
        event->ignore();
    else
        event->accept();
}

void FrmRecorder::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key >= Qt::Key_1 && key <= Qt::Key_9) {
        const bool keypad = event->modifiers() & Qt::KeypadModifier;
        Form_KeyDown((keypad ? 97 : 49) + (key - Qt::Key_1));
        return;
    }
    QWidget::keyPressEvent(event);
}

void FrmRecorder::Form_KeyDown(int keyCode) {
    PlayerLink* p = player();
    if (!p || !p->playbackActive())
        return;
    const bool digit = (keyCode >= 49 && keyCode <= 57) || (keyCode >= 97 && keyCode <= 105);
    if (digit)
        p->rewindByDigitKey(keyCode);
}

// ---- line events -----------------------------------------------------------------------

void FrmRecorder::amTapiPro1_IncomingCall(int rings) {
    guarded(QStringLiteral("amTapiPro1_IncomingCall"), [&] {
        LabelStatus->setText(QStringLiteral("Chiamata in Arrivo"));
        if (ToInt32(Val(ctx_.settings.get(QStringLiteral("Recall"), QStringLiteral("0")))) == 1) {
            recallArmed_ = true;
            recallSeconds_ = 0;
            return;
        }
        if (ctx_.settings.get(QStringLiteral("Auto Answer"), QStringLiteral("1")) ==
            QStringLiteral("1")) {
            const qint64 wanted = ToInt64(
                Val(ctx_.settings.get(QStringLiteral("Rings Before Answer"), QStringLiteral("2"))));
            if (rings >= wanted)
                tapi_->answer();
        }
    });
}

void FrmRecorder::amTapiPro1_Connected() {
    if (saving_) {
        // The capture file is still being copied: start the new capture once that is done.
        QTimer::singleShot(20, this, [this] { amTapiPro1_Connected(); });
        return;
    }
    try {
        (void)tapi_->readMember72();
        (void)tapi_->readMember35();
        tapi_->setMember46(true);
        tapi_->setMember51(4);
        tapi_->setMember51(4);
        tapi_->setMember61(65535);
        ResetForCapture();
        engine_->StartWaveCapture(!recNull());
        ShowRecordingStarted();
    } catch (const RuntimeError&) {
        // This handler ends silently on errors.
    }
}

void FrmRecorder::ResetForCapture() {
    // The player gives the sound device up, and the buttons and its status start over.
    if (PlayerLink* p = player())
        p->setPlaybackActive(false);
    mci(QStringLiteral("stop capture"));
    BtiNIReg->setEnabled(true);
    BtFineReg->setEnabled(false);
    if (PlayerLink* p = player()) {
        p->setPositionSliderValue(0);
        p->setStatusText(QStringLiteral("Stopped"));
    }
}

void FrmRecorder::amTapiPro1_Disconnected() {
    tapi_->setMember46(false);
    engine_->StopDevices();
    StopAndSave();
}

void FrmRecorder::amTapiPro1_Idle() {
    LabelStatus->setText(kWaiting);
}

// ---- buttons ---------------------------------------------------------------------------

void FrmRecorder::BtiNIReg_Click() {
    // A new capture into the file must wait until the last one is copied out of it.
    if (saving_ && !recNull())
        return;
    try {
        if (PlayerLink* p = player(); p && p->playbackActive()) {
            p->stopPlaybackBuffer();
            p->setPlaybackPosition(0);
            p->setPositionSliderValue(0);
        }
        if (OptionWaveDevice[1]->isChecked()) {
            ResetForCapture();
            if (!engine_->StartWaveCapture(!recNull())) {
                engine_->StopDevices();
                return;
            }
            ShowRecordingStarted();
        } else if (OptionWaveDevice[0]->isChecked()) {
            tapi_->setLineOpen(false);
            tapi_->setLineOpen(true);
            const QString number = ctx_.settings.get(QStringLiteral("Telephone Number"), QString());
            if (number.isEmpty()) {
                ctx_.boxes.show(QStringLiteral("N. Telefonico non impostato"));
                failurePath(0, QString());
                return;
            }
            LabelStatus->setText(QStringLiteral("Composizione"));
            tapi_->dial(number);
        }
        BtiNIReg->setEnabled(false);
        BtFineReg->setEnabled(true);
    } catch (const RuntimeError& error) {
        failurePath(error.number(), error.description());
    }
}

void FrmRecorder::failurePath(int number, const QString& description) {
    guarded(kApplicationTitle, [&] {
        if (number == kLineDeviceError) {
            ctx_.boxes.show(QStringLiteral("Controllare Settaggio Scheda Audio "));
            if (silencecrt->isChecked())
                silencecrt->setChecked(false);
            engine_->StopDevices();
            StopAndSave();
            return;
        }
        ReportError(ctx_.boxes, number, description, kApplicationTitle);
        OptionWaveDevice[0]->setEnabled(false);
        OptionWaveDevice[1]->setChecked(true);
        engine_->StopDevices();
    });
}

void FrmRecorder::BtFineReg_Click() {
    engine_->StopDevices();
    StopAndSave();
}

// ---- recording cycle -------------------------------------------------------------------

void FrmRecorder::ShowRecordingStarted() {
    LabelStatus->setText(QStringLiteral("Connesso"));
    if (recNull()) {
        LabelStatus->setText(QStringLiteral("Silence Detect"));
        return;
    }
    // A capture that never started leaves the capture file as the last recording left it;
    // marking a recording now would save that old audio again under a new name.
    if (!engine_->fileCaptureRunning())
        return;
    isRecording_ = true;
    showIStat(true);
    startTime_ = nowToSecond();
    marker_.set(startTime_);
    LbInizio->setText(FormatDateTime(startTime_));
    USEDIR->setText(ctx_.config.recFolder);
    counterTag_ = QStringLiteral("Conta");
    BtFineReg->setEnabled(true);
    BtiNIReg->setEnabled(false);
    cmdProvvisorio->setEnabled(true);
    lbstatus->setText(QStringLiteral("recording"));
}

void FrmRecorder::StopAndSave() {
    if (saving_)
        return;  // the save already running takes this recording
    LabelStatus->setText(kWaiting);
    letEventsRun();
    if (saving_)
        return;
    SavingFlag flag(saving_);
    try {
        showIStat(false);
        BtiNIReg->setEnabled(true);
        BtFineReg->setEnabled(false);
        cmdProvvisorio->setEnabled(false);
        counterTag_.clear();
        if (!isRecording_)
            return;

        endTime_ = nowToSecond();
        if (startTime_ == endTime_) {
            isRecording_ = false;
            marker_.clear();
            BtFineReg->setEnabled(false);
            BtiNIReg->setEnabled(true);
            BtPlayReg->setEnabled(true);
            LbInizio->setText(kWaitingToRecord);
            LbNow->setText(kWaitingToRecord);
            currentFile_ = ctx_.config.recordingsFolder();
            if (PlayerLink* p = player())
                p->refreshFileList();
            return;
        }

        RecordingSaver saver(ctx_.config, engine_->captureFile(), fallbackDataPath());
        saver.yield = [this] { letEventsRun(); };
        saver.report = [this](const RuntimeError& error) {
            ReportError(ctx_.boxes, error, kSaveTitle);
        };
        saver.afterCopy = [this](const SavedRecording& saved) {
            currentFile_ = saved.file;
            isRecording_ = false;
            marker_.clear();
        };
        const SavedRecording saved = saver.save(startTime_, endTime_);
        folderSize_.invalidate();
        BtFineReg->setEnabled(false);
        BtiNIReg->setEnabled(true);
        BtPlayReg->setEnabled(true);
        LbInizio->setText(kWaitingToRecord);
        LbNow->setText(kWaitingToRecord);
        PlayerLink* p = player();
        if (p)
            p->setFolderPath(ctx_.config.recordingsFolder());
        const auto number =
            Catalogue::InFolder(ctx_.homeFolder).recorderInsert(saved.catalogueName, ctx_.settings);
        if (number)
            txtprog->setText(QString::number(*number));
        if (p)
            p->refreshFileList();
    } catch (const RuntimeError& error) {
        ReportError(ctx_.boxes, error, kSaveTitle);
    }
}

void FrmRecorder::SplitRecording() {
    if (!isRecording_ || saving_)
        return;
    ctx_.config.silenceStopEnabled = QStringLiteral("0");
    engine_->CloseCapture();
    StopAndSave();
    engine_->StartWaveCapture(!recNull());
    ShowRecordingStarted();
    ctx_.config.silenceStopEnabled = QStringLiteral("1");
}

void FrmRecorder::Command2_Click() {
    if (saving_)
        return;
    ctx_.config.silenceStopEnabled = QStringLiteral("0");
    engine_->CloseCapture();
    StopAndSave();
    QString name;
    const QString next = NextFolderNumber(ctx_.config, &name);
    ctx_.config.folderNumber = next;
    CreateFolderLevel(ctx_.config.dataPath + name + u'/' + next);
    ctx_.config.recFolder = name + u'/' + next;
    if (PlayerLink* p = player()) {
        p->setFolderPath(ctx_.config.recordingsFolder());
        p->refreshFileList();
        p->setFolderSizeText(QStringLiteral("0"));
    }
    LABELSIZE->setText(QStringLiteral("0"));
    engine_->StartWaveCapture(!recNull());
    ShowRecordingStarted();
    BtiNIReg->setEnabled(false);
    BtFineReg->setEnabled(true);
    ctx_.config.silenceStopEnabled = QStringLiteral("1");
}

// ---- monitor ---------------------------------------------------------------------------

void FrmRecorder::Counter_Timer() {
    QString mode;
    mci(QStringLiteral("status capture mode"), &mode);
    lbstatus->setText(mode);
    ShowDiskTime();
    ShowFolderSize();

    if (!recallArmed_) {
        recallSeconds_ = 0;
        LABELRECALL->setText(QStringLiteral("0"));
        ProgressBar2->setValue(0);
    } else {
        if (recallSeconds_ < std::numeric_limits<std::int32_t>::max())
            ++recallSeconds_;
        LABELRECALL->setText(QString::number(recallSeconds_));
        ProgressBar2->setMaximum(std::max<int>(ctx_.config.recallTime, recallSeconds_));
        ProgressBar2->setValue(recallSeconds_);
        if (recallSeconds_ >= ctx_.config.recallTime && LabelStatus->text() == kWaiting) {
            recallArmed_ = false;
            BtiNIReg_Click();
        }
    }

    if (!isRecording_) {
        resetSilenceCountdown();
        if (silencecrt->isChecked() && !saving_) {
            OptionRecordFile[1]->setChecked(true);
            OptionWaveDevice[1]->setChecked(true);
            BtiNIReg_Click();
            BtiNIReg->setEnabled(true);
        }
    } else {
        --silenceCountdown_;
        if (counterTag_ == QStringLiteral("Conta")) {
            const QDateTime now = ctx_.clock.now();
            LbContrec->setText(FormatShortDuration(startTime_.secsTo(now)));
            LbNow->setText(FormatDateTime(now));
            ShowTempFileSize();
        }
    }
}

void FrmRecorder::Timer1_Timer() {
    if (!isRecording_ || saving_)
        return;
    ShowTempFileSize();
    const std::int64_t capture = ToInt64(Val(LABELSIZE->text()));
    PlayerLink* p = player();
    const std::int64_t folder = p ? ToInt64(Val(p->folderSizeText())) : 0;
    if (FolderLimitReached(capture, folder, dimFolder_))
        Command2_Click();
}

void FrmRecorder::amWavePro1_Level(std::int16_t a, std::int16_t b) {
    const int level = int(a) + int(b);  // two channels may add up beyond 16 bits
    ProgressBar->setValue(std::clamp(level, ProgressBar->minimum(), ProgressBar->maximum()));
    Meter.BottomCenter(ToInt16(double(ProgressBar->value()) * 10));
    if (level >= voxThreshold_) {
        resetSilenceCountdown();
    } else if (silenceCountdown_ == 0) {
        engine_->StopDevices();
        StopAndSave();
        return;
    }
    if (silencecrt->isChecked() && recNull() && level > voxThreshold_ && !saving_) {
        OptionRecordFile[0]->setChecked(true);
        engine_->StopDevices();
        StopAndSave();
        engine_->StartWaveCapture(!recNull());
        ShowRecordingStarted();
    }
}

void FrmRecorder::amWavePro1_Silence(bool silent) {
    guarded(QStringLiteral("Silence"), [&] {
        if (silent && Val(ctx_.config.silenceStopEnabled) == 1) {
            engine_->StopDevices();
            StopAndSave();
        }
    });
}

void FrmRecorder::silencecrt_Click() {
    if (silencecrt->isChecked()) {
        OptionRecordFile[1]->setChecked(true);
        OptionWaveDevice[1]->setChecked(true);
        BtiNIReg_Click();
    } else {
        BtFineReg_Click();
        OptionRecordFile[0]->setChecked(true);
    }
}

void FrmRecorder::ShowDiskTime() {
    Label2->setText(FormatShortDuration(DiskTimeSeconds(FreeBytesAt(ctx_.config.dataPath))));
}

void FrmRecorder::ShowTempFileSize() {
    letEventsRun();
    const QFileInfo capture(engine_->captureFile());
    LABELSIZE->setText(QString::number(capture.exists() ? capture.size() : 0));
}

void FrmRecorder::ShowFolderSize() {
    PlayerLink* p = player();
    QString folder = p ? p->folderPath() : QString();
    if (folder.isEmpty())
        folder = ctx_.config.recordingsFolder();
    const QString sum = QString::number(folderSize_.sum(folder));
    if (p)
        p->setFolderSizeText(sum);
}

// ---- what other windows set ------------------------------------------------------------

bool FrmRecorder::recordButtonEnabled() const {
    return BtiNIReg->isEnabled();
}

void FrmRecorder::setProgressiveNumber(const QString& text) {
    txtprog->setText(text);
}

void FrmRecorder::setFolderSizeLimit(double millionsOfBytes) {
    dimFolder_ = ToInt64(millionsOfBytes);
}

void FrmRecorder::setTelephoneSourceEnabled(bool enabled) {
    OptionWaveDevice[0]->setEnabled(enabled);
}

void FrmRecorder::selectLineInSource() {
    OptionWaveDevice[1]->setChecked(true);
}

void FrmRecorder::setVoxThresholdBar(int value, bool visible) {
    voxThreshold_ = value;
    ProgressBar1->setValue(std::clamp(value, ProgressBar1->minimum(), ProgressBar1->maximum()));
    ProgressBar1->setVisible(visible);
}

void FrmRecorder::setLevelBar(int value) {
    ProgressBar->setValue(std::clamp(value, ProgressBar->minimum(), ProgressBar->maximum()));
}

void FrmRecorder::setVoxLabel(const QString& text) {
    Label1->setText(text);
}

}  // namespace kallomir
