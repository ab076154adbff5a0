#pragma once

#include <QByteArray>

#include <linux/input.h>

#include <cstring>
#include <initializer_list>

namespace kallomir::test {

// Kernel input records as a three-button USB transcription pedal sends them: for each change
// a scan code (EV_MSC), the button (EV_KEY 1 down / 0 up) and the end of the report.
struct RawEvent {
    int type;
    int code;
    int value;
};

inline QByteArray Records(std::initializer_list<RawEvent> events, long startSeconds = 1700000000) {
    QByteArray bytes;
    long usec = 0;
    for (const RawEvent& e : events) {
        input_event ev{};
        ev.input_event_sec = startSeconds + usec / 1000000;
        ev.input_event_usec = usec % 1000000;
        ev.type = static_cast<__u16>(e.type);
        ev.code = static_cast<__u16>(e.code);
        ev.value = e.value;
        bytes.append(reinterpret_cast<const char*>(&ev), sizeof ev);
        usec += 8000;
    }
    return bytes;
}

// One button going down or up, as one report.
inline QByteArray Button(int code, bool down) {
    return Records({{EV_MSC, MSC_SCAN, 0x90000 + code - BTN_0 + 1},
                    {EV_KEY, code, down ? 1 : 0},
                    {EV_SYN, SYN_REPORT, 0}});
}

}  // namespace kallomir::test
