#pragma once

#include "settings/MixerBackend.h"

#include <QList>

#include <map>
#include <utility>

namespace kallomir {

// A card that exists only in memory, for logic tests and demonstrations: choose which
// controls it has, their ranges and whether opening or reading fails; every write is kept.
class TestMixerBackend : public MixerBackend {
public:
    struct Write {
        MixerComponent component;
        MixerControlType type;
        int channel;
        long value;
    };

    // A stereo control with the given native range and starting value on both channels.
    void addControl(MixerComponent component, MixerControlType type, long minimum = 0,
                    long maximum = 65535, long value = 0, int channels = 2);
    void setOpenResult(int code) { openResult_ = code; }
    void setFailReads(bool fail) { failReads_ = fail; }
    void setFailWrites(bool fail) { failWrites_ = fail; }

    long value(MixerComponent component, MixerControlType type, int channel = 0) const;
    const QList<Write>& writes() const { return writes_; }
    int openCount() const { return openCount_; }

    int open(int device) override;
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    bool findControl(MixerComponent component, MixerControlType type,
                     MixerControl& control) override;
    int getValue(const MixerControl& control, int channel, long& value) override;
    int setValue(const MixerControl& control, int channel, long value) override;

private:
    struct Entry {
        MixerControl control;
        long values[2] = {0, 0};
    };
    using Key = std::pair<MixerComponent, MixerControlType>;
    Entry* entryFor(const MixerControl& control);

    std::map<Key, Entry> controls_;
    QList<Write> writes_;
    int openResult_ = 0;
    int openCount_ = 0;
    bool open_ = false;
    bool failReads_ = false;
    bool failWrites_ = false;
};

}  // namespace kallomir
