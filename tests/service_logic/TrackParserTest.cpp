#include "logic/TrackParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace norvik {
namespace {

constexpr std::string_view kTrack1 = "%B4111111111111111^DOE/JOHN Q^2512101123456789?";
constexpr std::string_view kTrack2 = ";4111111111111111=25121011234567890?";
constexpr std::string_view kMaskedTrack1 = "%B4111********1111^DOE/JOHN Q^2512101123456789?";
constexpr std::string_view kMaskedTrack2 = ";4111********1111=25121011234567890?";
constexpr std::string_view kMaskedTrack3 = ";0123456789?";
constexpr std::string_view kEncryptedTrack1 = "9F8E7D6C5B4A39281706F5E4D3C2B1A0";
constexpr std::string_view kEncryptedTrack2 = "00112233445566778899AABBCCDDEEFF0011";
constexpr std::string_view kEncryptedTrack3 = "DEADBEEF";
constexpr std::string_view kFluxScribe = "0A1B2C3D4E5F60718293A4B5C6D7E8F9";
constexpr std::string_view kAuxBlock10 = "0123456789ABCDEF0123";

template <size_t N>
void Put(char (&field)[N], std::string_view text) {
    CopyBounded(field, N, text);
}

template <size_t N>
std::string_view Get(const char (&field)[N]) {
    return std::string_view(field, ::strnlen(field, N));
}

// The property block as OpenService leaves it for a reader without
// encryption, and a zeroed current record.
class TrackParsing : public ::testing::Test {
protected:
    TrackParsing() {
        props.ReaderKind = 0;
        props.DecodeData = true;
        props.ParseDecodeData = true;
        props.TransmitSentinels = false;
        props.TracksToRead = MSR_TR_1_2_3;
        props.CardPropertyList = kCardPropertyList;
        props.CardType = kBankCardType;
    }

    void SwipePlain(std::string_view track1, std::string_view track2, std::string_view track3 = "") {
        *record = VorlexCardData{};
        Put(record->Track1Text, track1);
        Put(record->Track2Text, track2);
        Put(record->Track3Text, track3);
        BuildDataProperties(props, *record);
    }

    void SwipeEncrypting() {
        *record = VorlexCardData{};
        Put(record->Track1Text, kEncryptedTrack1);
        Put(record->Track2Text, kEncryptedTrack2);
        Put(record->Track3Text, kEncryptedTrack3);
        Put(record->MaskedTrack1Text, kMaskedTrack1);
        Put(record->MaskedTrack2Text, kMaskedTrack2);
        Put(record->MaskedTrack3Text, kMaskedTrack3);
        Put(record->FluxScribeHex, kFluxScribe);
        Put(record->AuxBlock10Hex, kAuxBlock10);
        BuildDataProperties(props, *record);
    }

    void ExpectNoCardProperties() {
        EXPECT_EQ(props.AccountNumber, "");
        EXPECT_EQ(props.ExpirationDate, "");
        EXPECT_EQ(props.ServiceCode, "");
        EXPECT_EQ(props.Surname, "");
        EXPECT_EQ(props.FirstName, "");
        EXPECT_EQ(props.MiddleInitial, "");
        EXPECT_EQ(props.Suffix, "");
        EXPECT_EQ(props.Title, "");
    }

    PropertyBlock props;
    std::unique_ptr<VorlexCardData> record = std::make_unique<VorlexCardData>();
};

TEST_F(TrackParsing, BankCardOnAllTracksGivesEveryPropertyAndItsStatus) {
    SwipePlain(kTrack1, kTrack2);
    EXPECT_EQ(props.AccountNumber, "4111111111111111");
    EXPECT_EQ(props.ExpirationDate, "2512");
    EXPECT_EQ(props.ServiceCode, "101");
    EXPECT_EQ(props.Surname, "DOE");
    EXPECT_EQ(props.FirstName, "JOHN");
    EXPECT_EQ(props.MiddleInitial, "Q");
    EXPECT_EQ(props.Suffix, "");
    EXPECT_EQ(props.Title, "");
    EXPECT_EQ(props.Track1DiscretionaryData, "123456789");
    EXPECT_EQ(props.Track2DiscretionaryData, "1234567890");
    EXPECT_EQ(props.Track1Data, "B4111111111111111^DOE/JOHN Q^2512101123456789");
    EXPECT_EQ(props.Track2Data, "4111111111111111=25121011234567890");
    EXPECT_EQ(props.Track3Data, "");
    EXPECT_EQ(props.Track4Data, "");
    EXPECT_EQ(DataEventStatus(props), 8749);
}

TEST_F(TrackParsing, PlainReaderLeavesEncryptionPropertiesEmpty) {
    props.ReaderKind = 1;
    SwipeEncrypting();
    props.ReaderKind = 0;
    SwipePlain(kTrack1, kTrack2, ";0123456789?");
    EXPECT_EQ(props.CapCardAuthentication, "");
    EXPECT_EQ(props.CardAuthenticationData, "");
    EXPECT_EQ(props.CardAuthenticationDataLength, 0);
    EXPECT_EQ(props.AdditionalSecurityInformation, "");
    EXPECT_EQ(props.Track1EncryptedData, "");
    EXPECT_EQ(props.Track2EncryptedData, "");
    EXPECT_EQ(props.Track3EncryptedData, "");
    EXPECT_EQ(props.Track4EncryptedData, "");
    EXPECT_EQ(props.Track1EncryptedDataLength, 0);
    EXPECT_EQ(props.Track2EncryptedDataLength, 0);
    EXPECT_EQ(props.Track3EncryptedDataLength, 0);
    EXPECT_EQ(props.Track4EncryptedDataLength, 0);
    EXPECT_EQ(props.Track3Data, "0123456789");
}

TEST_F(TrackParsing, TransmitSentinelsKeepsStartAndEndSentinels) {
    props.TransmitSentinels = true;
    SwipePlain(kTrack1, kTrack2);
    EXPECT_EQ(props.Track1Data, kTrack1);
    EXPECT_EQ(props.Track2Data, kTrack2);
    EXPECT_EQ(props.Track1Data.size(), 47u);
    EXPECT_EQ(props.Track2Data.size(), 36u);
    EXPECT_EQ(DataEventStatus(props), 47 + 36 * 256);
}

TEST_F(TrackParsing, SentinelsAreStrippedWhateverTheyAre) {
    SwipePlain("XabcdefY", "", "123456");
    EXPECT_EQ(props.Track1Data, "abcdef");
    EXPECT_EQ(props.Track3Data, "2345");
}

TEST_F(TrackParsing, TracksOfFiveCharactersOrFewerKeepTheirSentinels) {
    SwipePlain("%AB?", ";123?", ";1234?");
    EXPECT_EQ(props.Track1Data, "%AB?");
    EXPECT_EQ(props.Track2Data, ";123?");
    EXPECT_EQ(props.Track3Data, "1234");
    EXPECT_EQ(DataEventStatus(props), 4 + 5 * 256 + 4 * 65536);
}

TEST_F(TrackParsing, TrackTwoOnlyDropsTheNameButKeepsTheAccount) {
    props.TracksToRead = MSR_TR_2;
    SwipePlain(kTrack1, kTrack2);
    EXPECT_EQ(props.Surname, "");
    EXPECT_EQ(props.FirstName, "");
    EXPECT_EQ(props.MiddleInitial, "");
    EXPECT_EQ(props.Track1Data, "");
    EXPECT_EQ(props.Track1DiscretionaryData, "");
    EXPECT_EQ(props.AccountNumber, "4111111111111111");
    EXPECT_EQ(props.ExpirationDate, "2512");
    EXPECT_EQ(props.Track2DiscretionaryData, "1234567890");
    EXPECT_EQ(Get(record->Track1Text), "") << "an unselected track is emptied in the record";
    EXPECT_EQ(Get(record->Track2Text), kTrack2);
}

TEST_F(TrackParsing, TrackOneOnlyTakesTheAccountAfterTheFormatCode) {
    props.TracksToRead = MSR_TR_1;
    SwipePlain(kTrack1, kTrack2, ";0123456789?");
    EXPECT_EQ(props.AccountNumber, "4111111111111111");
    EXPECT_EQ(props.ExpirationDate, "2512");
    EXPECT_EQ(props.ServiceCode, "101");
    EXPECT_EQ(props.Surname, "DOE");
    EXPECT_EQ(props.Track2Data, "");
    EXPECT_EQ(props.Track3Data, "");
    EXPECT_EQ(props.Track2DiscretionaryData, "");
    EXPECT_EQ(Get(record->Track2Text), "");
    EXPECT_EQ(Get(record->Track3Text), "");
    EXPECT_EQ(DataEventStatus(props), 45);
}

TEST_F(TrackParsing, TrackTwoAccountWinsOverTrackOne) {
    SwipePlain("%B1111222233334444^DOE/JOHN^2001101999?", ";5555666677778888=3012202888?");
    EXPECT_EQ(props.AccountNumber, "5555666677778888");
    EXPECT_EQ(props.ExpirationDate, "3012");
    EXPECT_EQ(props.ServiceCode, "202");
    EXPECT_EQ(props.Track1DiscretionaryData, "999");
    EXPECT_EQ(props.Track2DiscretionaryData, "888");
}

TEST_F(TrackParsing, EmptySelectedTrackClearsWhatAnEarlierSwipeLeft) {
    SwipePlain(kTrack1, kTrack2);
    props.TracksToRead = MSR_TR_1;
    SwipePlain("", kTrack2);
    EXPECT_EQ(props.AccountNumber, "");
    EXPECT_EQ(props.ExpirationDate, "");
    EXPECT_EQ(props.ServiceCode, "");
    EXPECT_EQ(props.Track1DiscretionaryData, "");
    EXPECT_EQ(props.Track2DiscretionaryData, "");
    EXPECT_EQ(props.Surname, "");
    EXPECT_EQ(DataEventStatus(props), 0);
}

TEST_F(TrackParsing, NoSelectedTrackEmptiesEverything) {
    for (int32_t tracks : {int32_t{0}, int32_t{MSR_TR_4}}) {
        props.TracksToRead = MSR_TR_1_2_3;
        SwipePlain(kTrack1, kTrack2, ";0123456789?");
        props.TracksToRead = tracks;
        SwipePlain(kTrack1, kTrack2, ";0123456789?");
        ExpectNoCardProperties();
        EXPECT_EQ(props.Track1Data, "") << tracks;
        EXPECT_EQ(props.Track2Data, "") << tracks;
        EXPECT_EQ(props.Track3Data, "") << tracks;
        EXPECT_EQ(props.Track1DiscretionaryData, "") << tracks;
        EXPECT_EQ(props.Track2DiscretionaryData, "") << tracks;
        EXPECT_EQ(DataEventStatus(props), 0) << tracks;
    }
}

TEST_F(TrackParsing, TrackThreeOnlyGivesTrackThreeData) {
    props.TracksToRead = MSR_TR_3;
    SwipePlain(kTrack1, kTrack2, ";0123456789?");
    ExpectNoCardProperties();
    EXPECT_EQ(props.Track1Data, "");
    EXPECT_EQ(props.Track2Data, "");
    EXPECT_EQ(props.Track3Data, "0123456789");
    EXPECT_EQ(DataEventStatus(props), 10 << 16);
}

TEST_F(TrackParsing, ThirdNameWordSplitsIntoSuffixAndTitle) {
    SwipePlain("%B4111111111111111^DOE/JOHN Q MR.JR^2512101?", "");
    EXPECT_EQ(props.Surname, "DOE");
    EXPECT_EQ(props.FirstName, "JOHN");
    EXPECT_EQ(props.MiddleInitial, "Q");
    EXPECT_EQ(props.Suffix, "MR");
    EXPECT_EQ(props.Title, "JR");
}

TEST_F(TrackParsing, SurnameLosesALeadingFiftyNine) {
    SwipePlain("%B4111111111111111^59DOE/JOHN^2512101?", "");
    EXPECT_EQ(props.Surname, "DOE");
    EXPECT_EQ(props.FirstName, "JOHN");
    EXPECT_EQ(props.MiddleInitial, "");
    SwipePlain("%B4111111111111111^5/JOHN^2512101?", "");
    EXPECT_EQ(props.Surname, "5");
    SwipePlain("%B4111111111111111^D59OE/JOHN^2512101?", "");
    EXPECT_EQ(props.Surname, "D59OE");
}

TEST_F(TrackParsing, MalformedTracksGiveEmptyOrShortValues) {
    // Name without '/': all of it is the surname.
    SwipePlain("%B4111111111111111^DOE JOHN^2512101?", "");
    EXPECT_EQ(props.Surname, "DOE JOHN");
    EXPECT_EQ(props.FirstName, "");
    // '%' account without a format code 'B'.
    SwipePlain("%4111111111111111^DOE/JOHN^2512101?", "");
    EXPECT_EQ(props.AccountNumber, "");
    EXPECT_EQ(props.ExpirationDate, "2512");
    // Short date field.
    SwipePlain("%B4111^DOE/JOHN^25", "");
    EXPECT_EQ(props.ExpirationDate, "25");
    EXPECT_EQ(props.ServiceCode, "");
    EXPECT_EQ(props.Track1DiscretionaryData, "");
    // A date field of exactly eight characters has no discretionary data.
    SwipePlain("%B4111^DOE/JOHN^2512101?", ";4111=2512101?");
    EXPECT_EQ(props.Track1DiscretionaryData, "");
    EXPECT_EQ(props.Track2DiscretionaryData, "");
    // No separators at all.
    SwipePlain("%GARBAGE?", "GARBAGE");
    ExpectNoCardProperties();
    EXPECT_EQ(props.Track1Data, "GARBAGE");
    EXPECT_EQ(props.Track2Data, "ARBAG");
}

TEST_F(TrackParsing, ParseDecodeDataFalseLeavesCardPropertiesEmpty) {
    SwipePlain(kTrack1, kTrack2);
    props.ParseDecodeData = false;
    SwipePlain(kTrack1, kTrack2);
    ExpectNoCardProperties();
    EXPECT_EQ(props.Track1Data, "B4111111111111111^DOE/JOHN Q^2512101123456789");
    EXPECT_EQ(props.Track2Data, "4111111111111111=25121011234567890");
    EXPECT_EQ(props.Track1DiscretionaryData, "123456789");
    EXPECT_EQ(props.Track2DiscretionaryData, "1234567890");
}

TEST_F(TrackParsing, EncryptingReaderShowsMaskedTracksAndCarriesTheEncryptedOnes) {
    for (int32_t kind : {1, 7, -3}) {
        props.ReaderKind = kind;
        SwipeEncrypting();
        EXPECT_EQ(props.Track1Data, kMaskedTrack1.substr(1, kMaskedTrack1.size() - 2)) << kind;
        EXPECT_EQ(props.Track2Data, kMaskedTrack2.substr(1, kMaskedTrack2.size() - 2));
        EXPECT_EQ(props.Track3Data, "0123456789");
        EXPECT_EQ(props.Track4Data, "");
        EXPECT_EQ(props.AccountNumber, "4111********1111");
        EXPECT_EQ(props.Surname, "DOE");
        EXPECT_EQ(props.Track1EncryptedData, kEncryptedTrack1);
        EXPECT_EQ(props.Track2EncryptedData, kEncryptedTrack2);
        EXPECT_EQ(props.Track3EncryptedData, kEncryptedTrack3);
        EXPECT_EQ(props.Track4EncryptedData, "");
        EXPECT_EQ(props.Track1EncryptedDataLength, static_cast<int32_t>(kEncryptedTrack1.size()));
        EXPECT_EQ(props.Track2EncryptedDataLength, static_cast<int32_t>(kEncryptedTrack2.size()));
        EXPECT_EQ(props.Track3EncryptedDataLength, static_cast<int32_t>(kEncryptedTrack3.size()));
        EXPECT_EQ(props.Track4EncryptedDataLength, 0);
        EXPECT_EQ(props.CardAuthenticationData, kFluxScribe);
        EXPECT_EQ(props.CardAuthenticationDataLength, static_cast<int32_t>(kFluxScribe.size()));
        EXPECT_EQ(props.AdditionalSecurityInformation, kAuxBlock10);
        EXPECT_EQ(props.CapCardAuthentication.size(), 19u);
        EXPECT_EQ(props.CapCardAuthentication.view()[11], '\x96');
        EXPECT_EQ(props.CapCardAuthentication, "FLUXSCRIBE \x96 VER 01");
    }
}

TEST_F(TrackParsing, EncryptingReaderDropsUnselectedEncryptedTracks) {
    props.ReaderKind = 1;
    props.TracksToRead = MSR_TR_1;
    SwipeEncrypting();
    EXPECT_EQ(props.Track1EncryptedData, kEncryptedTrack1);
    EXPECT_EQ(props.Track2EncryptedData, "");
    EXPECT_EQ(props.Track3EncryptedData, "");
    EXPECT_EQ(props.Track2EncryptedDataLength, 0);
    EXPECT_EQ(props.Track3EncryptedDataLength, 0);
    EXPECT_EQ(props.Track2Data, "");
    EXPECT_EQ(Get(record->MaskedTrack2Text), "");
    EXPECT_EQ(Get(record->Track3Text), "");
    EXPECT_EQ(props.AccountNumber, "4111********1111");
}

TEST_F(TrackParsing, SentinelRebuildAfterClearingBringsTracksBackButNotCardProperties) {
    SwipePlain(kTrack1, kTrack2, ";12?");
    ClearInputPropertyValues(props);
    props.TransmitSentinels = true;
    ProcessSentinels(props, *record);
    EXPECT_EQ(props.Track1Data, kTrack1);
    EXPECT_EQ(props.Track2Data, kTrack2);
    EXPECT_EQ(props.Track3Data, ";12?");
    ExpectNoCardProperties();
    EXPECT_EQ(props.Track1DiscretionaryData, "");

    ClearInputPropertyValues(props);
    props.TransmitSentinels = false;
    ProcessSentinels(props, *record);
    EXPECT_EQ(props.Track1Data, "B4111111111111111^DOE/JOHN Q^2512101123456789");
    EXPECT_EQ(props.Track3Data, "") << "short tracks come back only with their sentinels";
}

TEST_F(TrackParsing, SentinelRebuildOfAnEncryptingReaderUsesTheMaskedTracks) {
    props.ReaderKind = 1;
    SwipeEncrypting();
    props.Track4Data = "left over";
    props.TransmitSentinels = true;
    ProcessSentinels(props, *record);
    EXPECT_EQ(props.Track1Data, kMaskedTrack1);
    EXPECT_EQ(props.Track3Data, kMaskedTrack3);
    EXPECT_EQ(props.Track4Data, "");
}

TEST_F(TrackParsing, RebuildBeforeAnySwipeGivesEmptyTracks) {
    const VorlexCardData zero{};
    props.TransmitSentinels = true;
    ProcessSentinels(props, zero);
    EXPECT_EQ(DataEventStatus(props), 0);
}

TEST_F(TrackParsing, LongNameWordsAreCutToTheirPropertyCapacity) {
    const std::string surname(40, 'S'), first(40, 'F'), middle(20, 'M'), suffix(12, 'X'), title(20, 'T');
    SwipePlain("%B4111111111111111^" + surname + "/" + first + " " + middle + " " + suffix + "." + title +
                   "^2512101?",
               "");
    EXPECT_EQ(props.Surname, surname.substr(0, 31));
    EXPECT_EQ(props.FirstName, first.substr(0, 31));
    EXPECT_EQ(props.MiddleInitial, middle.substr(0, 15));
    EXPECT_EQ(props.Suffix, suffix.substr(0, 7));
    EXPECT_EQ(props.Title, title.substr(0, 15));
    // Neighbouring properties are untouched by the cut texts.
    EXPECT_EQ(props.ServiceCode, "101");
    EXPECT_EQ(props.ExpirationDate, "2512");
}

TEST_F(TrackParsing, LongAccountAndDateAreCutToCapacity) {
    const std::string account(60, '4');
    SwipePlain("", ";" + account + "=" + std::string(30, '9') + "?");
    EXPECT_EQ(props.AccountNumber, account.substr(0, 31));
    EXPECT_EQ(props.ExpirationDate, "9999");
    EXPECT_EQ(props.Track2DiscretionaryData, std::string(23, '9'));
}

TEST_F(TrackParsing, UnterminatedRecordTextsAreReadOnlyToTheirFieldWidth) {
    // Every record text filled to its last byte, without a terminator.
    std::memset(record.get(), 'A', sizeof *record);
    std::memset(record->Track2Text, '=', sizeof record->Track2Text);
    props.TransmitSentinels = true;
    BuildDataProperties(props, *record);
    EXPECT_EQ(props.Track1Data, std::string(255, 'A'));
    EXPECT_EQ(props.Track2Data, std::string(255, '='));
    EXPECT_EQ(DataEventStatus(props), 0xFFFFFF);

    std::memset(record.get(), 'A', sizeof *record);
    std::memset(record->MaskedTrack1Text, 'N', sizeof record->MaskedTrack1Text);
    std::memcpy(record->MaskedTrack1Text, "%B1^", 4);
    props.TransmitSentinels = false;
    props.TracksToRead = MSR_TR_1;
    props.ReaderKind = 1;
    BuildDataProperties(props, *record);
    EXPECT_EQ(props.Track1Data, "B1^" + std::string(251, 'N'));
    EXPECT_EQ(props.Surname, std::string(31, 'N'));
    EXPECT_EQ(props.AccountNumber, "1");
    EXPECT_EQ(props.Track1EncryptedData, std::string(255, 'A'));
    EXPECT_EQ(props.Track1EncryptedDataLength, 255);
    EXPECT_EQ(props.CardAuthenticationDataLength, 255);
    EXPECT_EQ(props.AdditionalSecurityInformation, std::string(255, 'A'));
    EXPECT_EQ(Get(record->Track2Text), "");
}

TEST(DataEventStatusPacking, PacksTheThreeTrackLengthsIntoOneByteEach) {
    auto props = std::make_unique<PropertyBlock>();
    props->Track1Data = std::string(76, '1');
    props->Track2Data = std::string(37, '2');
    EXPECT_EQ(DataEventStatus(*props), 9548);
    props->Track3Data = std::string(104, '3');
    props->Track4Data = std::string(200, '4');
    EXPECT_EQ(DataEventStatus(*props), 76 + 37 * 256 + 104 * 65536);
    props->Track1Data = std::string(300, '1');
    props->Track2Data = std::string(300, '2');
    props->Track3Data = std::string(300, '3');
    EXPECT_EQ(DataEventStatus(*props), 0x00FFFFFF);
}

TEST(CardPropertyLookup, FindsEachListedNameExactly) {
    auto props = std::make_unique<PropertyBlock>();
    props->AccountNumber = "acct";
    props->ExpirationDate = "exp";
    props->FirstName = "first";
    props->MiddleInitial = "mid";
    props->ServiceCode = "svc";
    props->Suffix = "suf";
    props->Surname = "sur";
    props->Title = "title";
    const std::pair<const char*, const char*> expected[] = {
        {"AccountNumber", "acct"}, {"ExpirationDate", "exp"}, {"FirstName", "first"}, {"MiddleInitial", "mid"},
        {"ServiceCode", "svc"},    {"Suffix", "suf"},         {"Surname", "sur"},     {"Title", "title"},
    };
    for (const auto& [name, value] : expected) {
        std::string_view found;
        EXPECT_TRUE(LookupCardProperty(*props, name, found)) << name;
        EXPECT_EQ(found, value) << name;
    }
    // Every name of the advertised list is retrievable.
    std::string_view list = kCardPropertyList;
    for (size_t start = 0; start <= list.size();) {
        size_t comma = std::min(list.find(',', start), list.size());
        std::string_view value;
        EXPECT_TRUE(LookupCardProperty(*props, list.substr(start, comma - start), value));
        start = comma + 1;
    }
}

TEST(CardPropertyLookup, RefusesOtherNamesAndLeavesTheValueAlone) {
    auto props = std::make_unique<PropertyBlock>();
    props->AccountNumber = "acct";
    props->CardType = kBankCardType;
    for (const char* name : {"accountnumber", "ACCOUNTNUMBER", "AccountNumber ", " AccountNumber", "Account",
                             "", "CardType", "Track1Data"}) {
        std::string_view value = "untouched";
        EXPECT_FALSE(LookupCardProperty(*props, name, value)) << '"' << name << '"';
        EXPECT_EQ(value, "untouched");
    }
}

TEST_F(TrackParsing, ClearingInputPropertiesKeepsCapabilitiesAndCardType) {
    props.ReaderKind = 1;
    SwipeEncrypting();
    props.Track4Data = "t4";
    props.Track4EncryptedData = "e4";
    props.Track4EncryptedDataLength = 2;
    props.ResultCode = OPOS_E_ILLEGAL;
    ClearInputPropertyValues(props);
    ExpectNoCardProperties();
    for (const auto* text : {&props.Track1Data, &props.Track2Data, &props.Track3Data, &props.Track4Data,
                             &props.Track1DiscretionaryData, &props.Track2DiscretionaryData,
                             &props.Track1EncryptedData, &props.Track2EncryptedData, &props.Track3EncryptedData,
                             &props.Track4EncryptedData, &props.CardAuthenticationData,
                             &props.AdditionalSecurityInformation}) {
        EXPECT_TRUE(text->empty()) << text->c_str();
    }
    EXPECT_EQ(props.Track1EncryptedDataLength, 0);
    EXPECT_EQ(props.Track2EncryptedDataLength, 0);
    EXPECT_EQ(props.Track3EncryptedDataLength, 0);
    EXPECT_EQ(props.Track4EncryptedDataLength, 0);
    EXPECT_EQ(props.CardAuthenticationDataLength, 0);
    EXPECT_EQ(props.CapCardAuthentication, kFluxScribeCapability);
    EXPECT_EQ(props.CardType, kBankCardType);
    EXPECT_EQ(props.CardPropertyList, kCardPropertyList);
    EXPECT_EQ(props.ResultCode, OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(record->MaskedTrack1Text), kMaskedTrack1) << "the current record survives";
}

}  // namespace
}  // namespace norvik
