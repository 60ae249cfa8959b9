// Arbitrary RetrieveStatistics requests (and equipment texts) through the
// request parser and the document builder: the document must stay within its
// bound, report exactly what was selected or echoed, and stay well-formed.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "logic/Statistics.h"

#ifdef NORVIK_HAVE_LIBXML2
#include <libxml/parser.h>
#include <libxml/tree.h>
#endif

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

#ifdef NORVIK_HAVE_LIBXML2
int CountParameters(const std::string& document) {
    // ANSI texts are read as Latin-1, where every byte is a character.
    xmlDoc* doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), "statistics.xml", "ISO-8859-1",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    Require(doc != nullptr);
    int count = 0;
    for (xmlNode* part = xmlDocGetRootElement(doc)->children; part; part = part->next) {
        if (part->type != XML_ELEMENT_NODE) continue;
        for (xmlNode* parameter = part->children; parameter; parameter = parameter->next) {
            if (parameter->type == XML_ELEMENT_NODE && xmlStrEqual(parameter->name, BAD_CAST "Parameter")) ++count;
        }
    }
    xmlFreeDoc(doc);
    return count;
}
#endif

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
#ifdef NORVIK_HAVE_LIBXML2
    xmlInitParser();
#endif
    return 0;
}

// Input: request, optionally followed by 0xFF, model name, 0xFF, serial number.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t firstSplit = input.find('\xff');
    const std::string_view requestText = input.substr(0, firstSplit);
    std::string modelName = "Norvik Secure Swipe Reader", serialNumber = "SN0012345678";
    if (firstSplit != std::string_view::npos) {
        const std::string_view rest = input.substr(firstSplit + 1);
        const size_t secondSplit = rest.find('\xff');
        modelName = std::string(rest.substr(0, secondSplit));
        serialNumber = secondSplit == std::string_view::npos ? "" : std::string(rest.substr(secondSplit + 1));
    }

    norvik::StatisticsRequest request;
    norvik::ParseStatisticsRequest(requestText, request);
    Require(request.EchoedCount >= 0 && request.EchoedCount <= norvik::kStatisticCount);
    int reported = request.EchoedCount;
    for (bool selected : request.Selected) reported += selected ? 1 : 0;

    norvik::StatisticsRecord record;
    norvik::LoadXMLUPOSStatistics(record, modelName.c_str(), serialNumber.c_str(), 2025, 3, 7);
    const std::string document = norvik::BuildXMLString(record, request);
    Require(document.size() <= norvik::MaxStatisticsDocumentLength());
    Require(document.compare(0, 22, "<?xml version=\"1.0\" ?>") == 0);
    Require(document.size() >= 12 && document.compare(document.size() - 12, 12, "</UPOSStat>\n") == 0);
#ifdef NORVIK_HAVE_LIBXML2
    Require(CountParameters(document) == reported);
#else
    (void)reported;
#endif
    return 0;
}
