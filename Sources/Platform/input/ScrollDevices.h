#pragma once

// Tells a touchpad's smooth two-finger scrolling from a wheel's notches on
// X11. Qt reports both as angle deltas and fills in pixel deltas only where
// a scroll valuator's increment is large, which the libinput driver's never
// is; the device's type and properties say which it is, and its valuators'
// increments turn Qt's angle deltas back into the fingers' motion.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// One scroll valuator of an XInput2 device (XIScrollClass).
struct ScrollValuator {
    bool vertical = true;
    double increment = 0;  // valuator units for one scroll step
};

// What the X server says about one pointer device.
struct PointerDevice {
    int id = 0;          // the XInput2 device id, Qt's QInputDevice::systemId()
    std::string name;
    std::string type;    // the name of its type atom: "TOUCHPAD", "MOUSE", …
    bool tapping = false;  // it has a tapping property, as only touchpads do
    std::vector<ScrollValuator> scrolls;
};

// A scroll's motion in the valuators' own units, about pixels; y grows
// away from the user like Qt's deltas.
struct SmoothDelta {
    double x = 0;
    double y = 0;
    friend bool operator==(const SmoothDelta&, const SmoothDelta&) = default;
};

// Whether the device scrolls smoothly under the fingers: a touchpad (by
// type, tapping property or name) with a scroll valuator.
bool scrollsSmoothly(const PointerDevice& device);

// The fingers' motion of one scroll event Qt reported with `angleX`,
// `angleY` (eighths of a degree: 120 for each valuator increment); none
// for a device that scrolls by notches.
std::optional<SmoothDelta> smoothDelta(const PointerDevice& device, int angleX, int angleY);

// Judges the events of the devices the query reports, asked at the first
// event. A device id not seen before asks it again, once for each such id
// (a touchpad plugged in later).
class ScrollJudge {
public:
    using Query = std::function<std::vector<PointerDevice>()>;
    explicit ScrollJudge(Query query);

    std::optional<SmoothDelta> judge(int deviceId, int angleX, int angleY);

private:
    Query query_;
    std::map<int, PointerDevice> devices_;
    std::vector<int> asked_;  // ids the query was asked again for
};

// The XInput2 pointer devices of `display` (empty: $DISPLAY); empty when it
// can't be reached or has no XInput2.
std::vector<PointerDevice> queryPointerDevices(const std::string& display = {});

} // namespace platform
