#include "logic/TrackParser.h"

#include <cstring>

#include "logic/TextFields.h"

namespace norvik {

namespace {

// A record text up to its terminator, never past the field's width.
template <size_t N>
std::string_view FieldText(const char (&field)[N]) {
    return std::string_view(field, ::strnlen(field, N));
}

template <size_t N>
void ClearField(char (&field)[N]) {
    field[0] = '\0';
}

bool TrackSelected(int32_t tracksToRead, int track) { return ((tracksToRead >> (track - 1)) & 1) != 0; }

bool IsPlainReader(const PropertyBlock& props) { return props.ReaderKind == 0; }

std::string_view Field(int n, char delimiter, std::string_view source) {
    std::string_view out;
    SubString(n, delimiter, source, out);
    return out;
}

std::string_view Slice(int start, int length, std::string_view source) {
    std::string_view out;
    SubStringIndex(start, length, source, out);
    return out;
}

// The date field holds expiration date (4) and service code (3) up front and
// the end sentinel last; what lies between is the discretionary data.
std::string_view DiscretionaryData(std::string_view dateField) {
    if (dateField.size() <= 8) return {};
    return Slice(7, static_cast<int>(dateField.size() - 8), dateField);
}

// Values of one derivation, as views into the record's track texts.
struct CardFields {
    std::string_view accountNumber, expirationDate, serviceCode;
    std::string_view surname, firstName, middleInitial, suffix, title;
    std::string_view track1Discretionary, track2Discretionary;
};

CardFields ParseCardFields(std::string_view track1, std::string_view track2, int32_t tracksToRead) {
    const bool useTrack1 = TrackSelected(tracksToRead, 1);
    const bool useTrack2 = TrackSelected(tracksToRead, 2);
    CardFields fields;
    std::string_view accountField, dateField;

    if (useTrack1 && !track1.empty()) {
        accountField = Field(1, '^', track1);
        dateField = Field(3, '^', track1);
        fields.track1Discretionary = DiscretionaryData(dateField);
    }
    // Track 2 is the better source for account and date when both are there.
    if (useTrack2 && !track2.empty()) {
        accountField = Field(1, '=', track2);
        dateField = Field(2, '=', track2);
        fields.track2Discretionary = DiscretionaryData(dateField);
    }

    const bool trackOneAccount = !accountField.empty() && accountField.front() == '%';
    fields.accountNumber = Field(2, trackOneAccount ? 'B' : ';', accountField);
    fields.expirationDate = Slice(0, 4, dateField);
    fields.serviceCode = Slice(4, 3, dateField);

    // The name lives on track 1 only; without it the name properties stay empty.
    if (useTrack1) {
        std::string_view nameField = Field(2, '^', track1);
        fields.surname = Field(1, '/', nameField);
        if (fields.surname.size() >= 2 && fields.surname.substr(0, 2) == "59") {
            fields.surname = Slice(2, 99, fields.surname);
        }
        std::string_view givenNames = Field(2, '/', nameField);
        fields.firstName = Field(1, ' ', givenNames);
        fields.middleInitial = Field(2, ' ', givenNames);
        std::string_view thirdWord = Field(3, ' ', givenNames);
        fields.suffix = Field(1, '.', thirdWord);
        fields.title = Field(2, '.', thirdWord);
    }
    return fields;
}

void StoreCardProperties(PropertyBlock& props, const CardFields& fields) {
    props.AccountNumber = fields.accountNumber;
    props.ExpirationDate = fields.expirationDate;
    props.ServiceCode = fields.serviceCode;
    props.Surname = fields.surname;
    props.FirstName = fields.firstName;
    props.MiddleInitial = fields.middleInitial;
    props.Suffix = fields.suffix;
    props.Title = fields.title;
}

void ClearCardProperties(PropertyBlock& props) { StoreCardProperties(props, CardFields{}); }

void ClearUnselectedTracks(VorlexCardData& current, int32_t tracksToRead) {
    if (!TrackSelected(tracksToRead, 1)) {
        ClearField(current.Track1Text);
        ClearField(current.MaskedTrack1Text);
    }
    if (!TrackSelected(tracksToRead, 2)) {
        ClearField(current.Track2Text);
        ClearField(current.MaskedTrack2Text);
    }
    if (!TrackSelected(tracksToRead, 3)) {
        ClearField(current.Track3Text);
        ClearField(current.MaskedTrack3Text);
    }
}

int32_t LengthOf(std::string_view text) { return static_cast<int32_t>(text.size()); }

void StoreReaderKindTexts(PropertyBlock& props, const VorlexCardData& current) {
    props.Track4Data.Clear();
    props.Track4EncryptedData.Clear();
    props.Track4EncryptedDataLength = 0;
    if (IsPlainReader(props)) {
        props.AdditionalSecurityInformation.Clear();
        props.CapCardAuthentication.Clear();
        props.CardAuthenticationData.Clear();
        props.CardAuthenticationDataLength = 0;
        props.Track1Data = FieldText(current.Track1Text);
        props.Track2Data = FieldText(current.Track2Text);
        props.Track3Data = FieldText(current.Track3Text);
        props.Track1EncryptedData.Clear();
        props.Track2EncryptedData.Clear();
        props.Track3EncryptedData.Clear();
        props.Track1EncryptedDataLength = 0;
        props.Track2EncryptedDataLength = 0;
        props.Track3EncryptedDataLength = 0;
        return;
    }
    props.AdditionalSecurityInformation = FieldText(current.AuxBlock10Hex);
    props.CapCardAuthentication = kFluxScribeCapability;
    props.CardAuthenticationData = FieldText(current.FluxScribeHex);
    // Lengths describe what the application can read, i.e. the stored texts.
    props.CardAuthenticationDataLength = LengthOf(props.CardAuthenticationData.view());
    props.Track1Data = FieldText(current.MaskedTrack1Text);
    props.Track2Data = FieldText(current.MaskedTrack2Text);
    props.Track3Data = FieldText(current.MaskedTrack3Text);
    props.Track1EncryptedData = FieldText(current.Track1Text);
    props.Track2EncryptedData = FieldText(current.Track2Text);
    props.Track3EncryptedData = FieldText(current.Track3Text);
    props.Track1EncryptedDataLength = LengthOf(props.Track1EncryptedData.view());
    props.Track2EncryptedDataLength = LengthOf(props.Track2EncryptedData.view());
    props.Track3EncryptedDataLength = LengthOf(props.Track3EncryptedData.view());
}

template <size_t N>
void ApplySentinels(Text<N>& trackData, std::string_view source, bool transmitSentinels) {
    if (transmitSentinels) {
        trackData = source;
    } else if (source.size() > 5) {
        trackData = source.substr(1, source.size() - 2);
    }
}

}  // namespace

void BuildDataProperties(PropertyBlock& props, VorlexCardData& current) {
    const bool plain = IsPlainReader(props);
    const std::string_view track1 = plain ? FieldText(current.Track1Text) : FieldText(current.MaskedTrack1Text);
    const std::string_view track2 = plain ? FieldText(current.Track2Text) : FieldText(current.MaskedTrack2Text);

    // Store everything taken from the tracks before the unselected tracks are
    // emptied in the record: the views above point into it.
    const CardFields fields = ParseCardFields(track1, track2, props.TracksToRead);
    props.Track1DiscretionaryData = fields.track1Discretionary;
    props.Track2DiscretionaryData = fields.track2Discretionary;
    if (props.ParseDecodeData) {
        StoreCardProperties(props, fields);
    } else {
        ClearCardProperties(props);
    }

    ClearUnselectedTracks(current, props.TracksToRead);
    StoreReaderKindTexts(props, current);
    ProcessSentinels(props, current);
}

void ProcessSentinels(PropertyBlock& props, const VorlexCardData& current) {
    const bool plain = IsPlainReader(props);
    ApplySentinels(props.Track1Data, plain ? FieldText(current.Track1Text) : FieldText(current.MaskedTrack1Text),
                   props.TransmitSentinels);
    ApplySentinels(props.Track2Data, plain ? FieldText(current.Track2Text) : FieldText(current.MaskedTrack2Text),
                   props.TransmitSentinels);
    ApplySentinels(props.Track3Data, plain ? FieldText(current.Track3Text) : FieldText(current.MaskedTrack3Text),
                   props.TransmitSentinels);
    if (props.TransmitSentinels && !plain) props.Track4Data.Clear();
}

int32_t DataEventStatus(const PropertyBlock& props) {
    auto lengthByte = [](size_t length) { return static_cast<int32_t>(length & 0xFF); };
    return lengthByte(props.Track1Data.size()) | lengthByte(props.Track2Data.size()) << 8 |
           lengthByte(props.Track3Data.size()) << 16;
}

namespace {

// Every property text that holds card data, in one list for clearing and wiping.
template <typename Action>
void ForEachCardText(PropertyBlock& props, Action action) {
    action(props.AccountNumber);
    action(props.ExpirationDate);
    action(props.FirstName);
    action(props.MiddleInitial);
    action(props.ServiceCode);
    action(props.Suffix);
    action(props.Surname);
    action(props.Title);
    action(props.Track1Data);
    action(props.Track1DiscretionaryData);
    action(props.Track2Data);
    action(props.Track2DiscretionaryData);
    action(props.Track3Data);
    action(props.Track4Data);
    action(props.AdditionalSecurityInformation);
    action(props.CardAuthenticationData);
    action(props.Track1EncryptedData);
    action(props.Track2EncryptedData);
    action(props.Track3EncryptedData);
    action(props.Track4EncryptedData);
}

}  // namespace

void ClearInputPropertyValues(PropertyBlock& props) {
    ForEachCardText(props, [](auto& text) { text.Clear(); });
    props.Track1EncryptedDataLength = 0;
    props.Track2EncryptedDataLength = 0;
    props.Track3EncryptedDataLength = 0;
    props.Track4EncryptedDataLength = 0;
    props.CardAuthenticationDataLength = 0;
}

void WipeCardProperties(PropertyBlock& props) {
    ForEachCardText(props, [](auto& text) { text.Wipe(); });
}

bool LookupCardProperty(const PropertyBlock& props, std::string_view name, std::string_view& value) {
    struct CardProperty {
        std::string_view name;
        std::string_view (*read)(const PropertyBlock&);
    };
    static constexpr CardProperty kCardProperties[] = {
        {"AccountNumber", [](const PropertyBlock& p) { return p.AccountNumber.view(); }},
        {"ExpirationDate", [](const PropertyBlock& p) { return p.ExpirationDate.view(); }},
        {"FirstName", [](const PropertyBlock& p) { return p.FirstName.view(); }},
        {"MiddleInitial", [](const PropertyBlock& p) { return p.MiddleInitial.view(); }},
        {"ServiceCode", [](const PropertyBlock& p) { return p.ServiceCode.view(); }},
        {"Suffix", [](const PropertyBlock& p) { return p.Suffix.view(); }},
        {"Surname", [](const PropertyBlock& p) { return p.Surname.view(); }},
        {"Title", [](const PropertyBlock& p) { return p.Title.view(); }},
    };
    for (const CardProperty& property : kCardProperties) {
        if (property.name == name) {
            value = property.read(props);
            return true;
        }
    }
    return false;
}

}  // namespace norvik
