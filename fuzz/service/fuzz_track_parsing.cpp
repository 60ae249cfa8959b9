// Arbitrary track texts and input settings through the derivation of the data
// properties and the sentinel rebuild: every stored text must stay within its
// capacity, lengths and Status must match the texts, unselected tracks must
// stay empty, and the field helpers must reassemble what they split.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "logic/TextFields.h"
#include "logic/TrackParser.h"

namespace {

using norvik::PropertyBlock;
using norvik::Text;

void Require(bool condition) {
    if (!condition) std::abort();
}

template <size_t N>
void RequireTerminated(const Text<N>& text) {
    Require(::strnlen(text.c_str(), N) < N);
}

// Copies `text` into a record field; a text that fills the field is left
// without terminator, as a damaged record could be.
template <size_t N>
void PutRaw(char (&field)[N], std::string_view text) {
    const size_t n = text.size() < N ? text.size() : N;
    std::memcpy(field, text.data(), n);
    if (n < N) field[n] = '\0';
}

void RequireConsistent(const PropertyBlock& props) {
    for (const auto* text : {&props.Track1Data, &props.Track2Data, &props.Track3Data, &props.Track4Data,
                             &props.Track1DiscretionaryData, &props.Track2DiscretionaryData,
                             &props.Track1EncryptedData, &props.Track2EncryptedData, &props.Track3EncryptedData,
                             &props.Track4EncryptedData, &props.CardAuthenticationData,
                             &props.AdditionalSecurityInformation, &props.CapCardAuthentication}) {
        RequireTerminated(*text);
    }
    RequireTerminated(props.AccountNumber);
    RequireTerminated(props.ExpirationDate);
    RequireTerminated(props.FirstName);
    RequireTerminated(props.MiddleInitial);
    RequireTerminated(props.ServiceCode);
    RequireTerminated(props.Suffix);
    RequireTerminated(props.Surname);
    RequireTerminated(props.Title);
    Require(norvik::DataEventStatus(props) ==
            static_cast<int32_t>(props.Track1Data.size() | props.Track2Data.size() << 8 |
                                 props.Track3Data.size() << 16));
}

// Field by field, the helpers must give back exactly the text they split.
void RequireFieldsReassemble(std::string_view source, char delimiter) {
    const int fields = norvik::DelCount(delimiter, source) + 1;
    std::string joined;
    for (int n = 1; n <= fields; ++n) {
        std::string_view field;
        Require(norvik::SubString(n, delimiter, source, field) == !source.empty());
        if (n > 1) joined += delimiter;
        joined += field;
    }
    std::string_view beyond;
    Require(!norvik::SubString(fields + 1, delimiter, source, beyond) && beyond.empty());
    Require(joined == source);

    char bounded[8];
    const std::string text(source.substr(0, source.find('\0')));
    norvik::SubString(2, delimiter, text.c_str(), bounded, sizeof bounded);
    Require(::strnlen(bounded, sizeof bounded) < sizeof bounded);
    norvik::SubStringIndex(3, -1, text.c_str(), bounded, sizeof bounded);
    Require(::strnlen(bounded, sizeof bounded) < sizeof bounded);
}

}  // namespace

// Input: reader kind, TracksToRead, flags (bit 0 ParseDecodeData, bit 1
// TransmitSentinels, bit 2 pre-fill the record with the filler byte), filler,
// then the record texts separated by '\n': track 1 to 3, masked track 1 to 3,
// FluxScribe data, 10-byte auxiliary block.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    auto props = std::make_unique<PropertyBlock>();
    auto record = std::make_unique<VorlexCardData>();
    props->ReaderKind = static_cast<int8_t>(data[0]);
    props->TracksToRead = static_cast<int8_t>(data[1]);
    props->ParseDecodeData = (data[2] & 1) != 0;
    props->TransmitSentinels = (data[2] & 2) != 0;
    if (data[2] & 4) std::memset(record.get(), data[3], sizeof *record);

    std::string_view rest(reinterpret_cast<const char*>(data + 4), size - 4);
    char(*fields[])[256] = {&record->Track1Text,       &record->Track2Text,       &record->Track3Text,
                            &record->MaskedTrack1Text, &record->MaskedTrack2Text, &record->MaskedTrack3Text,
                            &record->FluxScribeHex,    &record->AuxBlock10Hex};
    for (auto* field : fields) {
        const size_t end = rest.find('\n');
        PutRaw(*field, rest.substr(0, end));
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }

    norvik::BuildDataProperties(*props, *record);
    RequireConsistent(*props);
    const int32_t tracks = props->TracksToRead;
    if (!(tracks & 1)) Require(props->Track1Data.empty() && props->Surname.empty());
    if (!(tracks & 2)) Require(props->Track2Data.empty() && props->Track2DiscretionaryData.empty());
    if (!(tracks & 4)) Require(props->Track3Data.empty());
    if (!(tracks & 3)) Require(props->AccountNumber.empty());
    if (!props->ParseDecodeData) Require(props->AccountNumber.empty() && props->FirstName.empty());

    props->TransmitSentinels = !props->TransmitSentinels;
    norvik::ProcessSentinels(*props, *record);
    RequireConsistent(*props);
    norvik::ClearInputPropertyValues(*props);
    norvik::ProcessSentinels(*props, *record);
    RequireConsistent(*props);
    Require(props->AccountNumber.empty());

    const std::string_view track1(record->Track1Text, ::strnlen(record->Track1Text, sizeof record->Track1Text));
    RequireFieldsReassemble(track1, '^');
    // Bounded so that the quadratic field-by-field walk stays quick.
    RequireFieldsReassemble(std::string_view(reinterpret_cast<const char*>(data), size).substr(0, 512), '\n');
    return 0;
}
