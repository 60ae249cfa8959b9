#include "logic/Statistics.h"

#include <cstdio>
#include <cstring>


namespace norvik {

namespace {

constexpr std::string_view kUnifiedPosNamespace = "http://www.nrf-arts.org/UnifiedPOS/namespace/";
constexpr std::string_view kSchemaInstanceNamespace = "http://www.w3.org/2001/XMLSchema-instance";

std::string_view ViewOf(const char* text) { return text ? std::string_view(text) : std::string_view(); }

// The longest replacement of one character, "&amp;".
constexpr size_t kMaxEscapedCharLength = 5;

void AppendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default:
                // XML 1.0 allows no C0 control character but tab, LF and CR,
                // not even as a character reference.
                out += (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') ? '?' : c;
        }
    }
}

// One line is its fixed pieces around at most one inserted value; the fixed
// pieces and their capacities also give the longest possible document.
struct Line {
    std::string_view before;
    std::string_view after;
};

constexpr Line kModelName{"<ModelName>", "</ModelName>"};
constexpr Line kSerialNumber{"<SerialNumber>", "</SerialNumber>"};
constexpr Line kManufactureDate{"<ManufactureDate>", "</ManufactureDate>"};
constexpr Line kMechanicalRevision{"<MechanicalRevision>", "</MechanicalRevision>"};
constexpr Line kFirmwareRevision{"<FirmwareRevision>", "</FirmwareRevision>"};
constexpr Line kInterface{"<Interface>", "</Interface>"};
constexpr Line kInstallationDate{"<InstallationDate>", "</InstallationDate>"};
constexpr Line kParameterName{"<Name>", "</Name>"};
constexpr Line kParameterValue{"<Value>", "</Value>"};

void AppendLine(std::string& out, std::string_view fixed) {
    out += fixed;
    out += '\n';
}

void AppendLine(std::string& out, const Line& line, std::string_view value) {
    out += line.before;
    AppendEscaped(out, value);
    out += line.after;
    out += '\n';
}

void AppendHeader(std::string& out) {
    AppendLine(out, "<?xml version=\"1.0\" ?>");
    out += "<UPOSStat version=\"1.13.0\" xmlns:xsi=\"";
    out += kSchemaInstanceNamespace;
    out += "\" xmlns=\"";
    out += kUnifiedPosNamespace;
    out += "\" xsi:schemaLocation=\"";
    out += kUnifiedPosNamespace;
    AppendLine(out, " UPOSStat.xsd\">");
    AppendLine(out, "<Equipment>");
    AppendLine(out, "<UnifiedPOSVersion>1.13</UnifiedPOSVersion>");
    AppendLine(out, "<DeviceCategory UPOS=\"MSR\"/>");
    AppendLine(out, "<ManufacturerName>Norvik</ManufacturerName>");
}

void AppendParameter(std::string& out, std::string_view name, std::string_view value) {
    AppendLine(out, "<Parameter>");
    AppendLine(out, kParameterName, name);
    AppendLine(out, kParameterValue, value);
    AppendLine(out, "</Parameter>");
}

void ClassifyItem(std::string_view item, StatisticsRequest& request) {
    for (int index = 0; index < kStatisticCount; ++index) {
        if (kStatisticNames[index] == item) {
            request.Selected[index] = true;
            return;
        }
    }
    if (request.EchoedCount < kStatisticCount) request.EchoedNames[request.EchoedCount++] = item;
}

size_t FixedLength(const Line& line) { return line.before.size() + line.after.size() + 1; }

}  // namespace

void ResetStatisticsRecord(StatisticsRecord& record) {
    record.ModelName = "0";
    record.SerialNumber = "0";
    record.ManufactureDate = "0";
    record.MechanicalRevision = "0";
    record.FirmwareRevision = "0";
    record.Interface = "0";
    record.InstallationDate = "0";
    for (auto& value : record.Values) value = "0";
}

void LoadXMLUPOSStatistics(StatisticsRecord& record, const char* deviceName, const char* serialNumber, int year,
                           int month, int day) {
    record.ModelName = ViewOf(deviceName);
    record.SerialNumber = ViewOf(serialNumber);
    record.ManufactureDate = "01/01/2012";
    record.MechanicalRevision = "1.0";
    record.FirmwareRevision = "1.0";
    record.Interface = "USB";
    // Room for three full ints, so that odd dates are cut by Assign, not by snprintf.
    char date[48];
    std::snprintf(date, sizeof date, "%02d/%02d/%04d", month, day, year);
    record.InstallationDate = date;
    for (auto& value : record.Values) value = "0";
}

void ParseStatisticsRequest(std::string_view requestText, StatisticsRequest& request) {
    request = StatisticsRequest{};
    // The request is a C text: it ends at its first NUL.
    const std::string_view text = requestText.substr(0, requestText.find('\0'));

    if (text.empty() || text.substr(0, 2) == "U_") {
        for (bool& selected : request.Selected) selected = true;
        return;
    }
    if (text.substr(0, 2) == "M_") return;  // no manufacturer statistics

    // The fields of the request at ',' in order (one more than there are
    // commas), walked once rather than looked up one by one, so that a long
    // request costs linear time.
    size_t itemStart = 0;
    for (;;) {
        const size_t comma = text.find(',', itemStart);
        const std::string_view item =
            text.substr(itemStart, comma == std::string_view::npos ? std::string_view::npos : comma - itemStart);
        ClassifyItem(item, request);
        if (comma == std::string_view::npos) break;
        itemStart = comma + 1;
    }
}

std::string BuildXMLString(const StatisticsRecord& record, const StatisticsRequest& request) {
    std::string out;
    out.reserve(4096);
    AppendHeader(out);
    AppendLine(out, kModelName, record.ModelName.view());
    AppendLine(out, kSerialNumber, record.SerialNumber.view());
    AppendLine(out, kManufactureDate, record.ManufactureDate.view());
    AppendLine(out, kMechanicalRevision, record.MechanicalRevision.view());
    AppendLine(out, kFirmwareRevision, record.FirmwareRevision.view());
    AppendLine(out, kInterface, record.Interface.view());
    AppendLine(out, kInstallationDate, record.InstallationDate.view());
    AppendLine(out, "</Equipment>");

    const int echoedCount = request.EchoedCount < 0               ? 0
                            : request.EchoedCount > kStatisticCount ? kStatisticCount
                                                                    : request.EchoedCount;
    bool anySelected = false;
    for (bool selected : request.Selected) anySelected = anySelected || selected;
    if (anySelected || echoedCount > 0) {
        AppendLine(out, "<Event>");
        for (int index = 0; index < kStatisticCount; ++index) {
            if (request.Selected[index]) AppendParameter(out, kStatisticNames[index], record.Values[index].view());
        }
        for (int echo = 0; echo < echoedCount; ++echo) AppendParameter(out, request.EchoedNames[echo].view(), "0");
        AppendLine(out, "</Event>");
    }
    AppendLine(out, "</UPOSStat>");
    return out;
}

size_t MaxStatisticsDocumentLength() {
    auto escaped = [](size_t capacity) { return (capacity - 1) * kMaxEscapedCharLength; };
    std::string header;
    AppendHeader(header);
    const StatisticsRecord shape{};
    size_t length = header.size();
    length += FixedLength(kModelName) + escaped(shape.ModelName.kCapacity);
    length += FixedLength(kSerialNumber) + escaped(shape.SerialNumber.kCapacity);
    length += FixedLength(kManufactureDate) + escaped(shape.ManufactureDate.kCapacity);
    length += FixedLength(kMechanicalRevision) + escaped(shape.MechanicalRevision.kCapacity);
    length += FixedLength(kFirmwareRevision) + escaped(shape.FirmwareRevision.kCapacity);
    length += FixedLength(kInterface) + escaped(shape.Interface.kCapacity);
    length += FixedLength(kInstallationDate) + escaped(shape.InstallationDate.kCapacity);
    length += std::strlen("</Equipment>\n<Event>\n</Event>\n</UPOSStat>\n");

    const size_t parameterFrame = std::strlen("<Parameter>\n</Parameter>\n") + FixedLength(kParameterName) +
                                  FixedLength(kParameterValue);
    for (int index = 0; index < kStatisticCount; ++index) {
        length += parameterFrame + kStatisticNames[index].size() + escaped(shape.Values[index].kCapacity);
    }
    length += kStatisticCount * (parameterFrame + kEchoedNameMaxLength * kMaxEscapedCharLength + 1);
    return length;
}

}  // namespace norvik
