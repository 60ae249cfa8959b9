// The dialog templates, icon and version of the shipped SwipeBench.exe,
// checked against the layout tables: identifiers, captions, control kinds,
// styles, places in dialog units and fonts.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "resource.h"

namespace {

struct Item {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::string windowClass;  // lower case
    std::string title;
    WORD titleOrdinal = 0;    // a resource ordinal instead of a title (icons)
};

struct Template {
    DWORD style = 0;
    DWORD exStyle = 0;
    short cx = 0, cy = 0;
    std::string caption;
    WORD pointSize = 0;
    std::string font;
    std::vector<Item> items;

    const Item* Find(DWORD id) const {
        for (const Item& item : items) {
            if (item.id == id) return &item;
        }
        return nullptr;
    }
    const Item* FindText(const std::string& text) const {
        for (const Item& item : items) {
            if (item.title == text) return &item;
        }
        return nullptr;
    }
};

// Reads DLGTEMPLATEEX data.
class TemplateReader {
public:
    TemplateReader(const BYTE* data, size_t size) : start_(data), at_(data), end_(data + size) {}

    bool Read(Template& dialog) {
        if (Word() != 1 || Word() != 0xFFFF) return false;  // only the extended form is written
        Dword();                                           // help id
        dialog.exStyle = Dword();
        dialog.style = Dword();
        WORD count = Word();
        Short();
        Short();
        dialog.cx = Short();
        dialog.cy = Short();
        WORD ordinal;
        String(ordinal);  // menu
        String(ordinal);  // class
        dialog.caption = String(ordinal);
        if (dialog.style & (DS_SETFONT | DS_SHELLFONT)) {
            dialog.pointSize = Word();
            Word();  // weight
            Byte();  // italic
            Byte();  // charset
            dialog.font = String(ordinal);
        }
        for (WORD i = 0; i < count && ok_; ++i) {
            Align();
            Item item;
            Dword();  // help id
            item.exStyle = Dword();
            item.style = Dword();
            item.x = Short();
            item.y = Short();
            item.cx = Short();
            item.cy = Short();
            item.id = Dword();
            WORD classOrdinal = 0;
            item.windowClass = Lower(String(classOrdinal));
            if (classOrdinal) item.windowClass = ClassOfAtom(classOrdinal);
            item.title = String(item.titleOrdinal);
            WORD extra = Word();
            at_ += extra;
            dialog.items.push_back(item);
        }
        return ok_ && at_ <= end_;
    }

private:
    template <typename T>
    T Take() {
        T value{};
        if (at_ + sizeof(T) > end_) {
            ok_ = false;
            return value;
        }
        memcpy(&value, at_, sizeof(T));
        at_ += sizeof(T);
        return value;
    }
    WORD Word() { return Take<WORD>(); }
    DWORD Dword() { return Take<DWORD>(); }
    short Short() { return Take<short>(); }
    BYTE Byte() { return Take<BYTE>(); }
    void Align() { at_ = start_ + ((at_ - start_ + 3) & ~size_t(3)); }

    // A string, or an ordinal after 0xFFFF (then the text is empty).
    std::string String(WORD& ordinal) {
        ordinal = 0;
        WORD first = Word();
        if (first == 0xFFFF) {
            ordinal = Word();
            return std::string();
        }
        std::string text;
        for (WORD c = first; c != 0 && ok_; c = Word()) text.push_back(static_cast<char>(c));
        return text;
    }

    static std::string Lower(std::string text) {
        for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        return text;
    }
    static std::string ClassOfAtom(WORD atom) {
        switch (atom) {
        case 0x80: return "button";
        case 0x81: return "edit";
        case 0x82: return "static";
        case 0x83: return "listbox";
        case 0x84: return "scrollbar";
        case 0x85: return "combobox";
        default: return "atom:" + std::to_string(atom);
        }
    }

    const BYTE* start_;
    const BYTE* at_;
    const BYTE* end_;
    bool ok_ = true;
};

class ResourceTemplateTest : public ::testing::Test {
protected:
    void SetUp() override {
        char path[MAX_PATH];
        DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string program(path, length);
        program = program.substr(0, program.find_last_of("\\/") + 1) + "SwipeBench.exe";
        module_ = ::LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << "cannot load " << program;
    }
    void TearDown() override {
        if (module_) ::FreeLibrary(module_);
    }

    Template Load(UINT id) {
        Template dialog;
        HRSRC resource = ::FindResourceA(module_, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
        EXPECT_NE(resource, nullptr) << "dialog " << id;
        if (!resource) return dialog;
        const BYTE* data = static_cast<const BYTE*>(::LockResource(::LoadResource(module_, resource)));
        EXPECT_TRUE(TemplateReader(data, ::SizeofResource(module_, resource)).Read(dialog)) << "dialog " << id;
        return dialog;
    }

    HMODULE module_ = nullptr;
};

struct Expected {
    DWORD id;
    const char* windowClass;
    short x, y, cx, cy;
    DWORD required;   // style bits that must be set
    DWORD forbidden;  // style bits that must be clear
    const char* title;  // null: not checked
};

void ExpectItem(const Template& dialog, const Expected& expected) {
    SCOPED_TRACE("control " + std::to_string(expected.id));
    const Item* item = dialog.Find(expected.id);
    ASSERT_NE(item, nullptr);
    if (expected.windowClass) {
        EXPECT_EQ(item->windowClass, expected.windowClass);
    }
    EXPECT_EQ(item->x, expected.x);
    EXPECT_EQ(item->y, expected.y);
    EXPECT_EQ(item->cx, expected.cx);
    EXPECT_EQ(item->cy, expected.cy);
    EXPECT_EQ(item->style & expected.required, expected.required) << std::hex << item->style;
    EXPECT_EQ(item->style & expected.forbidden, 0u) << std::hex << item->style;
    if (expected.title) {
        EXPECT_EQ(item->title, expected.title);
    }
}

// A label with `text` right of `control`, on its line.
void ExpectLabelRightOf(const Template& dialog, const char* text, DWORD control) {
    SCOPED_TRACE(text);
    const Item* label = dialog.FindText(text);
    const Item* item = dialog.Find(control);
    ASSERT_NE(label, nullptr);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(label->windowClass, "static");
    EXPECT_GE(label->x, item->x + item->cx);
    EXPECT_LT(label->y, item->y + 14);
    EXPECT_GT(label->y + label->cy, item->y);
    EXPECT_LE(label->x + label->cx, dialog.cx);
}

// A label with `text` just above `control`.
void ExpectLabelAbove(const Template& dialog, const char* text, DWORD control) {
    SCOPED_TRACE(text);
    const Item* label = dialog.FindText(text);
    const Item* item = dialog.Find(control);
    ASSERT_NE(label, nullptr);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(label->windowClass, "static");
    EXPECT_LE(label->y + label->cy, item->y);
    EXPECT_GE(label->y, item->y - 12);
    EXPECT_LT(label->x, item->x + item->cx);
}

void ExpectNoDefaultButton(const Template& dialog) {
    for (const Item& item : dialog.items) {
        if (item.windowClass == "button") {
            EXPECT_NE(item.style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON)) << item.title;
        }
    }
}

TEST_F(ResourceTemplateTest, MainDialogMatchesItsLayout) {
    Template dialog = Load(IDD_SWIPEBENCH_DIALOG);
    EXPECT_EQ(dialog.caption, "Norvik OPOS MSR Utility v1.13");
    EXPECT_EQ(dialog.cx, 431);
    EXPECT_EQ(dialog.cy, 254);
    EXPECT_EQ(dialog.font, "MS Shell Dlg");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_TRUE(dialog.style & WS_SYSMENU);
    EXPECT_TRUE(dialog.exStyle & WS_EX_APPWINDOW);

    const DWORD editField = WS_BORDER | ES_AUTOHSCROLL;
    const Expected controls[] = {
        {IDC_LDN_COMBO, "combobox", 9, 10, 105, 157, CBS_DROPDOWN | WS_VSCROLL, CBS_SORT | CBS_SIMPLE, nullptr},
        {IDC_LDN_BUTTON, "button", 256, 10, 50, 14, 0, 0, "LDN"},
        {IDC_TRACK1, "edit", 9, 37, 411, 14, editField, ES_READONLY | ES_MULTILINE, ""},
        {IDC_TRACK2, "edit", 9, 64, 411, 14, editField, ES_READONLY | ES_MULTILINE, ""},
        {IDC_TRACK3, "edit", 9, 91, 411, 14, editField, ES_READONLY | ES_MULTILINE, ""},
        {IDC_SECURITY_INFO, "edit", 10, 115, 94, 14, WS_BORDER | ES_READONLY, ES_MULTILINE, ""},
        {IDC_TRACK1_ENCRYPTED, "edit", 10, 143, 411, 14, editField, ES_READONLY | ES_MULTILINE, ""},
        {IDC_TRACK2_ENCRYPTED, "edit", 10, 171, 411, 14, editField, ES_READONLY | ES_MULTILINE, ""},
        {IDC_TRACK3_ENCRYPTED, "edit", 10, 199, 411, 14, editField, ES_READONLY | ES_MULTILINE, ""},
        {IDC_CLEAR, "button", 9, 216, 42, 12, 0, 0, "Clear"},
        {IDC_STATUS, "edit", 10, 233, 389, 14, ES_READONLY, WS_BORDER | ES_MULTILINE, ""},
        {IDC_MSR1, nullptr, 396, 221, 27, 6, 0, WS_VISIBLE, nullptr},
    };
    for (const Expected& control : controls) ExpectItem(dialog, control);
    EXPECT_EQ(dialog.Find(IDC_LDN_COMBO)->style & 3, static_cast<DWORD>(CBS_DROPDOWN));

    ExpectLabelRightOf(dialog, "MSR Logical Device Name", IDC_LDN_COMBO);
    ExpectLabelRightOf(dialog, "Logical Device Name Management", IDC_LDN_BUTTON);
    ExpectLabelRightOf(dialog, "Additional Security Information", IDC_SECURITY_INFO);
    ExpectLabelAbove(dialog, "Track 1 Data", IDC_TRACK1);
    ExpectLabelAbove(dialog, "Track 2 Data", IDC_TRACK2);
    ExpectLabelAbove(dialog, "Track 3 Data", IDC_TRACK3);
    ExpectLabelAbove(dialog, "Track 1 Data Encrypted", IDC_TRACK1_ENCRYPTED);
    ExpectLabelAbove(dialog, "Track 2 Data Encrypted", IDC_TRACK2_ENCRYPTED);
    ExpectLabelAbove(dialog, "Track 3 Data Encrypted", IDC_TRACK3_ENCRYPTED);
    ExpectNoDefaultButton(dialog);
}

TEST_F(ResourceTemplateTest, LogicalDeviceNameDialogMatchesItsLayout) {
    Template dialog = Load(IDD_LDN_DIALOG);
    EXPECT_EQ(dialog.caption, "Logical Device Name (LDN)");
    EXPECT_EQ(dialog.cx, 170);
    EXPECT_EQ(dialog.cy, 150);
    EXPECT_EQ(dialog.font, "MS Shell Dlg");
    EXPECT_EQ(dialog.pointSize, 8);

    const Expected controls[] = {
        {IDC_DEVICE_KEY_COMBO, "combobox", 11, 7, 104, 55, CBS_DROPDOWN | CBS_SORT, CBS_SIMPLE, nullptr},
        {IDC_LDN_LIST, "listbox", 11, 22, 147, 79, WS_BORDER | WS_VSCROLL | LBS_MULTICOLUMN | LBS_NOTIFY, LBS_SORT,
         nullptr},
        {IDC_LDN_NAME, "edit", 11, 105, 148, 13, WS_BORDER, ES_MULTILINE | ES_READONLY, ""},
        {IDC_ADD_LDN, "button", 13, 124, 42, 14, 0, 0, "&Add LDN"},
        {IDC_DELETE_LDN, "button", 65, 124, 42, 14, 0, 0, "&Delete LDN"},
        {IDCANCEL, "button", 119, 124, 40, 14, 0, 0, "&Cancel"},
    };
    for (const Expected& control : controls) ExpectItem(dialog, control);
    EXPECT_EQ(dialog.Find(IDC_DEVICE_KEY_COMBO)->style & 3, static_cast<DWORD>(CBS_DROPDOWN));
    ExpectLabelRightOf(dialog, "Master Key", IDC_DEVICE_KEY_COMBO);
    ExpectNoDefaultButton(dialog);
}

TEST_F(ResourceTemplateTest, AboutBoxShowsIconTitleNoticeAndOk) {
    Template dialog = Load(IDD_ABOUTBOX);
    EXPECT_EQ(dialog.caption, "About SwipeBench");
    EXPECT_EQ(dialog.cx, 235);
    EXPECT_EQ(dialog.cy, 55);
    EXPECT_EQ(dialog.font, "MS Shell Dlg");
    ASSERT_NE(dialog.FindText("Norvik OPOS MSR Utility v1.13"), nullptr);
    const Item* ok = dialog.Find(IDOK);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->title, "OK");
    int icons = 0, notices = 0;
    for (const Item& item : dialog.items) {
        if (item.windowClass != "static") continue;
        if ((item.style & SS_TYPEMASK) == SS_ICON) {
            ++icons;
            EXPECT_EQ(item.titleOrdinal, IDR_MAINFRAME);
        } else if (!item.title.empty() && item.title != "Norvik OPOS MSR Utility v1.13") {
            ++notices;
        }
    }
    EXPECT_EQ(icons, 1);
    EXPECT_EQ(notices, 1);
}

// Without a declared level, a 32-bit utility run without administrator rights
// writes its aliases into the VirtualStore, where no POS application sees them.
TEST_F(ResourceTemplateTest, ManifestAsksForTheRightsThatWritingTheMachineKeyNeeds) {
    HRSRC resource = ::FindResourceA(module_, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    ASSERT_NE(resource, nullptr);
    const char* data = static_cast<const char*>(::LockResource(::LoadResource(module_, resource)));
    const std::string manifest(data, ::SizeofResource(module_, resource));
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"requireAdministrator\""), std::string::npos)
        << manifest;
}

TEST_F(ResourceTemplateTest, ProgramCarriesItsIconInBothSizesAndAVersion) {
    for (int size : {16, 32}) {
        HICON icon = static_cast<HICON>(
            ::LoadImageA(module_, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info = {};
        ASSERT_TRUE(::GetIconInfo(icon, &info));
        BITMAP bitmap = {};
        ::GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        if (info.hbmColor) ::DeleteObject(info.hbmColor);
        if (info.hbmMask) ::DeleteObject(info.hbmMask);
        ::DestroyIcon(icon);
    }

    HRSRC resource = ::FindResourceA(module_, MAKEINTRESOURCEA(VS_VERSION_INFO), MAKEINTRESOURCEA(16));
    ASSERT_NE(resource, nullptr);
    const BYTE* data = static_cast<const BYTE*>(::LockResource(::LoadResource(module_, resource)));
    DWORD size = ::SizeofResource(module_, resource);
    // The fixed file information follows the "VS_VERSION_INFO" key; find it by its signature.
    const VS_FIXEDFILEINFO* fixed = nullptr;
    for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        DWORD signature;
        memcpy(&signature, data + at, sizeof signature);
        if (signature == 0xFEEF04BD) {
            fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(data + at);
            break;
        }
    }
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 1);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), 13);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

}  // namespace
