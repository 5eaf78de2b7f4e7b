// SPDX-License-Identifier: GPL-3.0-or-later
// AIS and DSC sentences straight from the input, through the dispatcher into the AIS
// target manager, the DSC manager and the marks they make. Every other line gets a correct
// checksum, so that the fuzzer reaches the decoders instead of stopping at the check;
// fragments, six-bit payloads, positions and calls must never read or write out of bounds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "core/uiservices.h"
#include "navdata/ais.h"
#include "navdata/dsc.h"
#include "navdata/gpsposition.h"
#include "navdata/nmea_sentence.h"
#include "overlays/markmanager.h"

namespace {

// Alerts and calls are counted, not shown.
class QuietUi : public IUiServices {
public:
    void ShowMessage(const NV_HWND&, const std::string&, const std::string&, const std::vector<std::string>&,
                     std::function<void(int)>) override {}
    void SetStatusMessage(const std::string&) override {}
    void ShowSystemNotification(const std::string&, const std::string&, const std::string&) override { ++shown; }
    void CancelSystemNotification(const std::string&) override {}
    void ShowProgress(const NV_HWND&, std::shared_ptr<CProgressDialogData>) override {}
    size_t shown = 0;
};

struct World {
    QuietUi ui;
    CMarkManager marks;
    COverlayGPSPosition own;
    CAISTargetManager ais{own};
    CDSCTargetManager calls;
    CDSC_to_Mark callMarks{&own};
    World() {
        SetUiServices(&ui);
        marks.SetDirectory("/nonexistent");
        own.fix_status = FIX_GPS;
        own.set_latlon(50.5, -2.5);
        own.set_course(30, 5);
        own.DispatchPositionUpdate();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = new World;  // lives for the whole run, as the application's do
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    int n = 0;
    char line[512];
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string l = text.substr(start, std::min<size_t>(end - start, 400));
        start = end + 1;
        if (l.empty()) continue;
        if (++n % 2 == 0) {
            const size_t star = l.find('*');
            if (star != std::string::npos) l.resize(star);
            std::memcpy(line, l.c_str(), l.size() + 1);
            CNMEASentence::compute_checksum(line);
        } else {
            std::memcpy(line, l.c_str(), l.size() + 1);
        }
        CNMEASentence::DispatchSentence(line, nullptr);
    }
    // Expiry runs over whatever the input left behind.
    world->ais.OnHeartbeat();
    return 0;
}
