#include "app/PlaceholderWindows.h"

#include "core/FormLinks.h"
#include "core/RuntimeError.h"

#include <QLabel>
#include <QVBoxLayout>

namespace kallomir {

namespace {

QString NotAvailable() {
    return QStringLiteral("Finestra non disponibile in questa versione");
}

void Decorate(QWidget* w, const QString& caption) {
    w->setWindowTitle(caption);
    auto* layout = new QVBoxLayout(w);
    layout->addWidget(new QLabel(NotAvailable(), w));
    w->resize(400, 200);
}

class PlaceholderRecorder : public QWidget, public RecorderLink {
public:
    explicit PlaceholderRecorder(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("FrmRecorder"));
        Decorate(this, QStringLiteral("Recorder"));
    }
    RecorderSession& session() override { throw RuntimeError(errors::kDeviceIo, NotAvailable()); }
    bool recordButtonEnabled() const override { return true; }
    void setProgressiveNumber(const QString&) override {}
    void setFolderSizeLimit(double) override {}
    void setTelephoneSourceEnabled(bool) override {}
    void selectLineInSource() override {}
    void setVoxThresholdBar(int, bool) override {}
    void setVoxLabel(const QString&) override {}
    void digitKeyPressed(int) override {}
};

class PlaceholderPlayer : public QWidget, public PlayerLink {
public:
    explicit PlaceholderPlayer(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("FrmPlayer"));
        Decorate(this, QStringLiteral("Player"));
    }
    bool saveButtonEnabled() const override { return false; }
    bool playbackActive() const override { return false; }
    void setPlaybackActive(bool) override {}
    void stopPlaybackBuffer() override {}
    void setPlaybackPosition(long long) override {}
    int positionSliderValue() const override { return 0; }
    void setPositionSliderValue(int) override {}
    long long bytesPerSecond() const override { return 0; }
    void setStatusText(const QString&) override {}
    QString folderPath() const override { return folder_; }
    void setFolderPath(const QString& path) override { folder_ = path; }
    void refreshFileList() override {}
    QString folderSizeText() const override { return size_; }
    void setFolderSizeText(const QString& text) override { size_ = text; }
    void rewindByDigitKey(int) override {}

private:
    QString folder_;
    QString size_ = QStringLiteral("0");
};

class PlaceholderMixer : public QWidget, public MixerLink {
public:
    explicit PlaceholderMixer(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("FrmMixer"));
        Decorate(this, QStringLiteral("Mixer Audio"));
    }
    void setTimeVoxSlider(int) override {}
};

}  // namespace

QWidget* MakePlaceholderRecorder(AppContext&, QWidget* parent) {
    return new PlaceholderRecorder(parent);
}
QWidget* MakePlaceholderPlayer(AppContext&, QWidget* parent) {
    return new PlaceholderPlayer(parent);
}
QWidget* MakePlaceholderMixer(AppContext&, QWidget* parent) {
    return new PlaceholderMixer(parent);
}
QWidget* MakePlaceholderReports(AppContext&, QWidget* parent) {
    auto* w = new QWidget(parent);
    w->setObjectName(QStringLiteral("frmReports"));
    Decorate(w, QStringLiteral("Brogliaccio"));
    return w;
}

}  // namespace kallomir
