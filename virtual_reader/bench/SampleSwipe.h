// The card the benchmarks over the virtual reader swipe: a test account, as
// the given reader model reports it.
#pragma once

#include <cstdint>
#include <vector>

#include "VirtualReaderClient.h"
#include "core/ModelTable.h"
#include "sim/SwipeReportBuilder.h"

namespace bench {

inline std::vector<uint8_t> SampleSwipeReport(const vorlex::virtual_reader::PluggableModel& model) {
    vorlex::SwipeTracks tracks;
    tracks.track[0] = "%B4111111111111111^DOE/JOHN Q^2512101123456789?";
    tracks.track[1] = ";4111111111111111=25121011234567890?";
    std::vector<uint8_t> report(model.inputReportLength);
    report.resize(vorlex::BuildSwipeReport(vorlex::FindReaderModel(model.productId)->switches, tracks,
                                           report.size(), report.data(), report.size()));
    return report;
}

}  // namespace bench
