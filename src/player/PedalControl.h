#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <vector>

namespace kallomir {

class PedalDevices;
class PedalEventReader;

// Keeps the chosen foot pedal connected and reports its buttons by position (0 left,
// 1 middle, 2 right: the pedal's button codes in rising order). Presses arrive whichever
// window has the focus, even when the program is not in front. A pedal that goes away
// (unplugged) is looked for again every second until it is back.
class PedalControl : public QObject {
    Q_OBJECT
public:
    static constexpr int kRetryMs = 1000;

    explicit PedalControl(PedalDevices& devices, QObject* parent = nullptr);
    ~PedalControl() override;

    // Empty: no pedal. Otherwise connects (or keeps trying to).
    void setDevice(const QString& id);
    const QString& device() const { return id_; }
    bool connected() const;
    // Why the last attempt to open the pedal failed (empty once connected).
    const QString& problem() const { return problem_; }
    // One attempt to (re)connect now; the retry timer calls it.
    void retry();
    bool retrying() const { return retry_.isActive(); }

signals:
    void button(int index, bool pressed);
    void connectionChanged(bool connected);

private:
    void onButton(int code, bool pressed);
    void onLost(const QString& reason);
    void disconnectReader();

    PedalDevices& devices_;
    QString id_;
    QString problem_;
    QPointer<PedalEventReader> reader_;
    std::vector<int> codes_;
    QTimer retry_;
};

}  // namespace kallomir
