#include "recorder/ui/FrmRecorder.h"

#include "controls/LineRegistrationText.h"
#include "core/AppContext.h"
#include "core/GeneralSound.h"
#include "core/VbConvert.h"
#include "recorder/RecorderSession.h"
#include "recorder/RecorderTexts.h"
#include "widgets/PictureBox.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyle>

#include <algorithm>
#include <array>
#include <utility>

namespace kallomir {

FrmRecorder::FrmRecorder(AppContext& ctx, QWidget* parent)
    : QWidget(parent), ctx_(ctx), session_(std::make_unique<RecorderSession>(ctx)) {
    setObjectName(QStringLiteral("FrmRecorder"));
    setWindowTitle(QStringLiteral("Recorder"));
    buildControls();
    connectControls();
}

FrmRecorder::~FrmRecorder() = default;

FrmRecorder* FrmRecorder::Create(AppContext& ctx, QWidget* parent) {
    auto* window = new FrmRecorder(ctx, parent);
    window->Form_Load();
    return window;
}

// Three columns side by side (the line and its buttons, the times, the levels) keep the
// window low enough for the player to fit below it on a 768-line screen.
void FrmRecorder::buildControls() {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setSpacing(6);

    auto* line = new QGroupBox(this);
    auto* lineGrid = new QGridLayout(line);
    lineGrid->setVerticalSpacing(4);
    LabelStatus = new QLabel(line);
    LabelStatus->setObjectName(QStringLiteral("LabelStatus"));
    QFont big = LabelStatus->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    LabelStatus->setFont(big);
    lbstatus = new QLabel(QStringLiteral("Status"), line);
    IStat = new QLabel(line);
    IStat->setFixedSize(32, 32);
    lbLine = new QLabel(line);
    lbLine->setObjectName(QStringLiteral("lbLine"));
    lbLine->setWordWrap(true);
    lineGrid->addWidget(IStat, 0, 0, 2, 1);
    lineGrid->addWidget(LabelStatus, 0, 1, 1, 2);
    lineGrid->addWidget(lbstatus, 1, 1, 1, 2);
    lineGrid->addWidget(lbLine, 2, 0, 1, 3);

    BtiNIReg = new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay),
                               QStringLiteral("Registra / Chiama"), line);
    BtFineReg = new QPushButton(style()->standardIcon(QStyle::SP_MediaStop),
                                QStringLiteral("Stop / Chiudi"), line);
    BtPlayReg = new QPushButton(QStringLiteral("Ascolta"), line);
    cmdProvvisorio = new QPushButton(QStringLiteral("P a r z i a l i z z a"), line);
    Command2 = new QPushButton(QStringLiteral("Command2"), line);
    Command1 = new QPushButton(QStringLiteral("Fine"), line);
    BtFineReg->setEnabled(false);
    BtPlayReg->setEnabled(false);
    BtPlayReg->hide();
    cmdProvvisorio->setEnabled(false);
    Command2->hide();
    Command1->hide();
    lineGrid->addWidget(BtiNIReg, 3, 0, 1, 2);
    lineGrid->addWidget(BtFineReg, 3, 2);
    lineGrid->addWidget(cmdProvvisorio, 4, 0, 1, 3);

    auto* sources = new QButtonGroup(this);
    const QStringList sourceNames{QStringLiteral("Telefono"), QStringLiteral("Line In"),
                                  QStringLiteral("Impegno linea")};
    for (int i = 0; i < 3; ++i) {
        OptionWaveDevice[i] = new QRadioButton(sourceNames[i], line);
        sources->addButton(OptionWaveDevice[i], i);
        lineGrid->addWidget(OptionWaveDevice[i], 5 + i, 0, 1, 2);
    }
    OptionWaveDevice[0]->setChecked(true);
    OptionWaveDevice[2]->setEnabled(false);
    OptionWaveDevice[2]->hide();
    auto* targets = new QButtonGroup(this);
    const QStringList targetNames{QStringLiteral("Rec File"), QStringLiteral("Rec Null")};
    for (int i = 0; i < 2; ++i) {
        OptionRecordFile[i] = new QRadioButton(targetNames[i], line);
        targets->addButton(OptionRecordFile[i], i);
        lineGrid->addWidget(OptionRecordFile[i], 5 + i, 2);
    }
    OptionRecordFile[0]->setChecked(true);
    silencecrt = new QCheckBox(QStringLiteral("Silence Detect"), line);
    lineGrid->addWidget(silencecrt, 7, 2);
    grid->addWidget(line, 0, 0);

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
    timesGrid->setVerticalSpacing(4);
    LbInizio = new QLabel(texts::kWaitingToRecord, times);
    LbNow = new QLabel(texts::kWaitingToRecord, times);
    LbContrec = new QLabel(QStringLiteral("00:00:00:00"), times);
    Label2 = new QLabel(QStringLiteral("00:00:00"), times);
    USEDIR = new QLabel(QStringLiteral("Folder di registrazione"), times);
    Label3 = new QLabel(QStringLiteral("Progressivo N°"), times);
    txtprog = new QLineEdit(times);
    txtprog->setMaximumWidth(120);
    LABELSIZE = new QLabel(QStringLiteral("0"), times);
    const std::array<std::pair<QLabel*, QWidget*>, 6> rows{{{Eti[6], LbInizio},
                                                            {Eti[5], LbNow},
                                                            {Eti[4], LbContrec},
                                                            {Eti[0], Label2},
                                                            {Eti[3], USEDIR},
                                                            {Label3, txtprog}}};
    for (int r = 0; r < int(rows.size()); ++r) {
        timesGrid->addWidget(rows[r].first, r, 0);
        timesGrid->addWidget(rows[r].second, r, 1);
    }
    timesGrid->addWidget(LABELSIZE, 6, 1);
    lbNotice = new QLabel(times);
    lbNotice->setObjectName(QStringLiteral("lbNotice"));
    lbNotice->setWordWrap(true);
    lbNotice->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    timesGrid->addWidget(lbNotice, 7, 0, 1, 2);
    timesGrid->setRowStretch(8, 1);
    grid->addWidget(times, 0, 1);

    auto* levels = new QGroupBox(this);
    auto* levelsGrid = new QGridLayout(levels);
    levelsGrid->setVerticalSpacing(4);
    ProgressBar = new QProgressBar(levels);
    ProgressBar1 = new QProgressBar(levels);
    ProgressBar2 = new QProgressBar(levels);
    for (QProgressBar* bar : {ProgressBar, ProgressBar1, ProgressBar2}) {
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        bar->setMaximumHeight(14);
    }
    ProgressBar2->setRange(0, 15);
    Label1 = new QLabel(levels);
    LABELRECALL = new QLabel(QStringLiteral("0"), levels);
    picture3_ = new PictureBox(levels);
    picture3_->setObjectName(QStringLiteral("Picture3"));
    picture3_->setFixedSize(160, 100);
    picture3_->setBackColor(Qt::black);
    picture3_->setForeColor(Qt::green);
    levelsGrid->addWidget(picture3_, 0, 0, 1, 2, Qt::AlignHCenter);
    levelsGrid->addWidget(Eti[1], 1, 0, 1, 2);
    levelsGrid->addWidget(ProgressBar, 2, 0, 1, 2);
    levelsGrid->addWidget(Eti[2], 3, 0, 1, 2);
    levelsGrid->addWidget(ProgressBar1, 4, 0, 1, 2);
    levelsGrid->addWidget(Label1, 5, 0, 1, 2);
    levelsGrid->addWidget(LABELRECALL, 6, 0);
    levelsGrid->addWidget(ProgressBar2, 6, 1);
    levelsGrid->setRowStretch(7, 1);
    grid->addWidget(levels, 0, 2);
}

void FrmRecorder::connectControls() {
    RecorderSession& s = *session_;
    connect(BtiNIReg, &QPushButton::clicked, &s, [&s] { s.BtiNIReg_Click(); });
    connect(BtFineReg, &QPushButton::clicked, &s, [&s] { s.BtFineReg_Click(); });
    connect(cmdProvvisorio, &QPushButton::clicked, &s, [&s] { s.cmdProvvisorio_Click(); });
    connect(Command2, &QPushButton::clicked, &s, [&s] { s.Command2_Click(); });
    // Only the operator's own clicks reach the cycle; render() moves the boxes silently.
    connect(silencecrt, &QCheckBox::clicked, &s, [&s](bool ticked) { s.silencecrt_Click(ticked); });
    connect(OptionWaveDevice[0], &QRadioButton::clicked, &s,
            [&s] { s.selectSource(RecordSource::Telephone); });
    connect(OptionWaveDevice[1], &QRadioButton::clicked, &s,
            [&s] { s.selectSource(RecordSource::LineIn); });
    connect(OptionRecordFile[0], &QRadioButton::clicked, &s,
            [&s] { s.selectTarget(RecordTarget::File); });
    connect(OptionRecordFile[1], &QRadioButton::clicked, &s,
            [&s] { s.selectTarget(RecordTarget::Null); });
    connect(&s, &RecorderSession::stateChanged, this, [this] { render(); });
}

void FrmRecorder::Form_Load() {
    move(0, 0);
    Meter.NewLCD(*picture3_);
    Meter.BottomCenter(0);
    session_->Form_Load();
    render();
}

bool FrmRecorder::Form_Unload() {
    return session_->Form_Unload();
}

void FrmRecorder::render() {
    const RecorderState& st = session_->state();
    LabelStatus->setText(LineStatusText(st.lineStatus));
    lbstatus->setText(st.captureStatus);
    lbLine->setText(LineRegistrationText(st.registration));
    lbNotice->setText(st.notice);
    lbNotice->setVisible(!st.notice.isEmpty());
    LbInizio->setText(st.startText);
    LbNow->setText(st.nowText);
    LbContrec->setText(st.elapsedText);
    Label2->setText(st.diskTimeText);
    LABELSIZE->setText(QString::number(st.captureFileSize));
    USEDIR->setText(st.useDir);
    if (!txtprog->hasFocus())
        txtprog->setText(st.progressive);
    Label1->setText(st.voxLabel);
    LABELRECALL->setText(QString::number(st.recallSeconds));
    ProgressBar2->setMaximum(std::max<int>(ctx_.config.recallTime, st.recallSeconds));
    ProgressBar2->setValue(st.recallSeconds);
    ProgressBar->setValue(std::clamp(st.level, ProgressBar->minimum(), ProgressBar->maximum()));
    ProgressBar1->setValue(
        std::clamp(st.voxThreshold, ProgressBar1->minimum(), ProgressBar1->maximum()));
    ProgressBar1->setVisible(st.voxThresholdVisible);
    if (ProgressBar->value() != drawnLevel_) {
        drawnLevel_ = ProgressBar->value();
        Meter.BottomCenter(ToInt16(double(drawnLevel_) * 10));
    }
    BtiNIReg->setEnabled(st.recordEnabled);
    BtFineReg->setEnabled(st.stopEnabled);
    cmdProvvisorio->setEnabled(st.splitEnabled);
    BtPlayReg->setEnabled(st.playEnabled);
    IStat->setPixmap((st.showsRecording ? BtiNIReg : BtFineReg)->icon().pixmap(32, 32));
    const QSignalBlocker blockBox(silencecrt);
    silencecrt->setChecked(st.silenceDetect);
    OptionWaveDevice[0]->setEnabled(st.telephoneSourceEnabled);
    OptionWaveDevice[st.source == RecordSource::Telephone ? 0 : 1]->setChecked(true);
    OptionRecordFile[st.target == RecordTarget::File ? 0 : 1]->setChecked(true);
}

void FrmRecorder::closeEvent(QCloseEvent* event) {
    if (Form_Unload())
        event->accept();
    else
        event->ignore();
}

void FrmRecorder::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key >= Qt::Key_1 && key <= Qt::Key_9) {
        const bool keypad = event->modifiers() & Qt::KeypadModifier;
        session_->Form_KeyDown((keypad ? 97 : 49) + (key - Qt::Key_1));
        return;
    }
    QWidget::keyPressEvent(event);
}

// ---- what other windows set -------------------------------------------------------------

bool FrmRecorder::recordButtonEnabled() const {
    return session_->state().recordEnabled;
}

void FrmRecorder::setProgressiveNumber(const QString& text) {
    session_->setProgressiveNumber(text);
}

void FrmRecorder::setFolderSizeLimit(double millionsOfBytes) {
    session_->setFolderSizeLimit(millionsOfBytes);
}

void FrmRecorder::setTelephoneSourceEnabled(bool enabled) {
    session_->setTelephoneSourceEnabled(enabled);
}

void FrmRecorder::selectLineInSource() {
    session_->selectLineInSource();
}

void FrmRecorder::setVoxThresholdBar(int value, bool visible) {
    session_->setVoxThresholdBar(value, visible);
}

void FrmRecorder::setVoxLabel(const QString& text) {
    session_->setVoxLabel(text);
}

void FrmRecorder::setLevelBar(int value) {
    session_->setLevelBar(value);
}

void FrmRecorder::digitKeyPressed(int keyCode) {
    session_->Form_KeyDown(keyCode);
}

}  // namespace kallomir
