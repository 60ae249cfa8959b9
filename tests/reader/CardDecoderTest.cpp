// Decoding of swipe reports into the store, the record and the card data text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/CardDecoder.h"
#include "core/ModelTable.h"
#include "sim/SwipeReportBuilder.h"

namespace vorlex {
namespace {

const ModelSwitches kBasic = FindReaderModel(VORLEX_PID_BASIC_SWIPE)->switches;
const ModelSwitches kSecure = FindReaderModel(VORLEX_PID_SECURE_SWIPE)->switches;

class DecoderTest : public ::testing::Test {
protected:
    DecoderTest() : report_(kReportBufferSize, 0) {}

    void PutTrack(int track, const std::string& text, const ModelSwitches& model) {
        const size_t plain[3] = {8, 118, 228};
        const size_t hex[3] = {8, 120, 232};
        const size_t offset = model.hexTrackData ? hex[track] : plain[track];
        report_[4 + track] = static_cast<uint8_t>(text.size());
        std::copy(text.begin(), text.end(), report_.begin() + offset);
    }
    void PutMaskedTrack(int track, const std::string& text) {
        const size_t offsets[3] = {509, 621, 733};
        report_[506 + track] = static_cast<uint8_t>(text.size());
        std::copy(text.begin(), text.end(), report_.begin() + offsets[track]);
    }
    void Decode(const ModelSwitches& model) {
        GetMSRResults(store_, report_.data(), model);
        UpdateData(store_, model);
    }
    VorlexCardData Record() const {
        VorlexCardData record;
        std::memset(&record, 0x5A, sizeof record);  // proves the reserved field is never written
        FillRecord(store_, record);
        return record;
    }

    std::vector<uint8_t> report_;
    CardDataStore store_;
};

TEST_F(DecoderTest, PlainTrackTwoGivesAccountAndExpiration) {
    PutTrack(1, ";1234567890123456=2512101?", kBasic);
    report_[7] = 0;
    Decode(kBasic);
    const VorlexCardData record = Record();
    EXPECT_STREQ(record.Track2Text, ";1234567890123456=2512101?");
    EXPECT_STREQ(record.AllTracks, ";1234567890123456=2512101?");
    EXPECT_STREQ(record.ParsedAccountNumber, "1234567890123456");
    EXPECT_STREQ(record.ParsedExpirationYear, "25");
    EXPECT_STREQ(record.ParsedExpirationMonth, "12");
    EXPECT_STREQ(record.ParsedFirstName, "");
    EXPECT_STREQ(record.ParsedLastName, "");
    EXPECT_STREQ(record.AuxBlock8Hex, "0000000000000000");
    EXPECT_STREQ(record.AuxBlock10Hex, "00000000000000000000");
    EXPECT_STREQ(record.CardEncodeTypeName, "ISO");
    EXPECT_EQ(record.Track2Length, 26);
    EXPECT_EQ(record.DecodeFailed, 0);
    EXPECT_EQ(record.Reserved[0], 0x5A);
    EXPECT_EQ(record.Reserved[767], 0x5A);
}

TEST_F(DecoderTest, TrackOneNamesNeedTwoCaretsAndASlash) {
    struct Case {
        const char* track1;
        const char* last;
        const char* first;
    } cases[] = {
        {"%B1234567890123456^DOE/JOHN^2512101?", "DOE", "JOHN"},
        {"%B1234567890123456^DOE/JOHN", "", ""},          // one '^' only
        {"%B1234567890123456^DOE JOHN^2512101?", "", ""},  // no '/'
        {"%B1234?DOE/JANE^2512", "DOE", "JANE"},           // '?' stands in for the first '^'
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.track1);
        std::fill(report_.begin(), report_.end(), 0);
        PutTrack(0, c.track1, kBasic);
        Decode(kBasic);
        EXPECT_STREQ(Record().ParsedLastName, c.last);
        EXPECT_STREQ(Record().ParsedFirstName, c.first);
    }
}

TEST_F(DecoderTest, ExpirationIsCutToWhatTrackTwoHolds) {
    struct Case {
        const char* track2;
        const char* year;
        const char* month;
    } cases[] = {{";4111=", "", ""}, {";4111=25", "25", ""}, {";4111=251", "25", "1"},
                 {";4111=2512999", "25", "12"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.track2);
        PutTrack(1, c.track2, kBasic);
        Decode(kBasic);
        EXPECT_STREQ(Record().ParsedAccountNumber, "4111");
        EXPECT_STREQ(Record().ParsedExpirationYear, c.year);
        EXPECT_STREQ(Record().ParsedExpirationMonth, c.month);
    }
}

TEST_F(DecoderTest, SecureModelRendersHexTracksAndParsesMaskedOnes) {
    report_[4] = 3;
    report_[8] = 0x01;
    report_[9] = 0xAB;
    report_[10] = 0x10;
    PutMaskedTrack(0, "%B4111********1111^DOE/JANE^2512?");
    PutMaskedTrack(1, ";4111********1111=2601?");
    const char serial[] = "SN0123456789ABCD";  // all 16 bytes used, no terminator in the report
    std::memcpy(&report_[478], serial, 16);
    report_[345] = 0x01;  // FluxScribe status 0x0000C001, little-endian
    report_[346] = 0xC0;
    report_[349] = 2;
    report_[350] = 0xDE;
    report_[351] = 0xAD;
    for (int i = 0; i < 10; ++i) report_[496 + i] = static_cast<uint8_t>(i);
    for (int i = 0; i < 8; ++i) report_[845 + i] = static_cast<uint8_t>(0xF0 + i);
    Decode(kSecure);
    const VorlexCardData record = Record();
    EXPECT_STREQ(record.Track1Text, "01AB10");
    EXPECT_EQ(record.Track1Length, 3);
    EXPECT_STREQ(record.MaskedTrack1Text, "%B4111********1111^DOE/JANE^2512?");
    EXPECT_STREQ(record.ParsedLastName, "DOE");
    EXPECT_STREQ(record.ParsedFirstName, "JANE");
    EXPECT_STREQ(record.ParsedAccountNumber, "4111********1111");
    EXPECT_STREQ(record.ParsedExpirationYear, "26");
    EXPECT_STREQ(record.SerialNumberText, "SN0123456789ABCD");
    EXPECT_STREQ(record.FluxScribeStatusText, "0000c001");
    EXPECT_EQ(record.FluxScribeStatus, 0xC001);
    EXPECT_STREQ(record.FluxScribeHex, "DEAD");
    EXPECT_STREQ(record.AuxBlock10Hex, "00010203040506070809");
    EXPECT_STREQ(record.AuxBlock8Hex, "F0F1F2F3F4F5F6F7");
    EXPECT_EQ(std::string(store_.AllMaskedTracksText.c_str()),
              std::string(record.MaskedTrack1Text) + record.MaskedTrack2Text);
}

TEST_F(DecoderTest, OutOfRangeLengthsAndStatusesAreKeptAsRead) {
    PutTrack(0, "%B1^X/Y^1?", kBasic);
    report_[4] = 0x80;  // -128: unusable
    report_[1] = 3;     // bit 0 set
    report_[7] = 7;
    Decode(kBasic);
    VorlexCardData record = Record();
    EXPECT_STREQ(record.Track1Text, "");
    EXPECT_EQ(record.Track1Length, -128);
    EXPECT_EQ(record.Track1DecodeStatus, 3);
    EXPECT_EQ(record.DecodeFailed, 1);
    EXPECT_STREQ(record.CardEncodeTypeName, "");

    report_[1] = 2;     // bit 0 clear: not a failure
    report_[7] = 0xFF;  // -1
    Decode(kBasic);
    record = Record();
    EXPECT_EQ(record.DecodeFailed, 0);
    EXPECT_EQ(record.CardEncodeType, -1);
    EXPECT_STREQ(record.CardEncodeTypeName, "");
}

TEST_F(DecoderTest, ClearKeepsTheLastSwipesEncodeTypeStatusAndFailure) {
    report_[1] = 1;
    report_[7] = 1;
    report_[345] = 0x2A;
    report_[349] = 1;
    PutTrack(0, "ABC", kSecure);
    Decode(kSecure);
    ClearCardData(store_);
    const VorlexCardData record = Record();
    EXPECT_STREQ(record.Track1Text, "");
    EXPECT_STREQ(record.AllTracks, "");
    EXPECT_STREQ(record.AuxBlock8Hex, "");
    EXPECT_STREQ(record.CardEncodeTypeName, "");
    EXPECT_STREQ(record.FluxScribeHex, "");
    EXPECT_EQ(record.Track1Length, 0);
    EXPECT_EQ(record.Track1DecodeStatus, 0);
    EXPECT_EQ(record.FluxScribeStatus, 0);
    EXPECT_EQ(record.CardEncodeType, 1);
    EXPECT_EQ(record.DecodeFailed, 1);
    EXPECT_STREQ(record.FluxScribeStatusText, "0000002a");
}

TEST_F(DecoderTest, PlainModelAfterASecureOneShowsNoEarlierMaskedTracks) {
    PutMaskedTrack(0, "%B4111********1111^SECRET/CARD^?");
    Decode(kSecure);
    ClearCardData(store_);  // as opening the next reader does
    std::fill(report_.begin(), report_.end(), 0);
    PutTrack(1, ";5555=2501?", kBasic);
    Decode(kBasic);
    EXPECT_STREQ(Record().MaskedTrack1Text, "");
    EXPECT_STREQ(store_.AllMaskedTracksText.c_str(), "");
}

TEST_F(DecoderTest, TextsStayWithinTheirCapacities) {
    // Three hexadecimal tracks of 127 bytes: 762 digits do not fit AllTracksText.
    for (int t = 0; t < 3; ++t) report_[4 + t] = 127;
    std::fill(report_.begin() + 8, report_.begin() + 8 + 400, 0xEE);
    Decode(kSecure);
    EXPECT_EQ(store_.Track1Text.size(), 254u);
    EXPECT_EQ(store_.AllTracksText.size(), 511u);
    const VorlexCardData record = Record();
    EXPECT_EQ(::strnlen(record.AllTracks, sizeof record.AllTracks), 762u);

    const std::string separator(300, '|');
    char text[kReportBufferSize + 16];
    std::memset(text, '#', sizeof text);
    const size_t length = BuildCardDataText(store_, separator.c_str(), text);
    EXPECT_EQ(length, kReportBufferSize - 1);
    EXPECT_EQ(text[kReportBufferSize - 1], '\0');
    EXPECT_EQ(text[kReportBufferSize], '#');
}

TEST_F(DecoderTest, CardDataTextOfAClearedStoreHasOnlyNumbersAndSeparators) {
    store_.ProductID = 0x0A;
    store_.DecodeFailed = -1;
    ClearCardData(store_);
    char text[kReportBufferSize];
    const size_t length = BuildCardDataText(store_, "|", text);
    const std::string s(text, length);
    EXPECT_EQ(s.substr(0, 3), "0A|");
    EXPECT_EQ(std::count(s.begin(), s.end(), '|'), 31);
    EXPECT_EQ(s, "0A||-1|0|0|0|0|00|0|0|0|0|0|0|0|" + std::string(16, '|'));
}

TEST_F(DecoderTest, CardDataTextCarriesEveryField) {
    SwipeTracks tracks;
    tracks.track[0] = "%B4111111111111111^DOE/JOHN^2512?";
    tracks.track[1] = ";4111111111111111=2512?";
    std::vector<uint8_t> report(kReportBufferSize);
    BuildSwipeReport(kBasic, tracks, 338, report.data(), report.size());
    GetMSRResults(store_, report.data(), kBasic);
    UpdateData(store_, kBasic);
    store_.ProductID = VORLEX_PID_BASIC_SWIPE;
    char text[kReportBufferSize];
    const std::string s(text, BuildCardDataText(store_, ";;", text));
    EXPECT_EQ(s,
              "201;;;;0;;0;;0;;0;;0;;00;;33;;23;;0;;0;;0;;0;;0;;"
              "%B4111111111111111^DOE/JOHN^2512?;4111111111111111=2512?;;;;"
              "0000000000000000;;00000000000000000000;;JOHN;;DOE;;4111111111111111;;12;;25;;"
              "%B4111111111111111^DOE/JOHN^2512?;;;4111111111111111=2512?;;;;;;;;;;;;");
}

TEST(BytesToHexTest, WritesWholePairsWithinCapacity) {
    const uint8_t bytes[] = {0x00, 0x01, 0x02, 0x90, 0x00, 0x1F};
    char out[16];
    BytesToHex(bytes, 3, out, sizeof out, true);
    EXPECT_STREQ(out, "90001F");
    BytesToHex(bytes, 6, out, 6, false);  // room for two pairs and the terminator
    EXPECT_STREQ(out, "0001");
    std::strcpy(out, "stale");
    BytesToHex(bytes, 0, out, sizeof out, false);
    EXPECT_STREQ(out, "");
    BytesToHex(bytes, -4, out, sizeof out, false);
    EXPECT_STREQ(out, "");
}

TEST(SwipeReportBuilderTest, SecureReportDecodesToMaskedTracksAndCipherText) {
    SwipeTracks tracks;
    tracks.track[0] = "%B4111111111111111^DOE/JOHN^2512101?";
    tracks.track[1] = ";4111111111111111=2512101?";
    std::vector<uint8_t> report(kReportBufferSize);
    ASSERT_EQ(BuildSwipeReport(kSecure, tracks, 887, report.data(), report.size()), 887u);
    CardDataStore store;
    GetMSRResults(store, report.data(), kSecure);
    UpdateData(store, kSecure);
    EXPECT_EQ(store.MaskedTrack1Text, "%B411111******1111^DOE/JOHN^2512101?");
    EXPECT_EQ(store.MaskedTrack2Text, ";411111******1111=2512101?");
    EXPECT_EQ(store.ParsedAccountNumber, "411111******1111");
    EXPECT_EQ(store.Track1Length % 8, 0);
    EXPECT_EQ(store.Track1Text.size(), static_cast<size_t>(store.Track1Length) * 2);
    EXPECT_EQ(store.Track1Text.view().find("4111"), std::string_view::npos);
    EXPECT_EQ(store.SerialNumberText.size(), 16u);
    EXPECT_EQ(store.FluxScribeHex.size(), 128u);
}

}  // namespace
}  // namespace vorlex
