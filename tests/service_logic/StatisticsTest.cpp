#include "logic/Statistics.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#ifdef NORVIK_HAVE_LIBXML2
#include <libxml/parser.h>
#include <libxml/tree.h>
#endif

namespace norvik {
namespace {

using Parameters = std::vector<std::pair<std::string, std::string>>;

const char kEquipment[] =
    "<?xml version=\"1.0\" ?>\n"
    "<UPOSStat version=\"1.13.0\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns=\"http://www.nrf-arts.org/UnifiedPOS/namespace/\" "
    "xsi:schemaLocation=\"http://www.nrf-arts.org/UnifiedPOS/namespace/ UPOSStat.xsd\">\n"
    "<Equipment>\n"
    "<UnifiedPOSVersion>1.13</UnifiedPOSVersion>\n"
    "<DeviceCategory UPOS=\"MSR\"/>\n"
    "<ManufacturerName>Norvik</ManufacturerName>\n"
    "<ModelName>Norvik Secure Swipe Reader</ModelName>\n"
    "<SerialNumber>SN0012345678</SerialNumber>\n"
    "<ManufactureDate>01/01/2012</ManufactureDate>\n"
    "<MechanicalRevision>1.0</MechanicalRevision>\n"
    "<FirmwareRevision>1.0</FirmwareRevision>\n"
    "<Interface>USB</Interface>\n"
    "<InstallationDate>03/07/2025</InstallationDate>\n"
    "</Equipment>\n";

#ifdef NORVIK_HAVE_LIBXML2
std::string Content(xmlNode* node) {
    xmlChar* text = xmlNodeGetContent(node);
    std::string content = text ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return content;
}

// Parses the document as the application would (its texts are ANSI, read
// here as Latin-1) and returns the parameters of its event part.
::testing::AssertionResult ParseDocument(const std::string& document, Parameters& parameters) {
    parameters.clear();
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
        xmlReadMemory(document.data(), static_cast<int>(document.size()), "statistics.xml", "ISO-8859-1",
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        &xmlFreeDoc);
    if (!doc) {
        const xmlError* error = xmlGetLastError();
        return ::testing::AssertionFailure() << "not well-formed: " << (error ? error->message : "?") << document;
    }
    xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!root || std::string(reinterpret_cast<const char*>(root->name)) != "UPOSStat" || !root->ns ||
        std::string(reinterpret_cast<const char*>(root->ns->href)) != "http://www.nrf-arts.org/UnifiedPOS/namespace/") {
        return ::testing::AssertionFailure() << "root is not a UnifiedPOS UPOSStat element";
    }
    for (xmlNode* part = root->children; part; part = part->next) {
        if (part->type != XML_ELEMENT_NODE || std::string(reinterpret_cast<const char*>(part->name)) != "Event") continue;
        for (xmlNode* parameter = part->children; parameter; parameter = parameter->next) {
            if (parameter->type != XML_ELEMENT_NODE) continue;
            std::pair<std::string, std::string> entry;
            for (xmlNode* field = parameter->children; field; field = field->next) {
                if (field->type != XML_ELEMENT_NODE) continue;
                const std::string name = reinterpret_cast<const char*>(field->name);
                (name == "Name" ? entry.first : entry.second) = Content(field);
            }
            parameters.push_back(entry);
        }
    }
    return ::testing::AssertionSuccess();
}
#endif

void ExpectWellFormed(const std::string& document) {
#ifdef NORVIK_HAVE_LIBXML2
    Parameters ignored;
    EXPECT_TRUE(ParseDocument(document, ignored));
#else
    (void)document;
#endif
}

class StatisticsDocument : public ::testing::Test {
protected:
    StatisticsDocument() { LoadXMLUPOSStatistics(record, "Norvik Secure Swipe Reader", "SN0012345678", 2025, 3, 7); }

    std::string Retrieve(std::string_view requestText) {
        ParseStatisticsRequest(requestText, request);
        std::string document = BuildXMLString(record, request);
        ExpectWellFormed(document);
        return document;
    }

    std::vector<int> SelectedIndices() const {
        std::vector<int> indices;
        for (int index = 0; index < kStatisticCount; ++index) {
            if (request.Selected[index]) indices.push_back(index);
        }
        return indices;
    }

    std::vector<std::string> Echoed() const {
        std::vector<std::string> names;
        for (int echo = 0; echo < request.EchoedCount; ++echo) names.emplace_back(request.EchoedNames[echo].view());
        return names;
    }

    StatisticsRecord record;
    StatisticsRequest request;
};

TEST(StatisticsRecordValues, ResetPutsZeroInEveryField) {
    StatisticsRecord record;
    LoadXMLUPOSStatistics(record, "model", "serial", 2025, 12, 31);
    ResetStatisticsRecord(record);
    for (const auto* text : {record.ManufactureDate.c_str(), record.MechanicalRevision.c_str(),
                             record.FirmwareRevision.c_str(), record.InstallationDate.c_str()}) {
        EXPECT_STREQ(text, "0");
    }
    EXPECT_EQ(record.ModelName, "0");
    EXPECT_EQ(record.SerialNumber, "0");
    EXPECT_EQ(record.Interface, "0");
    for (const auto& value : record.Values) EXPECT_EQ(value, "0");
}

TEST(StatisticsRecordValues, RefreshFillsEquipmentAndZeroPaddedDate) {
    StatisticsRecord record;
    ResetStatisticsRecord(record);
    record.Values[4] = "17";
    LoadXMLUPOSStatistics(record, "Reader", "SN1", 987, 3, 7);
    EXPECT_EQ(record.ModelName, "Reader");
    EXPECT_EQ(record.SerialNumber, "SN1");
    EXPECT_EQ(record.ManufactureDate, "01/01/2012");
    EXPECT_EQ(record.MechanicalRevision, "1.0");
    EXPECT_EQ(record.FirmwareRevision, "1.0");
    EXPECT_EQ(record.Interface, "USB");
    EXPECT_EQ(record.InstallationDate, "03/07/0987");
    for (const auto& value : record.Values) EXPECT_EQ(value, "0");
    LoadXMLUPOSStatistics(record, "Reader", "SN1", 2024, 11, 28);
    EXPECT_EQ(record.InstallationDate, "11/28/2024");
}

TEST(StatisticsRecordValues, OversizedInputsAreCutToTheirFields) {
    StatisticsRecord record;
    const std::string longName(100, 'M');
    const std::string longSerial(40, 'S');
    LoadXMLUPOSStatistics(record, longName.c_str(), longSerial.c_str(), -2147483647 - 1, 2147483647, -5);
    EXPECT_EQ(record.ModelName, longName.substr(0, 63));
    EXPECT_EQ(record.SerialNumber, longSerial.substr(0, 31));
    EXPECT_EQ(record.InstallationDate, "2147483647/-5/-");
    LoadXMLUPOSStatistics(record, nullptr, nullptr, 2025, 1, 2);
    EXPECT_EQ(record.ModelName, "");
    EXPECT_EQ(record.SerialNumber, "");
    EXPECT_EQ(record.InstallationDate, "01/02/2025");
}

TEST_F(StatisticsDocument, EmptyRequestReportsAllFifteenInTableOrder) {
    const std::string document = Retrieve("");
    EXPECT_EQ(document, std::string(kEquipment) +
                            "<Event>\n"
                            "<Parameter>\n<Name>HoursPoweredCount</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>CommunicationErrorCount</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>GoodReadCount</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>FailedReadCount</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>UnreadableCardCount</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>GoodWriteCount</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>FailedWriteCount</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>MissingStartSentinelTrack1Count</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>ParityLRCErrorTrack1Count</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>MissingStartSentinelTrack2Count</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>ParityLRCErrorTrack2Count</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>MissingStartSentinelTrack3Count</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>ParityLRCErrorTrack3Count</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>MissingStartSentinelTrack4Count</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>ParityLRCErrorTrack4Count</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "</Event>\n"
                            "</UPOSStat>\n");
}

TEST_F(StatisticsDocument, ManufacturerRequestHasNoEventPart) {
    EXPECT_EQ(Retrieve("M_"), std::string(kEquipment) + "</UPOSStat>\n");
    EXPECT_EQ(Retrieve("M_GoodReadCount,Foo"), std::string(kEquipment) + "</UPOSStat>\n");
    EXPECT_EQ(request.EchoedCount, 0);
}

TEST_F(StatisticsDocument, KnownNamesComeInTableOrderThenEchoedItemsInRequestOrder) {
    const std::string document = Retrieve("FailedReadCount,Foo,GoodReadCount,Bar");
    EXPECT_EQ(document, std::string(kEquipment) +
                            "<Event>\n"
                            "<Parameter>\n<Name>GoodReadCount</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>FailedReadCount</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>Foo</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "<Parameter>\n<Name>Bar</Name>\n<Value>0</Value>\n</Parameter>\n"
                            "</Event>\n"
                            "</UPOSStat>\n");
}

TEST_F(StatisticsDocument, UnifiedPosPrefixSelectsAll) {
    for (const char* text : {"", "U_", "U_anything,Foo", "U_GoodReadCount"}) {
        Retrieve(text);
        EXPECT_EQ(SelectedIndices().size(), 15u) << text;
        EXPECT_EQ(request.EchoedCount, 0) << text;
    }
    Retrieve("u_");
    EXPECT_TRUE(SelectedIndices().empty());
    EXPECT_EQ(Echoed(), std::vector<std::string>{"u_"});
}

TEST_F(StatisticsDocument, NamesAreMatchedExactlyAndSelectedOnce) {
    Retrieve("GoodReadCount,FailedReadCount");
    EXPECT_EQ(SelectedIndices(), (std::vector<int>{2, 3}));
    EXPECT_TRUE(Echoed().empty());

    const std::string twice = Retrieve("GoodReadCount,GoodReadCount");
    EXPECT_EQ(SelectedIndices(), std::vector<int>{2});
    EXPECT_EQ(twice.find("GoodReadCount"), twice.rfind("GoodReadCount"));

    Retrieve("goodreadcount,GoodReadCount ,GoodReadCount, FailedReadCount");
    EXPECT_EQ(SelectedIndices(), std::vector<int>{2});
    EXPECT_EQ(Echoed(), (std::vector<std::string>{"goodreadcount", "GoodReadCount ", " FailedReadCount"}));
}

TEST_F(StatisticsDocument, EmptyItemsAreEchoedWithEmptyNames) {
    const std::string document = Retrieve("GoodReadCount,");
    EXPECT_EQ(Echoed(), std::vector<std::string>{""});
    EXPECT_NE(document.find("<Name></Name>\n<Value>0</Value>"), std::string::npos);
    Retrieve(",");
    EXPECT_EQ(Echoed(), (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(SelectedIndices().empty());
}

TEST_F(StatisticsDocument, OnlyFifteenItemsAreEchoedEachCutToFiftyCharacters) {
    std::string text;
    for (int item = 1; item <= 20; ++item) text += "Item" + std::to_string(item) + ",";
    text += "HoursPoweredCount";
    Retrieve(text);
    ASSERT_EQ(request.EchoedCount, 15);
    EXPECT_EQ(request.EchoedNames[0], "Item1");
    EXPECT_EQ(request.EchoedNames[14], "Item15");
    EXPECT_EQ(SelectedIndices(), std::vector<int>{0}) << "names after the last echo still select";

    const std::string longItem(300, 'L');
    Retrieve(longItem + ",GoodReadCount");
    EXPECT_EQ(Echoed(), std::vector<std::string>{std::string(50, 'L')});
    EXPECT_EQ(SelectedIndices(), std::vector<int>{2});
}

TEST_F(StatisticsDocument, RequestNamingEveryStatisticIsReadWhole) {
    std::string text;
    for (int index = kStatisticCount - 1; index >= 0; --index) {
        text += kStatisticNames[index];
        if (index > 0) text += ',';
    }
    ASSERT_GT(text.size(), 322u);
    Retrieve(text);
    EXPECT_EQ(SelectedIndices().size(), 15u);
    EXPECT_TRUE(Echoed().empty());
}

TEST_F(StatisticsDocument, RequestEndsAtItsFirstNul) {
    Retrieve(std::string_view("GoodReadCount\0,FailedReadCount", 30));
    EXPECT_EQ(SelectedIndices(), std::vector<int>{2});
    EXPECT_TRUE(Echoed().empty());
    Retrieve(std::string_view("\0U_", 3));
    EXPECT_EQ(SelectedIndices().size(), 15u) << "an empty text selects all";
}

TEST_F(StatisticsDocument, ParsingStartsAfresh) {
    Retrieve("Foo,Bar");
    Retrieve("GoodReadCount");
    EXPECT_EQ(SelectedIndices(), std::vector<int>{2});
    EXPECT_TRUE(Echoed().empty());
}

TEST_F(StatisticsDocument, InstallationDateIsTheDateOfTheRefresh) {
    LoadXMLUPOSStatistics(record, "R", "S", 2031, 1, 9);
    EXPECT_NE(Retrieve("M_").find("<InstallationDate>01/09/2031</InstallationDate>\n"), std::string::npos);
}

TEST_F(StatisticsDocument, MarkupInInsertedTextsIsEscaped) {
    LoadXMLUPOSStatistics(record, "A&B <Reader>", "S\x01N", 2025, 3, 7);
    const std::string document = Retrieve("x</Name><Value>99</Value>");
    EXPECT_NE(document.find("<ModelName>A&amp;B &lt;Reader&gt;</ModelName>\n"), std::string::npos);
    EXPECT_NE(document.find("<SerialNumber>S?N</SerialNumber>\n"), std::string::npos);
    EXPECT_NE(document.find("<Name>x&lt;/Name&gt;&lt;Value&gt;99&lt;/Value&gt;</Name>\n"),
              std::string::npos)
        << document;
#ifdef NORVIK_HAVE_LIBXML2
    Parameters parameters;
    ASSERT_TRUE(ParseDocument(document, parameters));
    EXPECT_EQ(parameters, (Parameters{{"x</Name><Value>99</Value>", "0"}}));
#endif
}

TEST_F(StatisticsDocument, AnsiTextPassesThroughUnchanged) {
    LoadXMLUPOSStatistics(record, "Lecteur \x96 caf\xe9", "SN", 2025, 3, 7);
    const std::string document = Retrieve("Caf\xe9,\tTab");
    EXPECT_NE(document.find("<ModelName>Lecteur \x96 caf\xe9</ModelName>\n"), std::string::npos);
    EXPECT_EQ(Echoed(), (std::vector<std::string>{"Caf\xe9", "\tTab"}));
}

#ifdef NORVIK_HAVE_LIBXML2
TEST_F(StatisticsDocument, ApplicationReadsBackTheParametersItAskedFor) {
    Parameters parameters;
    ASSERT_TRUE(ParseDocument(Retrieve("ParityLRCErrorTrack4Count,a&b,HoursPoweredCount,,<c>"), parameters));
    EXPECT_EQ(parameters, (Parameters{{"HoursPoweredCount", "0"},
                                      {"ParityLRCErrorTrack4Count", "0"},
                                      {"a&b", "0"},
                                      {"", "0"},
                                      {"<c>", "0"}}));
    ASSERT_TRUE(ParseDocument(Retrieve("M_"), parameters));
    EXPECT_TRUE(parameters.empty());
}
#endif

TEST_F(StatisticsDocument, FullestPossibleDocumentReachesTheDocumentedBound) {
    record.ModelName = std::string(100, '&');
    record.SerialNumber = std::string(100, '&');
    record.ManufactureDate = std::string(100, '&');
    record.MechanicalRevision = std::string(100, '&');
    record.FirmwareRevision = std::string(100, '&');
    record.Interface = std::string(100, '&');
    record.InstallationDate = std::string(100, '&');
    for (auto& value : record.Values) value = std::string(100, '&');
    for (bool& selected : request.Selected) selected = true;
    for (auto& name : request.EchoedNames) name = std::string(100, '&');
    request.EchoedCount = kStatisticCount;
    const std::string document = BuildXMLString(record, request);
    EXPECT_EQ(document.size(), MaxStatisticsDocumentLength());
    ExpectWellFormed(document);

    request.EchoedCount = 1000;  // a damaged count reports at most the fifteen slots
    EXPECT_EQ(BuildXMLString(record, request).size(), MaxStatisticsDocumentLength());
}

}  // namespace
}  // namespace norvik
