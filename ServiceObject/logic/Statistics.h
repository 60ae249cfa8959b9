// UnifiedPOS statistics of the service object: the record it reports, the
// parsed RetrieveStatistics request and the XML document built from both.
// Nothing is counted: every statistic reads "0".
//
// Ownership: plain values in fixed texts; only the document is allocated.
// Concurrency: none inside; each instance owns its record and request.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/BoundedText.h"

namespace norvik {

inline constexpr int kStatisticCount = 15;

// The statistics in their reporting order.
inline constexpr std::string_view kStatisticNames[kStatisticCount] = {
    "HoursPoweredCount",
    "CommunicationErrorCount",
    "GoodReadCount",
    "FailedReadCount",
    "UnreadableCardCount",
    "GoodWriteCount",
    "FailedWriteCount",
    "MissingStartSentinelTrack1Count",
    "ParityLRCErrorTrack1Count",
    "MissingStartSentinelTrack2Count",
    "ParityLRCErrorTrack2Count",
    "MissingStartSentinelTrack3Count",
    "ParityLRCErrorTrack3Count",
    "MissingStartSentinelTrack4Count",
    "ParityLRCErrorTrack4Count",
};

struct StatisticsRecord {
    Text<64> ModelName;
    Text<32> SerialNumber;
    Text<16> ManufactureDate;
    Text<16> MechanicalRevision;
    Text<16> FirmwareRevision;
    Text<32> Interface;
    Text<16> InstallationDate;
    Text<16> Values[kStatisticCount];
};

// Every field becomes "0".
void ResetStatisticsRecord(StatisticsRecord& record);

// Refreshes the record: model name and serial number as given (null counts
// as empty, both cut to their capacity), the fixed equipment texts, today's
// date as "MM/DD/YYYY" and "0" for every statistic.
void LoadXMLUPOSStatistics(StatisticsRecord& record, const char* deviceName, const char* serialNumber, int year,
                           int month, int day);

// Longest echoed name, in characters.
inline constexpr size_t kEchoedNameMaxLength = 50;

struct StatisticsRequest {
    bool Selected[kStatisticCount] = {};
    // Request items that name no statistic, in request order, each cut to
    // kEchoedNameMaxLength characters; reported back with value "0".
    Text<kEchoedNameMaxLength + 1> EchoedNames[kStatisticCount];
    int EchoedCount = 0;
};

// Rebuilds `request` from a RetrieveStatistics request: empty or "U_..."
// selects all, "M_..." none, otherwise comma-separated items, untrimmed and
// case-sensitive. The text ends at its first NUL. A request of any length is
// read whole, in one pass: naming all fifteen statistics alone takes 355
// characters.
void ParseStatisticsRequest(std::string_view requestText, StatisticsRequest& request);

// The UPOSStat document, LF line ends. Inserted texts are escaped so that
// the document stays well-formed whatever a request or the registry holds:
// '&', '<' and '>' become entity references, and control characters that
// XML cannot carry become '?'. Never longer than MaxStatisticsDocumentLength().
std::string BuildXMLString(const StatisticsRecord& record, const StatisticsRequest& request);

// The longest document BuildXMLString can produce (every text full of '&').
size_t MaxStatisticsDocumentLength();

}  // namespace norvik
