#include "player/ui/FrmPlayer.h"

#include "catalogue/CatalogueStore.h"
#include "catalogue/RecordingTrailer.h"
#include "catalogue/TranscriptionSave.h"
#include "controls/playback/SoundBuffer.h"
#include "controls/playback/WavePeaks.h"
#include "core/AppContext.h"
#include "core/MessageBoxService.h"
#include "core/ProcessControl.h"
#include "core/RuntimeError.h"
#include "core/VbConvert.h"
#include "evidence/EvidenceEvents.h"
#include "evidence/ui/ExportDialog.h"
#include "player/PedalControl.h"
#include "player/PlaybackRules.h"
#include "player/ui/PlayerDialogs.h"
#include "player/ui/TranscriptionEditor.h"
#include "widgets/WaveformView.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace kallomir {

namespace {

const QString kSelectFirst = QStringLiteral("Selezionare prima il file");
const QString kUnsaved = QStringLiteral("Salvare le modifiche Prima Di Uscire Dal Programma");
const QString kNotSelected = QStringLiteral("Selezionare un file ...");
constexpr int kObjectNotSet = 91;
constexpr int kTransportRowY = 200;
constexpr int kEditorY = 232;

QLabel* Caption(QWidget* parent, const QString& text, int x, int y, int w = 60, int h = 18) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, w, h);
    return label;
}

QLabel* Value(QWidget* parent, const char* name, const QString& text, int x, int y, int w) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(x, y, w, 18);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    return label;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& text, int x, int y, int w) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(x, y, w, 26);
    return button;
}

}  // namespace

FrmPlayer::FrmPlayer(AppContext& ctx, QWidget* parent)
    : QWidget(parent), ctx_(ctx), tools_(TranscriptionSettings::Load(ctx.settings)) {
    if (!ctx.dialogs)
        throw RuntimeError(kObjectNotSet, QStringLiteral("No dialogs for the player"));
    setObjectName(QStringLiteral("FrmPlayer"));
    setWindowTitle(QStringLiteral("Player"));
    buildControls();
    buildTools();
    resize(1000, 640);
    // The tools' keys and the digit rule reach the window whichever of its children has the
    // focus; the editor and the lists would otherwise take them for themselves.
    qApp->installEventFilter(this);
}

FrmPlayer::~FrmPlayer() {
    qApp->removeEventFilter(this);
    pedal_.reset();
    peaks_.reset();
}

MediaCommands& FrmPlayer::media() {
    return ctx_.media ? *ctx_.media : ownMedia_;
}

void FrmPlayer::buildControls() {
    // Positions follow the window's arrangement in twips, divided by 15.
    Caption(this, QStringLiteral("Drive"), 16, 4);
    Drive1 = new QComboBox(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setGeometry(16, 22, 160, 24);
    for (const QFileInfo& drive : QDir::drives()) Drive1->addItem(drive.absoluteFilePath());
    connect(Drive1, &QComboBox::activated, this, [this] { Drive1_Change(); });

    Caption(this, QStringLiteral("Directory"), 16, 50);
    Dir1 = new QListWidget(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setGeometry(16, 68, 160, 110);
    connect(Dir1, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        const QString target = item->data(Qt::UserRole).toString();
        if (!target.isEmpty())
            setFolderPath(target);
    });

    Caption(this, QStringLiteral("File"), 16, 182);
    FOpener = new QListWidget(this);
    FOpener->setObjectName(QStringLiteral("FOpener"));
    FOpener->setGeometry(16, 200, 160, 380);
    connect(FOpener, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0)
            return;
        openedByChange_ = true;
        FOpener_Click();
    });
    // A click on the name already selected opens that recording afresh.
    connect(FOpener, &QListWidget::itemClicked, this, [this](QListWidgetItem*) {
        if (!openedByChange_)
            FOpener_Click();
        openedByChange_ = false;
    });

    // Information panel.
    auto* heading = Caption(this, QStringLiteral("INFORMAZIONI SUL FILE"), 192, 4, 220);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    Caption(this, QStringLiteral("Etichetta"), 192, 26, 56);
    Label1 = Value(this, "Label1", kNotSelected, 248, 26, 162);
    Caption(this, QStringLiteral("Durata"), 192, 48, 56);
    LbCont = Value(this, "LbCont", kNotSelected, 248, 48, 162);
    Caption(this, QStringLiteral("Inizio"), 192, 70, 56);
    LbInizio = Value(this, "LbInizio", kNotSelected, 248, 70, 162);
    Caption(this, QStringLiteral("Fine"), 192, 92, 56);
    LbFine = Value(this, "LbFine", kNotSelected, 248, 92, 162);
    Caption(this, QStringLiteral("Qualità"), 192, 114, 56);
    lblq[0] = Value(this, "lblq0", QStringLiteral("......"), 248, 114, 162);
    Caption(this, QStringLiteral("Bits"), 192, 136, 56);
    lblq[1] = Value(this, "lblq1", QStringLiteral("......"), 248, 136, 162);
    lblq[2] = Value(this, "lblq2", QStringLiteral("......"), 248, 158, 162);
    Caption(this, QStringLiteral("Utente"), 192, 180, 56);
    txtUtente = new QLineEdit(this);
    txtUtente->setObjectName(QStringLiteral("txtUtente"));
    txtUtente->setGeometry(248, 178, 162, 20);

    // Flags, each with its caption to the left and its tick to the right.
    const QString flagCaptions[3] = {QStringLiteral("Ascoltato"), QStringLiteral("Trascritto"),
                                     QStringLiteral("Masterizzato")};
    const char* checkNames[3] = {"Check1", "Check2", "Check3"};
    const char* imageNames[3] = {"image1", "Image2", "Image3"};
    const QIcon stopIcon = style()->standardIcon(QStyle::SP_MediaStop);
    for (int i = 0; i < 3; ++i) {
        Caption(this, flagCaptions[i], 416, 26 + 22 * i, 80);
        Check[i] = new QCheckBox(this);
        Check[i]->setObjectName(QString::fromLatin1(checkNames[i]));
        Check[i]->setGeometry(498, 26 + 22 * i, 18, 18);
        Image[i] = new QLabel(this);
        Image[i]->setObjectName(QString::fromLatin1(imageNames[i]));
        Image[i]->setGeometry(518, 27 + 22 * i, 16, 16);
        Image[i]->setPixmap(stopIcon.pixmap(16, 16));
        Image[i]->setVisible(false);
        connect(Check[i], &QCheckBox::clicked, this, [this, i] { CheckN_Click(i); });
    }
    // The caller's number the line reported, below the flags.
    Caption(this, QStringLiteral("Numero"), 416, 96, 50);
    lblNumero = Value(this, "lblNumero", QString(), 466, 96, 92);

    // Clock, sliders, frequency, transport.
    Caption(this, QStringLiteral("DATA"), 560, 4, 80);
    Caption(this, QStringLiteral("ORA"), 660, 4, 80);
    LbNow = Value(this, "LbNow", QStringLiteral("00/00/0000 00:00:00"), 560, 22, 170);
    Scroller = new QSlider(Qt::Horizontal, this);
    Scroller->setObjectName(QStringLiteral("Scroller"));
    Scroller->setGeometry(560, 44, 425, 22);
    Scroller->setRange(0, 0);
    connect(Scroller, &QSlider::sliderPressed, this, &FrmPlayer::Scroller_MouseDown);
    connect(Scroller, &QSlider::sliderMoved, this, &FrmPlayer::Scroller_Scroll);
    connect(Scroller, &QSlider::sliderReleased, this, &FrmPlayer::Scroller_MouseUp);
    HS_Cursor = new QSlider(Qt::Horizontal, this);
    HS_Cursor->setObjectName(QStringLiteral("HS_Cursor"));
    HS_Cursor->setGeometry(560, 68, 425, 22);
    HS_Cursor->setRange(0, 0);
    HS_Frequenz = new QScrollBar(Qt::Horizontal, this);
    HS_Frequenz->setObjectName(QStringLiteral("HS_Frequenz"));
    HS_Frequenz->setGeometry(560, 96, 240, 18);
    HS_Frequenz->setRange(kFrequencyScrollMin, kFrequencyScrollMax);
    HS_Frequenz->setValue(kFrequencyScrollMin);
    connect(HS_Frequenz, &QScrollBar::valueChanged, this, &FrmPlayer::HS_Frequenz_Change);
    lbl_Frequenz = Value(this, "lbl_Frequenz", QStringLiteral("Frequenz: "), 560, 116, 160);
    CmdResetVel = Button(this, "CmdResetVel", QStringLiteral("Reset Velocità"), 810, 92, 110);
    connect(CmdResetVel, &QPushButton::clicked, this, &FrmPlayer::CmdResetVel_Click);
    // Hand-over of the opened recording: the export itself lives with the evidence.
    cmdEsporta = Button(this, "cmdEsporta", QStringLiteral("Esporta"), 992, 92, 64);
    connect(cmdEsporta, &QPushButton::clicked, this, [this] {
        if (openedName_.isEmpty()) {
            ctx_.boxes.show(kSelectFirst, kApplicationTitle, MsgButtons::Ok, MsgIcon::Exclamation);
            return;
        }
        ShowExportDialog(ctx_, this, {QDir(dirPath_).filePath(openedName_)});
    });

    int x = 560;
    auto next = [&x](int w) {
        const int at = x;
        x += w + 4;
        return at;
    };
    // The transport row sits below the waveform, which stands above it.
    const int row = kTransportRowY;
    cmdSalva = Button(this, "cmdSalva", QStringLiteral("Salva"), next(58), row, 58);
    btedit = Button(this, "btedit", QStringLiteral("Modifica"), next(66), row, 66);
    BtiNIReg = Button(this, "BtiNIReg", QStringLiteral("Ascolta"), next(60), row, 60);
    FastX10 = Button(this, "FastX10", QStringLiteral("Fast X 10"), next(64), row, 64);
    FastX5 = Button(this, "FastX5", QStringLiteral("Fast X 5"), next(60), row, 60);
    Btpause = Button(this, "Btpause", QStringLiteral("Pausa"), next(52), row, 52);
    BtFineReg = Button(this, "BtFineReg", QStringLiteral("Stop"), next(52), row, 52);
    BtiNIReg->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    Btpause->setIcon(style()->standardIcon(QStyle::SP_MediaPause));
    BtFineReg->setIcon(stopIcon);
    cmdSalva->setEnabled(false);
    Btpause->setEnabled(false);
    BtFineReg->setEnabled(false);
    FastX10->setEnabled(false);
    FastX5->setEnabled(false);
    connect(cmdSalva, &QPushButton::clicked, this, &FrmPlayer::cmdSalva_Click);
    connect(btedit, &QPushButton::clicked, this, &FrmPlayer::btedit_Click);
    connect(BtiNIReg, &QPushButton::clicked, this, &FrmPlayer::BtiNIReg_Click);
    connect(Btpause, &QPushButton::clicked, this, &FrmPlayer::Btpause_Click);
    connect(BtFineReg, &QPushButton::clicked, this, &FrmPlayer::BtFineReg_Click);
    connect(FastX10, &QPushButton::pressed, this, [this] { FastX10_MouseDown(); });
    connect(FastX10, &QPushButton::released, this, [this] { FastX10_MouseUp(); });
    connect(FastX5, &QPushButton::pressed, this, [this] { FastX5_MouseDown(); });
    connect(FastX5, &QPushButton::released, this, [this] { FastX5_MouseUp(); });

    Frame2 = new TranscriptionEditor(ctx_.boxes, *ctx_.dialogs, this);
    Frame2->setGeometry(184, kEditorY, 800, 380);

    LblFolderSize = new QLabel(QStringLiteral("0"), this);
    LblFolderSize->setObjectName(QStringLiteral("LblFolderSize"));
    lbstatus = new QLabel(this);
    lbstatus->setObjectName(QStringLiteral("lbstatus"));
    lbstatus->setFrameShape(QFrame::Panel);
    lbstatus->setFrameShadow(QFrame::Sunken);

    Counter = new QTimer(this);
    Counter->setObjectName(QStringLiteral("Counter"));
    Counter->setInterval(100);
    connect(Counter, &QTimer::timeout, this, &FrmPlayer::Counter_Timer);
}

void FrmPlayer::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int w = width(), h = height();
    lbstatus->setGeometry(0, h - 20, w, 20);
    LblFolderSize->setGeometry(16, h - 42, 160, 18);
    FOpener->setGeometry(16, 200, 160, std::max(60, h - 200 - 46));
    Frame2->setGeometry(184, kEditorY, std::max(300, w - 184 - 8),
                        std::max(120, h - kEditorY - 24));
    layoutTools();
}

// ---- Window load and the folder lists ------------------------------------------------

// The player goes at the left edge, 2200 twips down, as the original layout had it; this
// program's recorder window is taller than the original's, so the player starts below the
// recorder instead of covering its buttons, and the mixer stands beside the recorder. The
// player takes the height that is left when that is enough to work in.
void FrmPlayer::ArrangeFrames() {
    auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget());
    QWidget* area = frame ? frame->parentWidget() : nullptr;
    if (!frame || !area)
        return;
    QMdiSubWindow* recorder = nullptr;
    QMdiSubWindow* mixer = nullptr;
    for (auto* sub : area->findChildren<QMdiSubWindow*>(Qt::FindDirectChildrenOnly)) {
        if (dynamic_cast<RecorderLink*>(sub->widget()))
            recorder = sub;
        if (dynamic_cast<MixerLink*>(sub->widget()))
            mixer = sub;
    }
    int top = 2200 / 15;
    if (recorder)
        top = std::max(top, recorder->geometry().bottom() + 1);
    if (mixer) {
        const int besideRecorder = recorder ? recorder->geometry().right() + 1 : 0;
        if (besideRecorder + mixer->width() <= area->width()) {
            mixer->move(besideRecorder, 0);
            top = std::max(top, mixer->geometry().bottom() + 1);
        } else {
            mixer->move(0, std::max(0, area->height() - mixer->height()));
        }
    }
    frame->move(0, top);
    const int room = area->height() - top;
    if (room >= 400)
        frame->resize(frame->width(), room);
}

void FrmPlayer::Form_Load() {
    if (ctx_.forms)
        ctx_.forms->show(FormId::Mixer);
    ArrangeFrames();

    const QString dataPath = ctx_.config.dataPath;
    const QString folder = ctx_.config.recordingsFolder();
    if (!dataPath.isEmpty())
        QDir().mkpath(dataPath);
    if (!folder.isEmpty())
        QDir().mkpath(folder);
    setFolderPath(folder.isEmpty() ? QDir::homePath() : QDir::cleanPath(folder));

    SetEditMode(false);

    try {
        if (!ctx_.playbackDevices)
            throw RuntimeError(kObjectNotSet, QStringLiteral("Nessun dispositivo audio"));
        device_ = ctx_.playbackDevices();
        if (!device_)
            throw RuntimeError(kObjectNotSet, QStringLiteral("Nessun dispositivo audio"));
    } catch (const RuntimeError& e) {
        device_.reset();
        ctx_.boxes.show(QStringLiteral("Direct Sound non è stato inizializzato ") + u'\r' +
                            QString::number(e.number()) + u'/' + e.description(),
                        kApplicationTitle, MsgButtons::Ok);
    }
}

void FrmPlayer::Drive1_Change() {
    const QString drive = Drive1->currentText();
    if (QDir(drive).exists())
        setFolderPath(drive);
}

void FrmPlayer::setFolderPath(const QString& path) {
    // Pointed again at the folder it shows (after every saved recording, after the settings):
    // the lists are brought up to date, but the opened recording's marks and text stay.
    const bool sameFolder = !dirPath_.isEmpty() && QDir::cleanPath(path) == dirPath_;
    dirPath_ = QDir::cleanPath(path);
    Dir1->clear();
    QDir dir(dirPath_);
    auto* here = new QListWidgetItem(dirPath_, Dir1);
    here->setData(Qt::UserRole, QString());
    if (dir.cdUp()) {
        auto* up = new QListWidgetItem(QStringLiteral(".."), Dir1);
        up->setData(Qt::UserRole, dir.absolutePath());
    }
    const QStringList children =
        QDir(dirPath_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& child : children) {
        auto* item = new QListWidgetItem(child, Dir1);
        item->setData(Qt::UserRole, QDir(dirPath_).filePath(child));
    }
    if (sameFolder) {
        refreshFileList();
        return;
    }
    Dir1_Change();
}

void FrmPlayer::Dir1_Change() {
    refreshFileList();
    for (QCheckBox* box : Check) box->setChecked(false);
    showTicks();
}

void FrmPlayer::refreshFileList() {
    const QString keep = selectedName();
    const QSignalBlocker block(FOpener);
    FOpener->clear();
    const QStringList files = QDir(dirPath_).entryList({QStringLiteral("*.Ems")}, QDir::Files,
                                                       QDir::Name | QDir::IgnoreCase);
    FOpener->addItems(files);
    if (!keep.isEmpty()) {
        const auto found = FOpener->findItems(keep, Qt::MatchExactly);
        if (!found.isEmpty())
            FOpener->setCurrentItem(found.front());
    }
}

QString FrmPlayer::selectedName() const {
    const QListWidgetItem* item = FOpener->currentItem();
    return item ? item->text() : QString();
}

// ---- Opening a recording --------------------------------------------------------------

void FrmPlayer::showTicks() {
    for (int i = 0; i < 3; ++i) Image[i]->setVisible(Check[i]->isChecked());
}

void FrmPlayer::showRow(const CatalogueRow& row) {
    Check[0]->setChecked(row.letto);
    Check[1]->setChecked(row.scritto);
    Check[2]->setChecked(row.tradotto);
    txtUtente->setText(row.user);
    lblNumero->setText(row.numero);
    lblNumero->setToolTip(row.numero);
    if (row.traduzione)
        Frame2->setTextRtf(row.traduzione->toUtf8());
}

void FrmPlayer::ShowMciError(int code) {
    ctx_.boxes.show(MediaCommands::errorText(code), kApplicationTitle, MsgButtons::Ok,
                    MsgIcon::Critical);
}

void FrmPlayer::FOpener_Click() {
    const QString name = selectedName();
    if (name.isEmpty())
        return;
    const QString path = QDir(dirPath_).filePath(name);
    saveHeard();  // what was heard of the recording open until now
    openedName_ = name;
    Paused = false;
    rewindOnResume_ = false;
    Check[0]->setChecked(false);

    // The catalogue row: found, or made for a recording that has none yet.
    Frame2->clearText();
    lblNumero->clear();
    openedVersion_.reset();
    try {
        CatalogueStore& catalogue = *ctx_.catalogue;
        std::optional<CatalogueRow> row = catalogue.find(name);
        if (!row) {
            catalogue.playerInsert(
                name, ctx_.settings.get(QStringLiteral("etichetta"), QStringLiteral("Not Set")),
                txtUtente->text());
            row = catalogue.find(name);
        }
        if (row) {
            openedVersion_ = row->versione;
            showRow(*row);
            // A row the player made has no running number: the recorder's box keeps its own.
            if (row->progressivo && ctx_.forms) {
                ctx_.forms->recorder().setProgressiveNumber(QString::number(*row->progressivo));
            }
        }
    } catch (const RuntimeError& e) {
        // Listening still works without the catalogue; the operator learns why the marks
        // and the text are missing.
        ReportError(ctx_.boxes, e, QStringLiteral("FOpener_Click"));
        for (QCheckBox* box : Check) box->setChecked(false);
    }
    showTicks();

    media().send(QStringLiteral("close all"));

    // The trailer: folder tag, start and end.
    const std::optional<RecordingTrailer> trailer = RecordingTrailer::ReadFromFile(path);
    std::optional<QDateTime> start = trailer ? trailer->start() : std::nullopt;
    std::optional<QDateTime> end = trailer ? trailer->end() : std::nullopt;
    StartTime = start.value_or(QDateTime());
    EndTime = end.value_or(QDateTime());
    Label1->setText(trailer ? trailer->folderTag : QString());
    LbInizio->setText(start ? FormatDateTime(*start) : QString());
    LbFine->setText(end ? FormatDateTime(*end) : QString());
    const bool timesKnown = start && end;
    if (!timesKnown) {
        ctx_.boxes.show(QStringLiteral("Il file ") + name +
                            QStringLiteral(" non contiene l'ora di inizio e di fine della "
                                           "registrazione: la durata è calcolata dall'audio."),
                        kApplicationTitle, MsgButtons::Ok, MsgIcon::Exclamation);
    }

    // The format through the media alias.
    int code = media().send(QStringLiteral("open ") + path +
                            QStringLiteral(" type waveaudio alias capture"));
    if (code != 0) {
        ShowMciError(code);
        return;
    }
    const QString items[3] = {QStringLiteral("bitspersample"), QStringLiteral("samplespersec"),
                              QStringLiteral("channels")};
    QString* targets[3] = {&BitsPerSample, &SampleRate, &Channels};
    for (int i = 0; i < 3; ++i) {
        QString reply;
        code = media().send(QStringLiteral("status capture ") + items[i], &reply);
        if (code != 0) {
            ShowMciError(code);
            return;
        }
        if (!reply.isEmpty())
            *targets[i] = reply;
    }
    lblq[0]->setText(SampleRate);
    lblq[1]->setText(BitsPerSample);
    lblq[2]->setText(Val(Channels) == 1 ? QStringLiteral("MONO") : QStringLiteral("STEREO"));

    const std::int64_t seconds = timesKnown ? StartTime.secsTo(EndTime) : 0;
    Scroller->setMaximum(static_cast<int>(std::clamp<std::int64_t>(seconds, 0, INT_MAX)));
    Scroller->setValue(0);
    LbCont->setText(FormatDuration(seconds));
    LbNow->setText(timesKnown ? FormatDateTime(StartTime) : QStringLiteral("00/00/0000 00:00:00"));

    RecordingLoaded = true;
    try {
        loadBuffer(path);
        openHeard(path);
        if (!timesKnown)
            LbCont->setText(FormatDuration(Scroller->maximum()));
    } catch (const RuntimeError& e) {
        ctx_.boxes.show(QStringLiteral("Errore di Caricamento File ") + u'\r' +
                            QString::number(e.number()) + u'/' + e.description(),
                        kApplicationTitle, MsgButtons::Ok);
    }
}

void FrmPlayer::loadBuffer(const QString& path) {
    if (!device_)
        throw RuntimeError(kObjectNotSet, QStringLiteral("Dispositivo audio non inizializzato"));
    // The new buffer replaces the old one only once it exists.
    std::unique_ptr<SoundBuffer> fresh = SoundBuffer::FromFile(path, *device_);
    peaks_.reset();  // it reads the old buffer's audio
    buffer_ = std::move(fresh);
    buffer_->SetTempo(tools_.tempoTenths / 10.0);
    peaks_ = std::make_unique<WavePeaks>(buffer_->image());
    WavePeaks* peaks = peaks_.get();
    Waveform->setSource(
        [peaks](int count, float* low, float* high) { return peaks->columns(count, low, high); });
    Waveform->setPosition(0);
    pollWaveform();
    const int frequency = buffer_->GetFrequency();
    HS_Frequenz->setValue(FrequencyScrollValue(frequency));
    NativeFrequencyValue = frequency / 10;
    BufferBytes = buffer_->length();
    const std::int64_t perSecond = buffer_->format().avgBytesPerSecond;
    const auto range = static_cast<int>(
        std::clamp<std::int64_t>(SecondsForBytes(BufferBytes, perSecond), 0, INT_MAX));
    Scroller->setMaximum(range);
    HS_Cursor->setMaximum(range);
    BytesPerSecond = perSecond;
    Counter->start();
    HS_Cursor->setValue(0);
}

// ---- Transport ----------------------------------------------------------------------

bool FrmPlayer::recorderBusy() {
    return ctx_.forms && !ctx_.forms->recorder().recordButtonEnabled();
}

void FrmPlayer::BtiNIReg_Click() {
    if (recorderBusy())
        return;
    if (!RecordingLoaded) {
        ctx_.boxes.show(kSelectFirst, kApplicationTitle, MsgButtons::Ok);
        return;
    }
    FastX10->setEnabled(true);
    FastX5->setEnabled(true);
    if (!buffer_)
        return;
    if (Paused) {
        // Every resume after a pause steps back a little, so the last words are heard again.
        if (rewindOnResume_ && tools_.autoRewindSeconds > 0) {
            buffer_->SetCurrentPosition(MovedPosition(buffer_->GetCurrentPosition(),
                                                      -tools_.autoRewindSeconds, BytesPerSecond,
                                                      BufferBytes, buffer_->format().blockAlign));
        }
        rewindOnResume_ = false;
        heard_.interrupt();
        buffer_->Play();
        Counter->start();
        PlaybackActive = true;
        Paused = false;
        return;
    }
    heard_.interrupt();
    buffer_->SetCurrentPosition(
        PlayStartPosition(HS_Cursor->value(), Scroller->maximum(), BytesPerSecond));
    buffer_->Play();
    Counter->start();
    PlaybackActive = true;
}

void FrmPlayer::Btpause_Click() {
    if (buffer_)
        buffer_->Stop();
    Paused = true;
    rewindOnResume_ = true;
    BtiNIReg->setEnabled(true);
    heard_.interrupt();
    saveHeard();
}

void FrmPlayer::BtFineReg_Click() {
    if (!PlaybackActive)
        return;
    PlaybackActive = false;
    if (buffer_) {
        buffer_->Stop();
        buffer_->SetCurrentPosition(0);
    }
    Scroller->setValue(0);
    heard_.interrupt();
    rewindOnResume_ = false;
    saveHeard();
}

void FrmPlayer::showTimeAt(std::int64_t seconds) {
    if (StartTime.isValid())
        LbNow->setText(FormatDateTime(StartTime.addSecs(seconds)));
}

void FrmPlayer::Counter_Timer() {
    if (!buffer_)
        return;
    const int status = buffer_->GetStatus();
    if (status == 1 || status == 5) {
        BtiNIReg->setEnabled(false);
        BtFineReg->setEnabled(true);
        Btpause->setEnabled(true);
    } else {
        BtiNIReg->setEnabled(true);
        BtFineReg->setEnabled(false);
        Btpause->setEnabled(false);
        if (Paused) {
            Btpause->setEnabled(true);
            Counter->stop();
        }
        Scroller->setValue(0);
    }
    const std::int64_t p = buffer_->GetCurrentPosition();
    if (p > 0) {
        const std::int64_t s = SecondsForBytes(p, BytesPerSecond);
        Scroller->setValue(static_cast<int>(s));
        showTimeAt(s);
    }
    trackHeard(status == SoundBuffer::kStatusPlaying, p);
    if (BufferBytes > 0)
        Waveform->setPosition(static_cast<double>(p) / static_cast<double>(BufferBytes));
}

void FrmPlayer::Scroller_MouseDown() {
    if (RecordingLoaded && buffer_)
        buffer_->Stop();
}

void FrmPlayer::Scroller_Scroll() {
    if (!RecordingLoaded) {
        Scroller->setValue(0);
        ctx_.boxes.show(kSelectFirst, kApplicationTitle, MsgButtons::Ok);
        return;
    }
    if (buffer_)
        buffer_->SetCurrentPosition(DragPosition(Scroller->value(), BytesPerSecond, BufferBytes));
    heard_.interrupt();
    rewindOnResume_ = false;
}

void FrmPlayer::Scroller_MouseUp() {
    if (!RecordingLoaded || !buffer_)
        return;
    buffer_->Play();
    Counter->start();
    // A play started here is a play like any other: Stop and the recorder must see it.
    PlaybackActive = true;
    Paused = false;
}

// ---- Speed and frequency ------------------------------------------------------------

void FrmPlayer::HS_Frequenz_Change() {
    const int hertz = HS_Frequenz->value() * 10;
    lbl_Frequenz->setText(FrequencyLabel(hertz));
    // Audio played too fast since the last reading must not count once slower again.
    if (!listeningSpeed())
        heard_.interrupt();
    if (buffer_)
        buffer_->SetFrequency(hertz);
}

void FrmPlayer::CmdResetVel_Click() {
    if (NativeFrequencyValue > 0)
        HS_Frequenz->setValue(NativeFrequencyValue);
}

void FrmPlayer::fastDown(bool ten) {
    if (!RecordingLoaded) {
        ctx_.boxes.show(kSelectFirst, kApplicationTitle, MsgButtons::Ok);
        return;
    }
    if (!buffer_)
        return;
    heard_.interrupt();  // skimming is not listening
    if (const auto factors = FastFactorTable(NativeFrequencyValue)) {
        const int f = buffer_->GetFrequency();
        buffer_->SetFrequency(FastPressedFrequency(f, ten ? factors->x10 : factors->x5));
        fastRestore_ = f;
        fastSet_ = buffer_->GetFrequency();
    }
    lbl_Frequenz->setText(FrequencyLabel(buffer_->GetFrequency()));
}

void FrmPlayer::fastUp(bool ten) {
    if (!RecordingLoaded || !buffer_)
        return;
    heard_.interrupt();
    if (const auto factors = FastFactorTable(NativeFrequencyValue)) {
        const int f = buffer_->GetFrequency();
        // When the press was capped at the buffer's highest frequency, dividing would not
        // give the frequency back: restore the one the press started from.
        if (fastRestore_ && f == fastSet_) {
            buffer_->SetFrequency(*fastRestore_);
        } else {
            buffer_->SetFrequency(FastReleasedFrequency(f, ten ? factors->x10 : factors->x5));
        }
        fastRestore_.reset();
    }
    lbl_Frequenz->setText(FrequencyLabel(buffer_->GetFrequency()));
}

// ---- Editing and saving --------------------------------------------------------------

void FrmPlayer::SetEditMode(bool enable) {
    for (QCheckBox* box : Check) box->setEnabled(enable);
    // The stored text stays readable with editing off: read-only, not greyed out.
    Frame2->setEditable(enable);
    txtUtente->setEnabled(enable);
    FOpener->setEnabled(!enable);
    btedit->setIcon(style()->standardIcon(enable ? QStyle::SP_DialogCancelButton
                                                 : QStyle::SP_FileDialogContentsView));
}

void FrmPlayer::btedit_Click() {
    if (btedit->text() == QStringLiteral("Modifica")) {
        btedit->setText(QStringLiteral("Annulla"));
        cmdSalva->setEnabled(true);
        SetEditMode(true);
    } else {
        btedit->setText(QStringLiteral("Modifica"));
        cmdSalva->setEnabled(false);
        SetEditMode(false);
    }
}

void FrmPlayer::cmdSalva_Click() {
    try {
        PlayerMarks marks;
        marks.letto = Check[0]->isChecked();
        marks.scritto = Check[1]->isChecked();
        marks.tradotto = Check[2]->isChecked();
        marks.traduzione = QString::fromLatin1(Frame2->textRtf());
        // The opened recording's name: a refresh of the list while editing (a recording
        // saved meanwhile) must not send the text to another row or to none.
        const TranscriptionSaveOutcome outcome = SaveTranscription(
            *ctx_.catalogue, ctx_.boxes, openedName_, marks,
            ctx_.settings.get(QStringLiteral("etichetta"), QStringLiteral("Not Set")),
            txtUtente->text(), openedVersion_.value_or(kUnseenVersion));
        using Kind = TranscriptionSaveOutcome::Kind;
        if (outcome.kind == Kind::NoRow) {
            // The row is gone (the catalogue was emptied meanwhile): editing stays on, so the
            // text is still there to be saved to a file.
            ctx_.boxes.show(QStringLiteral("La registrazione %1 non è più nel catalogo: la "
                                           "trascrizione non è stata salvata. Salvarla in un file "
                                           "con \"Salva il file\".")
                                .arg(openedName_),
                            kApplicationTitle, MsgButtons::Ok, MsgIcon::Exclamation);
            return;
        }
        if (outcome.kind == Kind::StillEditing)
            return;
        openedVersion_ = outcome.row->versione;
        if (outcome.kind == Kind::KeptOther) {
            // The other operator's marks and text, as the catalogue holds them now.
            Frame2->clearText();
            showRow(*outcome.row);
            showTicks();
        } else {
            LogTranscriptionSaved(ctx_, openedName_, marks.traduzione);
            LogMarksChanged(ctx_, openedName_, marks.letto, marks.scritto, marks.tradotto);
        }
    } catch (const RuntimeError& e) {
        // Editing stays on, so nothing typed is lost and the operator can save again.
        ReportError(ctx_.boxes, e, QStringLiteral("cmdSalva_Click"));
        return;
    }
    btedit->setText(QStringLiteral("Modifica"));
    cmdSalva->setEnabled(false);
    SetEditMode(false);
}

void FrmPlayer::CheckN_Click(int index) {
    if (index == 0 && Check[0]->isChecked() && RecordingLoaded && durationMs() > 0) {
        const int heard = heardPercent();
        if (heard < 95) {
            const MsgAnswer answer = ctx_.boxes.show(
                QStringLiteral("Ascoltato solo il %1% della registrazione. Segnare comunque?")
                    .arg(heard),
                kApplicationTitle, MsgButtons::YesNo, MsgIcon::Question);
            if (answer != MsgAnswer::Yes)
                Check[0]->setChecked(false);
        }
    }
    if (index >= 0 && index < 3)
        Image[index]->setVisible(Check[index]->isChecked());
}

// ---- Links and closing ---------------------------------------------------------------

bool FrmPlayer::saveButtonEnabled() const {
    return cmdSalva->isEnabled();
}

void FrmPlayer::stopPlaybackBuffer() {
    if (buffer_)
        buffer_->Stop();
}

void FrmPlayer::setPlaybackPosition(long long bytes) {
    if (buffer_)
        buffer_->SetCurrentPosition(bytes);
    heard_.interrupt();
}

int FrmPlayer::positionSliderValue() const {
    return Scroller->value();
}

void FrmPlayer::setPositionSliderValue(int seconds) {
    Scroller->setValue(seconds);
}

void FrmPlayer::setStatusText(const QString& text) {
    lbstatus->setText(text);
}

QString FrmPlayer::folderSizeText() const {
    return LblFolderSize->text();
}

void FrmPlayer::setFolderSizeText(const QString& text) {
    LblFolderSize->setText(text);
}

void FrmPlayer::rewindByDigitKey(int keyCode) {
    if (!PlaybackActive || !buffer_)
        return;
    if (const auto b = DigitRewindPosition(keyCode, Scroller->value(), BytesPerSecond)) {
        buffer_->SetCurrentPosition(*b);
        heard_.interrupt();
    }
}

void FrmPlayer::keyPressEvent(QKeyEvent* event) {
    // Digits rewind only while editing is off, so typing never moves playback.
    if (!editing() && event->key() >= Qt::Key_1 && event->key() <= Qt::Key_9) {
        rewindByDigitKey(event->key());
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FrmPlayer::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    if (saveButtonEnabled()) {
        ctx_.boxes.show(kUnsaved, kApplicationTitle, MsgButtons::Ok, MsgIcon::Critical);
        event->ignore();
        return;
    }
    BtFineReg_Click();
    saveHeard();
    closing_ = true;
    // A running recording is stopped and saved by the recorder's own closing before the
    // shared media alias is released.
    if (ctx_.forms && !ctx_.forms->unload(FormId::Recorder)) {
        closing_ = false;
        event->ignore();
        return;
    }
    media().send(QStringLiteral("stop capture"));
    media().send(QStringLiteral("close all"));
    Counter->stop();
    pedal_.reset();
    peaks_.reset();
    buffer_.reset();
    if (ctx_.forms)
        ctx_.forms->unload(FormId::Mixer);
    // Ending the process closes every other window.
    ctx_.process.endProcess(0);
    event->accept();
}

}  // namespace kallomir
