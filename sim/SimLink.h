// Attaches a unit model to a port of the simulated platform:
//   unitsim::UnitModel unit(unitsim::configFor(unitsim::Variant::Tx, 9600));
//   unitsim::SimLink link(unit);
//   platform::sim::addUnitPort(3, link);
#ifndef VENDRA_SIM_SIMLINK_H
#define VENDRA_SIM_SIMLINK_H

#include <string_view>
#include <vector>

#include "SimPlatform.h"
#include "UnitModel.h"

namespace unitsim {

class SimLink : public platform::sim::FarEnd {
  public:
    explicit SimLink(UnitModel& unit) : unit_(unit) {}

    bool receive(Micros at, std::string_view bytes, platform::sim::LineState line) override {
        return unit_.receive(at, bytes, Line{line.baud, line.ctsFlow});
    }

    // A host set to another rate than the unit talks at receives garbage.
    std::vector<platform::sim::Arrival> transmit(Micros until,
                                                 platform::sim::LineState hostLine) override {
        std::vector<platform::sim::Arrival> arrivals;
        for (Chunk& chunk : unit_.transmit(until)) {
            arrivals.push_back({chunk.at, chunk.baud == hostLine.baud ? std::move(chunk.bytes)
                                                                      : garbled(chunk.bytes)});
        }
        return arrivals;
    }

    Micros ctsOnFrom(Micros now) override { return unit_.ctsOnFrom(now); }

  private:
    UnitModel& unit_;
};

}  // namespace unitsim

#endif
