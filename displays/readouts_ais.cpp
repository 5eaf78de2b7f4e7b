// SPDX-License-Identifier: GPL-3.0-or-later
// AIS read-outs: how many targets are in range, and the closest approach still to come.
//
// Item types 140 "AIS:Targets" and 141 "AIS:Closest CPA". They need the AIS target
// manager: until the application runs one, they are neither offered nor shown.

#include "displays/readouts.h"
#include "navdata/ais.h"

namespace NReadouts {

namespace {

using CItem = CDisplayView::CItem;
using CItemSettings = CDisplayView::CItemSettings;

enum AisItemType : int {
    kAisTargets = 140,
    kAisClosestCpa = 141,
};

// Follows every target report and every own position (approaches change as the boat
// moves, without a report).
class CAisReadout : public CTextReadout {
public:
    CAisReadout(CItemSettings& s, int type)
        : CTextReadout(s),
          m_type(type),
          m_target([this](CAISTarget&) { Refresh(); }),
          m_position([this](CDataGPSPosition&) { Refresh(); }) {}

protected:
    bool Format(const CUnits& u, std::string& value, std::string& units) const override {
        const CAISTargetManager* ais = the_CAISTargetManager;
        if (m_type == kAisTargets) {
            units = "in range";
            if (!ais) return false;
            // A target being removed is published once more, still in the table.
            size_t n = 0;
            for (const auto& entry : ais->Targets()) {
                const CAISTarget& t = *entry.second;
                if (t.HasKind() && t.last_type != CAISTarget::kTypeRemoved) ++n;
            }
            value = std::to_string(n);
            return true;
        }
        units = CUnits::DistanceUnitName(u.dist_units);
        const CAISTarget* closest = ais ? ais->ClosestApproach() : nullptr;
        if (!closest) return false;
        u.FormatDistance(closest->cpa, value, units);
        return true;
    }

private:
    int m_type;
    CHook<CAISTarget> m_target;
    CHook<CDataGPSPosition> m_position;
};

class CAisSettings : public CItemSettings {
public:
    using CItemSettings::CItemSettings;
    CItem* CreateItem(CDisplayView::IWindow& pageWindow) override;
};

class CAisType : public CItemSettingsTypeOf<CAisSettings> {
public:
    using CItemSettingsTypeOf<CAisSettings>::CItemSettingsTypeOf;
    bool FeatureAvailable() const override { return the_CAISTargetManager != nullptr; }
};

CItem* CAisSettings::CreateItem(CDisplayView::IWindow&) {
    auto* item = new CAisReadout(*this, TypeId());
    item->Start();
    return item;
}

CAisType t140("AIS:Targets", kAisTargets, 5, 200, 100);
CAisType t141("AIS:Closest CPA", kAisClosestCpa, 5, 200, 100);

}  // namespace

void detail::LinkAisItems() {}

}  // namespace NReadouts
