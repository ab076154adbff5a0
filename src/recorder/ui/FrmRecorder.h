#pragma once

#include "core/FormLinks.h"
#include "widgets/Strum.h"

#include <QWidget>

#include <array>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace kallomir {

struct AppContext;
class PictureBox;
class RecorderSession;

// The recorder window: shows the recording cycle's state and hands the operator's clicks
// and keys to it. The cycle itself (line, capture, saves, monitor) is the RecorderSession.
class FrmRecorder : public QWidget, public RecorderLink {
    Q_OBJECT
public:
    FrmRecorder(AppContext& ctx, QWidget* parent = nullptr);
    ~FrmRecorder() override;

    // A loaded window, as the window registry wants it.
    static FrmRecorder* Create(AppContext& ctx, QWidget* parent = nullptr);

    void Form_Load();
    // False when the operator chose to stay.
    bool Form_Unload();

    // RecorderLink
    RecorderSession& session() override { return *session_; }
    bool recordButtonEnabled() const override;
    void setProgressiveNumber(const QString& text) override;
    void setFolderSizeLimit(double millionsOfBytes) override;
    void setTelephoneSourceEnabled(bool enabled) override;
    void selectLineInSource() override;
    void setVoxThresholdBar(int value, bool visible) override;
    void setVoxLabel(const QString& text) override;
    void setLevelBar(int value) override;
    void digitKeyPressed(int keyCode) override;

    PictureBox& picture3() { return *picture3_; }

    QPushButton* BtiNIReg = nullptr;
    QPushButton* BtFineReg = nullptr;
    QPushButton* BtPlayReg = nullptr;
    QPushButton* cmdProvvisorio = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;
    std::array<QRadioButton*, 3> OptionWaveDevice{};
    std::array<QRadioButton*, 2> OptionRecordFile{};
    QCheckBox* silencecrt = nullptr;
    QLabel* LabelStatus = nullptr;
    QLabel* lbstatus = nullptr;
    QLabel* lbLine = nullptr;    // the line's registration with its registrar
    QLabel* lbNotice = nullptr;  // a problem the operator must know about
    QLabel* LbInizio = nullptr;
    QLabel* LbNow = nullptr;
    QLabel* LbContrec = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txtprog = nullptr;
    QLabel* LABELSIZE = nullptr;
    QLabel* USEDIR = nullptr;
    QLabel* LABELRECALL = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QLabel* IStat = nullptr;
    std::array<QLabel*, 7> Eti{};

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    void connectControls();
    void render();

    AppContext& ctx_;
    std::unique_ptr<RecorderSession> session_;
    Strum Meter;
    PictureBox* picture3_ = nullptr;
    int drawnLevel_ = -1;
};

}  // namespace kallomir
