// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Read-out items: GPS values and boat instruments shown as a title, a value and a units
// label, and the dials (speed over ground, boat speed, apparent and true wind).
//
// Every item listens to the data it shows and redraws when that data is published; none
// of them polls. Staleness: GPS items follow the position (it publishes once more when
// the receiver falls silent); instrument items blank themselves when their sentence has
// not come for kInstrumentStaleTicks heartbeat pulses. Values are formatted with the
// user's units and follow a change of units at once.
//
// GUI thread only: sentences are dispatched, the heartbeat pulses and items live there.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/heartbeat.h"
#include "core/pubsub.h"
#include "displays/displayview.h"
#include "units/units.h"

class COverlayGPSPosition;
class CDataGPSPosition;

namespace NReadouts {

constexpr const char* kNoValue = "---";
// 10 s without a sentence and an instrument read-out shows kNoValue.
constexpr int kInstrumentStaleTicks = 100;
// Satellite counts go blank when neither a table nor a fix has come for this long (5 s).
constexpr int kSatelliteTableTicks = 50;

// The read-out item types register at static initialisation, but a static library only
// brings in object files that something refers to: a program that shows read-outs calls
// this once (it does nothing else).
void RegisterItemTypes();

namespace detail {
// One per source file of read-out types, so that RegisterItemTypes brings each in.
void LinkGpsItems();
void LinkInstrumentItems();
void LinkSpeedDials();
void LinkWindDials();
void LinkGotoItems();
void LinkTrackItems();
void LinkAisItems();
}  // namespace detail

// The position whose odometer and satellite counts the GPS items show; it is also what a
// newly shown item starts from. Defaults to COverlayGPSPosition::theLatestPosition; null
// restores the default.
COverlayGPSPosition& GpsSource();
void SetGpsSource(COverlayGPSPosition* position);

// Builds the live item of a read-out type.
using ItemFactory = CDisplayView::CItem* (*)(CDisplayView::CItemSettings& settings);

// The stored part of every read-out: nothing beyond the common item settings, so that
// pages saved before a read-out existed (and after) read the same.
class CReadoutSettings : public CDisplayView::CItemSettings {
public:
    using CItemSettings::CItemSettings;
    CDisplayView::CItem* CreateItem(CDisplayView::IWindow& pageWindow) override;
};

// A read-out item type. Name, identifier, default layer and size are those of the
// identifier's placeholder registration, which this one replaces.
class CReadoutType : public CItemSettingsTypeOf<CReadoutSettings> {
public:
    CReadoutType(const char* name, int id, int layer, int width, int height, ItemFactory make)
        : CItemSettingsTypeOf<CReadoutSettings>(name, id, layer, width, height), factory(make) {}
    ItemFactory factory;
};

// What every read-out item answers, text or dial: whether it shows a value now.
class CReading {
public:
    virtual bool HasReading() const = 0;

protected:
    ~CReading() = default;
};

// The common base of hooks, so that an item can own hooks of several types.
class CHookBase {
public:
    virtual ~CHookBase() = default;
};

// A listener that hands each published value to a function; lets one item listen to
// several types without overloading OnUpdate.
template <class T>
class CHook : public CHookBase, public Listener<T> {
public:
    explicit CHook(std::function<void(T&)> fn) : m_fn(std::move(fn)) {}
    void OnUpdate(T& value) override { m_fn(value); }

private:
    std::function<void(T&)> m_fn;
};

// A heartbeat countdown that calls `fn` when it runs out; Restart() re-arms it.
class CCountdown : public CHeartbeat::Counter {
public:
    CCountdown(int ticks, std::function<void()> fn) : Counter(ticks), m_fn(std::move(fn)) {}
    void OnHeartbeat() override { m_fn(); }

private:
    std::function<void()> m_fn;
};

// A text read-out: title (the item type's name), value, units label.
class CTextReadout : public CDisplayView::CItemText, public CReading {
public:
    explicit CTextReadout(CDisplayView::CItemSettings& settings);
    // Shows what is known now; called once the item is fully built.
    virtual void Start() { Refresh(); }
    bool HasReading() const override { return Value() != kNoValue; }

protected:
    // The value with the user's units; false when there is none (kNoValue is shown).
    // `units` is set in either case so that the label stays put.
    virtual bool Format(const CUnits& u, std::string& value, std::string& units) const = 0;
    void Refresh();

private:
    CHook<CUnits> m_units;
};

// What the GPS items need from one published position.
struct GpsSnapshot {
    bool fix = false;
    double lat = 0, lon = 0;
    double fix_time = 0;
    float hdop = 0;
    float speed = 0, course = 0;
    float avg_speed = 0, avg_direction = 999.0f;
    float max_speed = 0;  // of the recent speed range
    double altitude = -9999.0;
    double odometer = -1;  // metres; negative when the position is not the GPS source
    int sats_in_use = 0, sats_in_view = 0;
    bool sats_known = false;  // the counts above come from the GPS source
};
GpsSnapshot TakeSnapshot(const CDataGPSPosition& position);

// Formats a GPS value; false when there is nothing to show.
using GpsFormatter = bool (*)(const CUnits& u, const GpsSnapshot& s, std::string& value, std::string& units);

// A GPS text read-out: one formatter over the latest position.
class CGpsReadout : public CTextReadout {
public:
    CGpsReadout(CDisplayView::CItemSettings& settings, GpsFormatter formatter);
    void Start() override;

protected:
    bool Format(const CUnits& u, std::string& value, std::string& units) const override;

private:
    GpsFormatter m_formatter;
    GpsSnapshot m_snap;
    CHook<CDataGPSPosition> m_position;
};

// Formats an instrument reading; false when it cannot be shown.
using InstrumentFormatter =
    std::function<bool(const CUnits& u, double reading, std::string& value, std::string& units)>;

// An instrument read-out: one number taken from one or more sentence records, blank
// after kInstrumentStaleTicks without a new one.
class CInstrumentReadout : public CTextReadout {
public:
    CInstrumentReadout(CDisplayView::CItemSettings& settings, InstrumentFormatter formatter);

    // Listens to published data of type R (a sentence record, the true wind); `take`
    // returns true and sets the reading when the value carries one.
    template <class R>
    void Listen(std::function<bool(R&, double&)> take) {
        m_hooks.push_back(std::make_unique<CHook<R>>([this, take = std::move(take)](R& record) {
            double v = 0;
            if (take(record, v)) Accept(v);
        }));
    }

    // Keeps something the item's data needs alive for as long as the item (a shared feed).
    void Keep(std::shared_ptr<void> holder) { m_keep.push_back(std::move(holder)); }

    void Accept(double reading);

protected:
    bool Format(const CUnits& u, std::string& value, std::string& units) const override;

private:
    InstrumentFormatter m_formatter;
    double m_reading = 0;
    bool m_has = false;
    CCountdown m_stale;
    std::vector<std::unique_ptr<CHookBase>> m_hooks;
    std::vector<std::shared_ptr<void>> m_keep;
};

// Text helpers shared by the read-outs.
// An angle off the bow (degrees, any turn) as a magnitude 0..180 and a side label:
// "° stbd" to starboard, "° port" to port, "°" dead ahead or astern.
void FormatSideAngle(double degrees, const char* valueFormat, std::string& value, std::string& units);
// Local time of day, 24 hours with seconds ("HH:MM:SS"); empty for an impossible time.
std::string Format24hTimeWithSeconds(double seconds);

// Speedometer geometry, in the user's speed unit: the full-scale value (a round number
// at least 10 and at least `highest`), and the needle's angle in degrees counter-clockwise
// from east (225 at zero, -45 at full scale).
double SpeedometerScale(double highest);
double SpeedometerNeedleAngle(double value, double fullScale);

}  // namespace NReadouts
