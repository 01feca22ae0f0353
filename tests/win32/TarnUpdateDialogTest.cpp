// tarn-update.exe driven from outside as an operator would: its dialog resources, the dialog's
// controls and language switch, the settings it writes, a whole update of a simulated device with
// the close box pressed in the middle, and the service console. The device side (the Linux
// simulator behind a COM port) and the check of what it flashed are the script's that runs this.
#include "CWin32DialogDriver.h"
#include "Win32WindowImage.h"

#include "app/win32/TarnUpdateResources.h"
#include "zel/platform/windows/ZELWideText.h"

#include <gtest/gtest.h>

#include "app/win32/Win32CommonControls.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Options
{
    std::wstring program; // tarn-update.exe
    std::wstring work;    // its working folder
    std::string images;   // where the screenshots go; none without
};
Options g_options;

std::string Utf8(const std::wstring& text) { return ZELPlatform::FromWide(text); }

// ---------------------------------------------------------------------------------------------
// The dialog templates as the resource compiler stored them (the extended template format).

struct TemplateItem
{
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::wstring className;
    std::wstring text;
};

struct DialogTemplate
{
    DWORD style = 0;
    short cx = 0, cy = 0;
    std::wstring caption;
    WORD pointSize = 0;
    std::wstring font;
    std::vector<TemplateItem> items;
};

class TemplateReader
{
public:
    TemplateReader(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    bool Ok() const { return m_ok; }
    template <typename T> T Get()
    {
        T value {};
        if (m_at + sizeof(T) > m_size) {
            m_ok = false;
            return value;
        }
        std::memcpy(&value, m_data + m_at, sizeof(T));
        m_at += sizeof(T);
        return value;
    }
    std::wstring String()
    {
        std::wstring text;
        while (m_ok)
            if (const wchar_t c = static_cast<wchar_t>(Get<WORD>()); c != 0)
                text += c;
            else
                break;
        return text;
    }
    // A name or an ordinal; the system classes' ordinals by name.
    std::wstring NameOrOrdinal()
    {
        const WORD first = Get<WORD>();
        if (first == 0)
            return {};
        if (first == 0xFFFF) {
            static const wchar_t* const classes[] = { L"Button", L"Edit", L"Static", L"ListBox", L"ScrollBar", L"ComboBox" };
            const WORD ordinal = Get<WORD>();
            return ordinal >= 0x80 && ordinal <= 0x85 ? classes[ordinal - 0x80] : L"#" + std::to_wstring(ordinal);
        }
        m_at -= sizeof(WORD);
        return String();
    }
    void Skip(std::size_t bytes) { m_at += bytes; }
    void AlignTo4() { m_at = (m_at + 3) & ~std::size_t(3); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
    bool m_ok = true;
};

bool ReadTemplate(HMODULE module, int id, DialogTemplate& dialog)
{
    const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5)); // RT_DIALOG
    if (resource == nullptr)
        return false;
    const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, resource)));
    TemplateReader read(data, SizeofResource(module, resource));
    if (read.Get<WORD>() != 1 || read.Get<WORD>() != 0xFFFF)
        return false;
    read.Skip(8); // help id, extended style
    dialog.style = read.Get<DWORD>();
    const WORD count = read.Get<WORD>();
    read.Skip(4); // x, y
    dialog.cx = read.Get<short>();
    dialog.cy = read.Get<short>();
    read.NameOrOrdinal(); // menu
    read.NameOrOrdinal(); // class
    dialog.caption = read.String();
    if (dialog.style & (DS_SETFONT | DS_SHELLFONT)) {
        dialog.pointSize = read.Get<WORD>();
        read.Skip(4); // weight, italic, character set
        dialog.font = read.String();
    }
    for (WORD i = 0; i < count && read.Ok(); ++i) {
        read.AlignTo4();
        TemplateItem item;
        read.Skip(8); // help id, extended style
        item.style = read.Get<DWORD>();
        item.x = read.Get<short>();
        item.y = read.Get<short>();
        item.cx = read.Get<short>();
        item.cy = read.Get<short>();
        item.id = read.Get<DWORD>();
        item.className = read.NameOrOrdinal();
        item.text = read.NameOrOrdinal();
        read.Skip(read.Get<WORD>());
        dialog.items.push_back(item);
    }
    return read.Ok();
}

const TemplateItem* Item(const DialogTemplate& dialog, DWORD id)
{
    const auto found = std::find_if(dialog.items.begin(), dialog.items.end(), [id](const TemplateItem& item) { return item.id == id; });
    return found == dialog.items.end() ? nullptr : &*found;
}

// ---------------------------------------------------------------------------------------------
// The running program.

std::wstring IniFile() { return g_options.work + L"\\ZEL.ini"; }

std::string ReadWholeFile(const std::wstring& path)
{
    std::ifstream file(Utf8(path), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class TarnUpdateDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(g_options.program.empty()) << "--program is missing";
        ASSERT_TRUE(driver.Start(g_options.program, g_options.work)) << "error " << GetLastError();
        dialog = driver.WaitForWindow(L"Tarn Update");
        ASSERT_NE(dialog, nullptr) << "the dialog did not appear";
    }

    std::wstring Text(int id) const { return CWin32DialogDriver::Text(dialog, id); }
    bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
    bool WaitForText(int id, const std::wstring& text) const
    {
        return CWin32DialogDriver::WaitUntil([&] { return Text(id) == text; });
    }
    // The question of a start; null when it did not come.
    HWND StartAndWaitForQuestion(const std::wstring& caption)
    {
        if (!CWin32DialogDriver::WaitUntil([&] { return Enabled(IDC_START_UPDATE); }))
            return nullptr;
        CWin32DialogDriver::Press(dialog, IDC_START_UPDATE);
        return driver.WaitForWindow(caption, std::chrono::seconds(60));
    }
    // Closes the dialog when nothing runs; the program's exit code.
    long CloseProgram()
    {
        CWin32DialogDriver::Close(dialog);
        return driver.WaitForExit();
    }

    // After a recovery of the only outdated processor, the start that follows finds nothing to do.
    void ExpectNothingLeftToDoAndClose()
    {
        const HWND done = driver.WaitForWindow(L"Update aborted", std::chrono::seconds(60));
        ASSERT_NE(done, nullptr) << "status: " << Utf8(Text(IDC_STATUS_TEXT));
        // The box may be on the screen before its text can be read.
        EXPECT_TRUE(CWin32DialogDriver::WaitUntil([&] {
            return CWin32DialogDriver::StaticTexts(done).find(
                       L"The newest firmware for the current device is installed already")
                != std::wstring::npos;
        })) << Utf8(CWin32DialogDriver::StaticTexts(done));
        CWin32DialogDriver::Press(done, IDOK);
        // The update thread that flashed it ends after the box: the button comes back.
        EXPECT_TRUE(CWin32DialogDriver::WaitUntil([&] { return Enabled(IDC_START_UPDATE); }));
        EXPECT_EQ(CloseProgram(), 0);
    }

    CWin32DialogDriver driver;
    HWND dialog = nullptr;
};

} // namespace

// The main dialog and the about box as laid out: ids, kinds, positions and sizes in dialog units,
// texts, the start button created disabled; the about entry's text, the icon and the version.
TEST(TarnUpdateResources, DialogsAsLaidOut)
{
    const HMODULE module = LoadLibraryExW(g_options.program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);

    DialogTemplate dialog;
    ASSERT_TRUE(ReadTemplate(module, IDD_TARNUPDATE_DIALOG, dialog));
    EXPECT_EQ(dialog.cx, 175);
    EXPECT_EQ(dialog.cy, 90);
    EXPECT_EQ(Utf8(dialog.caption), "Tarn Update");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(Utf8(dialog.font), "MS Sans Serif");
    EXPECT_TRUE(dialog.style & WS_SYSMENU);

    struct Expected
    {
        DWORD id;
        const wchar_t* className;
        short x, y, cx, cy;
        const char* text;
        bool disabled;
    };
    const Expected controls[] = {
        { IDC_LANGUAGE_LABEL, L"Static", 10, 10, 50, 8, "Language:", false },
        { IDC_LANGUAGE_COMBO, L"ComboBox", 60, 8, 50, 150, "", false },
        { IDC_COM_PORT_LABEL, L"Static", 10, 30, 50, 8, "COM Port:", false },
        { IDC_COM_PORT_EDIT, L"Edit", 60, 28, 50, 14, "", false },
        { IDC_START_UPDATE, L"Button", 115, 8, 50, 34, "Start\r\nUpdate", true },
        { IDC_STATUS_LABEL, L"Static", 10, 50, 50, 8, "Status:", false },
        { IDC_PROGRESS_LABEL, L"Static", 10, 70, 50, 8, "Progress:", false },
        { IDC_STATUS_TEXT, L"Static", 60, 50, 105, 8, "", false },
        { IDC_PROGRESS, PROGRESS_CLASSW, 60, 67, 105, 14, "", false },
    };
    EXPECT_EQ(dialog.items.size(), std::size(controls));
    for (const Expected& expected : controls) {
        SCOPED_TRACE(expected.id);
        const TemplateItem* item = Item(dialog, expected.id);
        ASSERT_NE(item, nullptr);
        // Class names are compared without case, as the system compares them.
        EXPECT_EQ(_wcsicmp(item->className.c_str(), expected.className), 0) << Utf8(item->className);
        EXPECT_EQ(item->x, expected.x);
        EXPECT_EQ(item->y, expected.y);
        EXPECT_EQ(item->cx, expected.cx);
        EXPECT_EQ(item->cy, expected.cy);
        EXPECT_EQ(Utf8(item->text), expected.text);
        EXPECT_EQ((item->style & WS_DISABLED) != 0, expected.disabled);
    }
    const TemplateItem* language = Item(dialog, IDC_LANGUAGE_COMBO);
    ASSERT_NE(language, nullptr);
    EXPECT_EQ(language->style & 3, static_cast<DWORD>(CBS_DROPDOWNLIST));

    DialogTemplate about;
    ASSERT_TRUE(ReadTemplate(module, IDD_ABOUTBOX, about));
    EXPECT_EQ(about.cx, 235);
    EXPECT_EQ(about.cy, 55);
    EXPECT_EQ(Utf8(about.caption), "About Tarn Update");
    EXPECT_NE(Item(about, IDC_ABOUT_NAME), nullptr);
    EXPECT_NE(Item(about, IDOK), nullptr);

    wchar_t entry[64] = {};
    EXPECT_GT(LoadStringW(module, IDS_ABOUTBOX, entry, 64), 0);
    EXPECT_EQ(Utf8(entry), "&About Tarn Update...");
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(IDR_MAINFRAME), MAKEINTRESOURCEW(14)), nullptr); // RT_GROUP_ICON
    FreeLibrary(module);

    DWORD ignored = 0;
    std::vector<std::uint8_t> version(GetFileVersionInfoSizeW(g_options.program.c_str(), &ignored));
    ASSERT_FALSE(version.empty());
    ASSERT_TRUE(GetFileVersionInfoW(g_options.program.c_str(), 0, static_cast<DWORD>(version.size()), version.data()));
    wchar_t* product = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\StringFileInfo\\040904b0\\ProductVersion", reinterpret_cast<void**>(&product), &length));
    EXPECT_EQ(Utf8(product), "V 04.04 (2021-04-16)");
}

// A first start without settings: English, "COM1", ready; the timer enables the start button; the
// about box from the system menu; the switch to German re-renders exactly the six controls; the
// end writes the language and the port and nothing else.
TEST_F(TarnUpdateDialog, ControlsLanguageAndSettings)
{
    EXPECT_EQ(Text(IDC_LANGUAGE_LABEL), L"Language:");
    EXPECT_EQ(Text(IDC_COM_PORT_LABEL), L"COM Port:");
    EXPECT_EQ(Text(IDC_STATUS_LABEL), L"Status:");
    EXPECT_EQ(Text(IDC_PROGRESS_LABEL), L"Progress:");
    EXPECT_EQ(Text(IDC_START_UPDATE), L"Start\r\nUpdate");
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Ready.");
    EXPECT_EQ(Text(IDC_COM_PORT_EDIT), L"COM1");
    const HWND language = GetDlgItem(dialog, IDC_LANGUAGE_COMBO);
    EXPECT_EQ(CWin32DialogDriver::ComboItems(language), (std::vector<std::wstring> { L"Deutsch", L"English" }));
    EXPECT_EQ(SendMessageW(language, CB_GETCURSEL, 0, 0), 1);
    const HWND progress = GetDlgItem(dialog, IDC_PROGRESS);
    EXPECT_EQ(SendMessageW(progress, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageW(progress, PBM_GETRANGE, FALSE, 0), 100);
    EXPECT_EQ(SendMessageW(progress, PBM_GETPOS, 0, 0), 0);
    EXPECT_TRUE(CWin32DialogDriver::WaitUntil([&] { return Enabled(IDC_START_UPDATE); })) << "the timer never enabled the start button";
    EXPECT_TRUE(Enabled(IDC_COM_PORT_EDIT));

    // Every command from 16 to 31 is the about entry's.
    for (const WPARAM command : { WPARAM(IDM_ABOUTBOX), WPARAM(IDM_ABOUTBOX + 15) }) {
        CWin32DialogDriver::SystemCommand(dialog, command);
        const HWND about = driver.WaitForWindow(L"About Tarn Update");
        ASSERT_NE(about, nullptr) << command;
        EXPECT_EQ(CWin32DialogDriver::Text(about, IDC_ABOUT_NAME), L"Tarn Update V 04.04 (2021-04-16)");
        CWin32DialogDriver::Press(about, IDOK);
        EXPECT_TRUE(driver.WaitForWindowGone(about));
    }

    CWin32DialogDriver::Choose(dialog, IDC_LANGUAGE_COMBO, 0);
    ASSERT_TRUE(WaitForText(IDC_LANGUAGE_LABEL, L"Sprache:"));
    EXPECT_EQ(Text(IDC_COM_PORT_LABEL), L"COM Port:");
    EXPECT_EQ(Text(IDC_STATUS_LABEL), L"Status:");
    EXPECT_EQ(Text(IDC_PROGRESS_LABEL), L"Fortschritt:");
    EXPECT_EQ(Text(IDC_START_UPDATE), L"Update\r\nstarten");
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Bereit.");
    // The caption and the items stay.
    wchar_t caption[64] = {};
    GetWindowTextW(dialog, caption, 64);
    EXPECT_STREQ(caption, L"Tarn Update");
    EXPECT_EQ(CWin32DialogDriver::ComboItems(language), (std::vector<std::wstring> { L"Deutsch", L"English" }));

    // A typed port is the one saved.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(GetDlgItem(dialog, IDC_COM_PORT_EDIT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"COM7"),
        SMTO_ABORTIFHUNG, 5000, &ignored);
    EXPECT_EQ(CloseProgram(), 0);
    const std::string settings = ReadWholeFile(IniFile());
    EXPECT_NE(settings.find("Language=0"), std::string::npos) << settings;
    EXPECT_NE(settings.find("COMPort=COM7"), std::string::npos) << settings;
    EXPECT_EQ(settings.find("BaudRate"), std::string::npos) << settings;
}

// The start button drives a whole update to its report; the port field and the button stay
// disabled through the update thread, across a language switch; the close box in the middle asks
// first, and No lets the update go on. The report's OK ends the program.
TEST_F(TarnUpdateDialog, UpdatesTheDeviceAndAsksBeforeClosing)
{
    const HWND question = StartAndWaitForQuestion(L"Start Update");
    ASSERT_NE(question, nullptr) << "no question; status: " << Utf8(Text(IDC_STATUS_TEXT));
    EXPECT_NE(CWin32DialogDriver::StaticTexts(question).find(L"The following updates can be performed:"), std::wstring::npos)
        << Utf8(CWin32DialogDriver::StaticTexts(question));
    EXPECT_EQ(CWin32DialogDriver::Text(question, IDYES), L"Yes");
    EXPECT_EQ(CWin32DialogDriver::Text(question, IDNO), L"No");
    EXPECT_EQ(Text(IDC_STATUS_TEXT), L"Preparing ...");
    EXPECT_FALSE(Enabled(IDC_START_UPDATE));
    CWin32DialogDriver::Press(question, IDYES);

    // A processor's update runs.
    ASSERT_TRUE(CWin32DialogDriver::WaitUntil([&] {
        const std::wstring status = Text(IDC_STATUS_TEXT);
        return status.size() > 10 && status.compare(status.size() - 10, 10, L"Update ...") == 0;
    })) << Utf8(Text(IDC_STATUS_TEXT));
    EXPECT_FALSE(Enabled(IDC_START_UPDATE));
    EXPECT_FALSE(Enabled(IDC_COM_PORT_EDIT));

    CWin32DialogDriver::Choose(dialog, IDC_LANGUAGE_COMBO, 0);
    ASSERT_TRUE(WaitForText(IDC_LANGUAGE_LABEL, L"Sprache:"));
    EXPECT_FALSE(Enabled(IDC_START_UPDATE));

    CWin32DialogDriver::Close(dialog);
    const HWND ask = driver.WaitForWindow(L"Update abgebrochen");
    ASSERT_NE(ask, nullptr) << "closing during the update did not ask";
    EXPECT_EQ(CWin32DialogDriver::Text(ask, IDYES), L"Ja");
    EXPECT_EQ(CWin32DialogDriver::Text(ask, IDNO), L"Nein");
    CWin32DialogDriver::Press(ask, IDNO);
    EXPECT_TRUE(driver.WaitForWindowGone(ask));
    EXPECT_TRUE(IsWindow(dialog));

    const HWND report = driver.WaitForWindow(L"Update erfolgreich", std::chrono::seconds(180));
    ASSERT_NE(report, nullptr) << "no success report; status: " << Utf8(Text(IDC_STATUS_TEXT));
    EXPECT_NE(CWin32DialogDriver::StaticTexts(report).find(L"Das Update wurde erfolgreich beendet."), std::wstring::npos)
        << Utf8(CWin32DialogDriver::StaticTexts(report));
    EXPECT_FALSE(Enabled(IDC_START_UPDATE));
    CWin32DialogDriver::Press(report, IDOK);
    EXPECT_EQ(driver.WaitForExit(), 0) << "the report did not close the program";
}

// The service console from the system menu: the command helper's controls, and the device's answer
// to a device-information request rendered as the traffic dump renders it.
TEST_F(TarnUpdateDialog, ServiceConsoleShowsTheDevicesAnswer)
{
    CWin32DialogDriver::SystemCommand(dialog, IDM_SERVICE_CONSOLE);
    const HWND console = driver.WaitForWindow(L"Service console");
    ASSERT_NE(console, nullptr);
    const std::vector<std::wstring> requests = CWin32DialogDriver::ComboItems(GetDlgItem(console, IDC_CONSOLE_REQUESTS));
    ASSERT_EQ(requests.size(), 21u);
    EXPECT_EQ(requests.front(), L"CCPU_REQ_GET_DEVICE_INFO");
    EXPECT_EQ(SendMessageW(GetDlgItem(console, IDC_CONSOLE_REQUESTS), CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(CWin32DialogDriver::Text(console, IDC_CONSOLE_PARAMETER_LABEL), L"Property:");
    EXPECT_EQ(CWin32DialogDriver::Text(console, IDC_CONSOLE_VALUE_LABEL), L"n/a");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(console, IDC_CONSOLE_VALUE)));

    // Another request sets up the controls anew.
    CWin32DialogDriver::Choose(console, IDC_CONSOLE_REQUESTS, 20);
    EXPECT_TRUE(CWin32DialogDriver::WaitUntil([&] { return CWin32DialogDriver::Text(console, IDC_CONSOLE_VALUE_LABEL) == L"Mode:"; }));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(console, IDC_CONSOLE_VALUE)));
    CWin32DialogDriver::Choose(console, IDC_CONSOLE_REQUESTS, 0);
    ASSERT_TRUE(CWin32DialogDriver::WaitUntil([&] { return CWin32DialogDriver::Text(console, IDC_CONSOLE_VALUE_LABEL) == L"n/a"; }));

    CWin32DialogDriver::Press(console, IDC_CONSOLE_SEND);
    const HWND lines = GetDlgItem(console, IDC_CONSOLE_LINES);
    auto has = [&](const std::wstring& text) {
        const std::vector<std::wstring> items = CWin32DialogDriver::ListItems(lines);
        return std::any_of(items.begin(), items.end(), [&](const std::wstring& line) { return line.find(text) != std::wstring::npos; });
    };
    EXPECT_TRUE(CWin32DialogDriver::WaitUntil([&] { return has(L"> CCPU_REQ_GET_DEVICE_INFO"); }));
    EXPECT_TRUE(CWin32DialogDriver::WaitUntil([&] { return has(L"< CCPU_CMD_ID_ACK_GET_DEVICE_INFO"); }))
        << "status: " << Utf8(CWin32DialogDriver::Text(console, IDC_CONSOLE_STATUS));
    EXPECT_TRUE(has(L"serial number; QTR2-000123"));
    EXPECT_EQ(CWin32DialogDriver::Text(console, IDC_CONSOLE_STATUS), L"");

    CWin32DialogDriver::Close(console);
    EXPECT_TRUE(driver.WaitForWindowGone(console));
    EXPECT_EQ(CloseProgram(), 0);
}

// A processor left in its bootloader by an interrupted update: the start finds it, and the dialog
// asks whether to flash the journal's file again. With --images the question is pictured.
TEST_F(TarnUpdateDialog, OffersToRecoverAWaitingProcessor)
{
    ASSERT_TRUE(CWin32DialogDriver::WaitUntil([&] { return Enabled(IDC_START_UPDATE); }));
    CWin32DialogDriver::Press(dialog, IDC_START_UPDATE);
    // The device's identification times out first.
    const HWND question = driver.WaitForWindow(L"Start Update", std::chrono::seconds(60));
    ASSERT_NE(question, nullptr) << "no question; status: " << Utf8(Text(IDC_STATUS_TEXT));
    const std::wstring text = CWin32DialogDriver::StaticTexts(question);
    EXPECT_NE(text.find(L"A processor is waiting in its bootloader: chip 0x0413, bootloader 3.1."), std::wstring::npos)
        << Utf8(text);
    EXPECT_NE(text.find(L"The LCPU was left in its bootloader by the update of "), std::wstring::npos) << Utf8(text);
    EXPECT_NE(text.find(L"Flash V 01.03.00 again now?"), std::wstring::npos) << Utf8(text);
    if (!g_options.images.empty()) {
        Win32WindowImage image;
        ASSERT_TRUE(CWin32DialogDriver::WaitUntil([&] { return CaptureWindowImage(question, image); }));
        EXPECT_TRUE(SaveWindowImage(image, g_options.images + "\\windows-recovery-question-en.png"));
    }
    // Yes flashes it, and the start goes on with the device answering again: nothing else to do.
    CWin32DialogDriver::Press(question, IDYES);
    ExpectNothingLeftToDoAndClose();
}

// The same processor when the journal does not name the update that left it there: the dialog
// offers the firmware folder's files to choose from (not the CAN driver's), OK once one is picked.
TEST_F(TarnUpdateDialog, LetsTheOperatorChooseTheFileForAWaitingProcessor)
{
    ASSERT_TRUE(CWin32DialogDriver::WaitUntil([&] { return Enabled(IDC_START_UPDATE); }));
    CWin32DialogDriver::Press(dialog, IDC_START_UPDATE);
    const HWND chooser = driver.WaitForWindow(L"Start Update", std::chrono::seconds(60));
    ASSERT_NE(chooser, nullptr) << "no choice; status: " << Utf8(Text(IDC_STATUS_TEXT));
    const std::wstring text = CWin32DialogDriver::Text(chooser, IDC_CHOOSE_TEXT);
    EXPECT_EQ(text.rfind(L"A processor is waiting in its bootloader: chip 0x0413, bootloader 3.1.", 0), 0u) << Utf8(text);
    EXPECT_NE(text.find(L"Choose the firmware of that processor to flash it now, or cancel."), std::wstring::npos)
        << Utf8(text);
    const std::vector<std::wstring> items = CWin32DialogDriver::ListItems(GetDlgItem(chooser, IDC_CHOOSE_LIST));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].rfind(L"KCPU  V 01.05.00  ", 0), 0u) << Utf8(items[0]);
    EXPECT_EQ(items[1].rfind(L"LCPU  V 01.03.00  ", 0), 0u) << Utf8(items[1]);
    EXPECT_EQ(CWin32DialogDriver::Text(chooser, IDCANCEL), L"Cancel");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(chooser, IDOK)));
    if (!g_options.images.empty()) {
        Win32WindowImage image;
        ASSERT_TRUE(CWin32DialogDriver::WaitUntil([&] { return CaptureWindowImage(chooser, image); }));
        EXPECT_TRUE(SaveWindowImage(image, g_options.images + "\\windows-recovery-choice-en.png"));
    }
    CWin32DialogDriver::Pick(chooser, IDC_CHOOSE_LIST, 1);
    ASSERT_TRUE(CWin32DialogDriver::WaitUntil([&] { return IsWindowEnabled(GetDlgItem(chooser, IDOK)) != FALSE; }));
    CWin32DialogDriver::Press(chooser, IDOK);
    // The LCPU is flashed on the update thread; the start that follows finds nothing more to do.
    ExpectNothingLeftToDoAndClose();
}

// Not a test: the pictures of the documentation, with --images.
TEST_F(TarnUpdateDialog, Screenshots)
{
    if (g_options.images.empty())
        GTEST_SKIP() << "no --images folder";
    // The program draws through a display connection of its own: the picture is taken once it has
    // been drawn (it is not of one colour) and two looks at the screen agree.
    auto drawn = [](const Win32WindowImage& image) {
        for (std::size_t i = 3; i < image.rgb.size(); ++i)
            if (image.rgb[i] != image.rgb[i % 3])
                return true;
        return false;
    };
    auto save = [&](HWND window, const char* name) {
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Win32WindowImage before, now;
        EXPECT_TRUE(CWin32DialogDriver::WaitUntil([&] {
            before = now;
            return CaptureWindowImage(window, now) && drawn(now) && now == before;
        }, std::chrono::seconds(5))) << name << " was never drawn whole";
        EXPECT_TRUE(SaveWindowImage(now, g_options.images + "\\" + name)) << name;
    };
    ASSERT_TRUE(CWin32DialogDriver::WaitUntil([&] { return Enabled(IDC_START_UPDATE); }));
    // Room on the screen for the question beside the dialog.
    SetWindowPos(dialog, nullptr, 16, 16, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    struct Language
    {
        int index;
        const wchar_t* label;
        const wchar_t* question;
        const char* suffix;
    };
    for (const Language& language : { Language { 1, L"Language:", L"Start Update", "en" }, Language { 0, L"Sprache:", L"Update starten", "de" } }) {
        CWin32DialogDriver::Choose(dialog, IDC_LANGUAGE_COMBO, language.index);
        ASSERT_TRUE(WaitForText(IDC_LANGUAGE_LABEL, language.label));
        save(dialog, ("windows-dialog-idle-" + std::string(language.suffix) + ".png").c_str());
        const HWND question = StartAndWaitForQuestion(language.question);
        ASSERT_NE(question, nullptr);
        // The box sits over its dialog: beside it, each is seen whole.
        RECT rect {};
        GetWindowRect(dialog, &rect);
        SetWindowPos(question, nullptr, rect.right + 16, rect.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        save(dialog, ("windows-dialog-update-" + std::string(language.suffix) + ".png").c_str());
        save(question, ("windows-question-" + std::string(language.suffix) + ".png").c_str());
        CWin32DialogDriver::Press(question, IDNO);
        ASSERT_TRUE(driver.WaitForWindowGone(question));
    }
    CWin32DialogDriver::Choose(dialog, IDC_LANGUAGE_COMBO, 1);
    CWin32DialogDriver::SystemCommand(dialog, IDM_SERVICE_CONSOLE);
    const HWND console = driver.WaitForWindow(L"Service console");
    ASSERT_NE(console, nullptr);
    CWin32DialogDriver::Press(console, IDC_CONSOLE_SEND);
    const HWND lines = GetDlgItem(console, IDC_CONSOLE_LINES);
    EXPECT_TRUE(CWin32DialogDriver::WaitUntil([&] { return CWin32DialogDriver::ListItems(lines).size() >= 2; }));
    save(console, "windows-service-console.png");
    CWin32DialogDriver::Close(console);
    EXPECT_EQ(CloseProgram(), 0);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::wstring value = ZELPlatform::ToWide(argv[i + 1]);
        if (option == "--program")
            g_options.program = value;
        else if (option == "--work")
            g_options.work = value;
        else if (option == "--images")
            g_options.images = argv[i + 1];
        else {
            std::fprintf(stderr, "unknown option %s\n", option.c_str());
            return 2;
        }
    }
    return RUN_ALL_TESTS();
}
