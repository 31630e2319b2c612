#include "app_win32/MainWindow_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cwchar>

#include "app_win32/BarcodeDiagram_win32.h"
#include "app_win32/CashRegDialog_win32.h"
#include "app_win32/DesktopIds.h"
#include "app_win32/WideText_win32.h"
#include "app_win32/Win32Dialogs_win32.h"
#include "base/BuildInfo.h"
#include "base/Win32Text.h"
#include "control/DisplayText.h"
#include "control/RegisterDialogModel.h"
#include "control/SettingsFields.h"
#include "control/StatusMonitor.h"
#include "control/StatusText.h"

namespace tallyport::desktop {
namespace {

// Messages of the window: the tray icon's mouse, the workers' queued notices.
constexpr UINT kTrayMessage = TALLYPORT_TRAY_MESSAGE;
constexpr UINT kNoticeMessage = WM_APP + 2;
// Timers: the look at the registers, the grid's status column while the window is visible, the
// search for a notification area that is missing.
constexpr UINT_PTR kStatusTimer = 1;
constexpr UINT_PTR kGridTimer = 2;
constexpr UINT_PTR kTrayTimer = 3;
constexpr UINT kStatusLookMs = 500;
constexpr UINT kGridStatusMs = 1000;
constexpr UINT kTrayPollMs = 1000;

// The layout was drawn for 8-point type, a line 13 pixels high: 442 x 273, a bottom bar of 41.
constexpr int kDesignedWidth = 442;
constexpr int kDesignedHeight = 273;
constexpr int kDesignedLine = 13;
constexpr int kDesignedBar = 41;
constexpr int kGridColumnWidths[] = {50, 70, 90, 187};

enum Page { kCashReg, kScale, kBackOffice, kOther, kAuthor, kPageCount };
constexpr const wchar_t* kPageCaptions[kPageCount] = {
    L"Case de Marcat", L"Coduri Cantar", L"Interfata BackOffice", L"Alte Setari", L"Autor..."};

// The controls enabled only while disconnected.
constexpr int kEditingControls[] = {
    IDC_INSERT,      IDC_EDIT,         IDC_DELETE,       IDC_GRID,        IDC_PREFIX,
    IDC_PLUFILE,     IDC_BONFILE,      IDC_TRANFILE,     IDC_BROWSE_PLU,  IDC_BROWSE_BON,
    IDC_BROWSE_TRAN, IDC_CARDFROM,     IDC_CARDTO,       IDC_RECDISCOUNT, IDC_RECDUEMULTIPAY,
    IDC_RECSEPFILES, IDC_RECDECINFILE, IDC_PARALLELLINES};

// The edits whose leaving stores the settings.
bool IsSettingEdit(int id) {
    return id == IDC_PREFIX || id == IDC_PLUFILE || id == IDC_BONFILE || id == IDC_TRANFILE ||
           id == IDC_CARDFROM || id == IDC_CARDTO;
}

bool IsOption(int id) {
    return id == IDC_RECDISCOUNT || id == IDC_RECDUEMULTIPAY || id == IDC_RECSEPFILES ||
           id == IDC_RECDECINFILE || id == IDC_PARALLELLINES;
}

bool Checked(HWND box) {
    return ::SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

HFONT MessageFont(int scalePercent, bool bold) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW font = metrics.lfMessageFont;
    font.lfHeight = font.lfHeight * scalePercent / 100;
    if (bold) {
        font.lfWeight = FW_BOLD;
    }
    return ::CreateFontIndirectW(&font);
}

}  // namespace

TfMain::TfMain(HINSTANCE instance, std::string configPath, Win32Dialogs& dialogs, ConsoleLog& log,
               ProgramHandlers handlers, std::string filesFolder, std::string helpFolder)
    : instance_(instance),
      dialogs_(dialogs),
      filesFolder_(std::move(filesFolder)),
      helpFolder_(std::move(helpFolder)),
      pages_(kPageCount, nullptr) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = icons_.Large(kImageConnected);
    windowClass.hIconSm = icons_.Small(kImageConnected);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = TALLYPORT_MAIN_CLASS;
    ::RegisterClassExW(&windowClass);

    font_ = MessageFont(100, false);
    bigFont_ = MessageFont(160, true);
    boldFont_ = MessageFont(100, true);
    white_ = ::CreateSolidBrush(RGB(255, 255, 255));
    taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");

    // Fixed single border with the system menu and a minimise button, no maximise button.
    const std::wstring caption = Wide(build_info::kProgramCaption);
    window_ = ::CreateWindowExW(
        WS_EX_CONTROLPARENT, TALLYPORT_MAIN_CLASS, caption.c_str(),
        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, CW_USEDEFAULT,
        CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance, this);
    dialogs_.SetOwner(window_);
    tray_ = std::make_unique<TrayIcon>(window_, kTrayMessage, kNoticeMessage, log);
    tray_->SetImage(icons_.Small(kImageDisconnected));
    BuildControls();
    Layout();
    ShowPage(kCashReg);
    session_ = std::make_unique<DesktopSession>(std::move(configPath), *this, dialogs, *tray_,
                                                std::move(handlers));
}

TfMain::~TfMain() {
    session_.reset();  // the workers stop before anything they use goes
    tray_.reset();
    if (window_) {
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
    if (trayMenu_) {
        ::DestroyMenu(trayMenu_);
    }
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(bigFont_),
                           static_cast<HGDIOBJ>(boldFont_), static_cast<HGDIOBJ>(white_)}) {
        ::DeleteObject(object);
    }
}

// ---- building -------------------------------------------------------------------------------

namespace {

constexpr wchar_t kPageClass[] = L"TallyportPage";
constexpr wchar_t kWhitePageClass[] = L"TallyportWhitePage";

// A tab's page: a window over the tab control's display area that holds the page's controls,
// paints its whole area (so a page that goes leaves nothing behind) and hands its controls'
// messages to the main window.
LRESULT CALLBACK PageProc(HWND page, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_DRAWITEM:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return ::SendMessageW(::GetParent(page), message, w, l);
        default:
            return ::DefWindowProcW(page, message, w, l);
    }
}

void RegisterPageClasses(HINSTANCE instance, HBRUSH white) {
    WNDCLASSEXW pageClass{};
    pageClass.cbSize = sizeof pageClass;
    pageClass.lpfnWndProc = PageProc;
    pageClass.hInstance = instance;
    pageClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    pageClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    pageClass.lpszClassName = kPageClass;
    ::RegisterClassExW(&pageClass);
    pageClass.hbrBackground = white;
    pageClass.lpszClassName = kWhitePageClass;
    ::RegisterClassExW(&pageClass);
}

}  // namespace

HWND TfMain::Add(const wchar_t* kind, const wchar_t* text, DWORD style, int id, int page,
                 DWORD exStyle) {
    HWND parent = page >= 0 ? pages_[static_cast<std::size_t>(page)] : window_;
    HWND control =
        ::CreateWindowExW(exStyle, kind, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    items_[id] = control;
    return control;
}

HWND TfMain::Item(int id) const {
    const auto found = items_.find(id);
    return found == items_.end() ? nullptr : found->second;
}

void TfMain::BuildControls() {
    HDC dc = ::GetDC(window_);
    HGDIOBJ old = ::SelectObject(dc, font_);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, old);
    ::ReleaseDC(window_, dc);
    lineHeight_ = metrics.tmHeight;
    charWidth_ = metrics.tmAveCharWidth;

    // Creation order is the order of the Tab key: each page's controls, then the bottom bar;
    // the tab control goes under every page (Layout).
    tabs_ = Add(WC_TABCONTROLW, L"", WS_TABSTOP | WS_CLIPSIBLINGS, IDC_TABS, -1);
    RegisterPageClasses(instance_, white_);
    for (int page = 0; page < kPageCount; ++page) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(kPageCaptions[page]);
        ::SendMessageW(tabs_, TCM_INSERTITEMW, static_cast<WPARAM>(page),
                       reinterpret_cast<LPARAM>(&item));
        // The Tab key goes into the page's controls.
        pages_[static_cast<std::size_t>(page)] = ::CreateWindowExW(
            WS_EX_CONTROLPARENT, page == kAuthor ? kWhitePageClass : kPageClass, L"",
            WS_CHILD | WS_CLIPCHILDREN, 0, 0, 10, 10, window_, nullptr, instance_, nullptr);
    }

    BuildGrid();
    const DWORD button = WS_TABSTOP | BS_PUSHBUTTON;
    Add(WC_BUTTONW, L"&Adauga", button, IDC_INSERT, kCashReg);
    Add(WC_BUTTONW, L"&Modifica", button, IDC_EDIT, kCashReg);
    Add(WC_BUTTONW, L"&Sterge", button, IDC_DELETE, kCashReg);

    Add(WC_STATICW, L"24 12345 12345 1", SS_OWNERDRAW, IDC_BARCODE, kScale);
    Add(WC_STATICW, L"Prefix Cod de Bare", SS_RIGHT, IDC_PREFIX_LABEL, kScale);
    Add(WC_EDITW, L"", WS_TABSTOP | ES_AUTOHSCROLL, IDC_PREFIX, kScale, WS_EX_CLIENTEDGE);
    Add(WC_STATICW, L"Lungime cod PLU - 5 caractere", SS_CENTER, IDC_NOTE_PLU, kScale);
    Add(WC_STATICW, L"Precizia pt greutate este de 3 zecimale dupa virgula - 0.000 Kg", SS_CENTER,
        IDC_NOTE_WEIGHT, kScale);

    const std::array<std::array<std::pair<const wchar_t*, int>, 3>, 3> files = {{
        {{{L"Fisier Articole (EAN8 / EAN13 / PLU)", IDC_PLUFILE_LABEL},
          {L"", IDC_PLUFILE},
          {L"...", IDC_BROWSE_PLU}}},
        {{{L"Fisier Inchideri Bon si Moduri de Plata", IDC_BONFILE_LABEL},
          {L"", IDC_BONFILE},
          {L"...", IDC_BROWSE_BON}}},
        {{{L"Fisier Tranzactii Case", IDC_TRANFILE_LABEL},
          {L"", IDC_TRANFILE},
          {L"...", IDC_BROWSE_TRAN}}},
    }};
    for (const auto& row : files) {
        Add(WC_STATICW, row[0].first, SS_LEFT, row[0].second, kBackOffice);
        Add(WC_EDITW, L"", WS_TABSTOP | ES_AUTOHSCROLL, row[1].second, kBackOffice,
            WS_EX_CLIENTEDGE);
        Add(WC_BUTTONW, row[2].first, button, row[2].second, kBackOffice);
    }

    Add(WC_BUTTONW, L" Tranzactii Carte de Credit ", BS_GROUPBOX, IDC_CARD_GROUP, kOther);
    Add(WC_STATICW, L"Suma Minima", SS_LEFT, IDC_CARDFROM_LABEL, kOther);
    Add(WC_EDITW, L"", WS_TABSTOP | ES_AUTOHSCROLL, IDC_CARDFROM, kOther, WS_EX_CLIENTEDGE);
    Add(WC_STATICW, L"Suma Maxima", SS_LEFT, IDC_CARDTO_LABEL, kOther);
    Add(WC_EDITW, L"", WS_TABSTOP | ES_AUTOHSCROLL, IDC_CARDTO, kOther, WS_EX_CLIENTEDGE);
    const DWORD check = WS_TABSTOP | BS_AUTOCHECKBOX;
    Add(WC_BUTTONW, L"Inregistrare discount in fisierul de tranzactii", check, IDC_RECDISCOUNT,
        kOther);
    Add(WC_BUTTONW, L"Inregistrare suma in cazul platii cu mai multe mijloace", check,
        IDC_RECDUEMULTIPAY, kOther);
    Add(WC_BUTTONW,
        L"Inregistrare de fisiere de vanzari separate pentru fiecare casa de marcat conectata",
        check, IDC_RECSEPFILES, kOther);
    Add(WC_BUTTONW, L"Inregistrare sume cu zecimale in fisierele aplicatiei", check,
        IDC_RECDECINFILE, kOther);
    Add(WC_BUTTONW, L"Interogarea caselor de marcat in paralel (recomandat peste 8 case)", check,
        IDC_PARALLELLINES, kOther);

    // The author page: the two pictures and the texts on a white page (WM_CTLCOLORSTATIC).
    HWND icon1 = Add(WC_STATICW, L"", SS_ICON, IDC_AUTHOR_ICON1, kAuthor);
    ::SendMessageW(icon1, STM_SETICON, reinterpret_cast<WPARAM>(icons_.Large(kImageConnected)), 0);
    HWND icon2 = Add(WC_STATICW, L"", SS_ICON, IDC_AUTHOR_ICON2, kAuthor);
    ::SendMessageW(icon2, STM_SETICON, reinterpret_cast<WPARAM>(icons_.Large(kImageDisconnected)),
                   0);
    HWND title = Add(WC_STATICW, Wide(build_info::kProgramCaption).c_str(), SS_LEFT,
                     IDC_AUTHOR_TITLE, kAuthor);
    ::SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(boldFont_), FALSE);
    Add(WC_STATICW,
        L"Legatura online intre casele de marcat fiscale si calculatorul magazinului.\r\n"
        L"Raspunde cererilor de articole, verifica platile cu cardul si scrie bonurile "
        L"inchise in fisierele pentru BackOffice.",
        SS_LEFT, IDC_AUTHOR_TEXT, kAuthor);
    Add(WC_STATICW, L"Instructiuni de folosire: butonul \"Help\" (ManualECR.htm).", SS_LEFT,
        IDC_AUTHOR_HELP, kAuthor);

    HWND connect = Add(WC_BUTTONW, L"&Conectare", button, IDC_CONNECT, -1);
    ::SendMessageW(connect, BM_SETIMAGE, IMAGE_ICON,
                   reinterpret_cast<LPARAM>(icons_.Small(kImageConnected)));
    Add(WC_BUTTONW, L"&Help", button, IDC_BTHELP, -1);
    Add(WC_BUTTONW, L"Iesire", button, IDC_CLOSE, -1);

    trayMenu_ = ::CreatePopupMenu();
    ::AppendMenuW(trayMenu_, MF_STRING, IDM_OPTIONS, L"Optiuni...");
    ::AppendMenuW(trayMenu_, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(trayMenu_, MF_STRING, IDM_CONNECT, L"Conecteaza");
    ::AppendMenuW(trayMenu_, MF_STRING, IDM_DISCONNECT, L"Deconecteaza");
    ::AppendMenuW(trayMenu_, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(trayMenu_, MF_STRING, IDM_EXIT, L"Iesire");
    ::SetMenuDefaultItem(trayMenu_, IDM_OPTIONS, FALSE);
}

void TfMain::BuildGrid() {
    grid_ = Add(WC_LISTVIEWW, L"",
                WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                IDC_GRID, kCashReg, WS_EX_CLIENTEDGE);
    ListView_SetExtendedListViewStyle(grid_,
                                      LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_INFOTIP);
    const int padding = charWidth_ * 2;
    const double scale = lineHeight_ / double(kDesignedLine);
    for (int column = 0; column < 6; ++column) {
        const std::wstring title = Wide(kRegisterGridTitles[column]);
        int width = TextWidth(title) + padding;
        if (column < 4) {
            width = std::max(static_cast<int>(kGridColumnWidths[column] * scale), width);
        } else if (column == 4) {
            // The remark shows at least a cash point's usual name.
            width = std::max(width, charWidth_ * 20);
        } else {
            // The status shows whole: the grid is disabled, so cannot be scrolled, while
            // connected, which is when the status matters.
            width = TextWidth(Wide(kWidestGridStatus)) + padding;
        }
        LVCOLUMNW item{};
        item.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        item.pszText = const_cast<wchar_t*>(title.c_str());
        item.cx = width;
        item.iSubItem = column;
        ::SendMessageW(grid_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column),
                       reinterpret_cast<LPARAM>(&item));
    }
}

int TfMain::TextWidth(const std::wstring& text, HFONT font) const {
    HDC dc = ::GetDC(window_);
    HGDIOBJ old = ::SelectObject(dc, font ? font : font_);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(window_, dc);
    return size.cx;
}

int TfMain::Scaled(int designed) const {
    return static_cast<int>(std::lround(designed * lineHeight_ / double(kDesignedLine)));
}

void TfMain::Layout() {
    RECT page{};  // the tabs' display area, in the window's coordinates
    // Places a control by the window's coordinates (a page's control relative to its page).
    const auto place = [this, &page](int id, int x, int y, int width, int height) {
        HWND control = Item(id);
        const bool onPage = ::GetParent(control) != window_;
        ::MoveWindow(control, onPage ? x - page.left : x, onPage ? y - page.top : y, width, height,
                     FALSE);
    };
    const int margin = Scaled(6);
    const int gap = Scaled(4);
    const int buttonHeight = Scaled(25);
    const int editHeight = lineHeight_ + Scaled(8);
    const int buttonWidth = std::max(Scaled(75), TextWidth(L"Deconectare") + Scaled(40));

    // The grid's width decides the window's: every column shows whole.
    int gridWidth = ::GetSystemMetrics(SM_CXVSCROLL) + 6;
    for (int column = 0; column < 6; ++column) {
        gridWidth += ListView_GetColumnWidth(grid_, column);
    }
    int tabsWidth = 0;
    for (const wchar_t* caption : kPageCaptions) {
        tabsWidth += TextWidth(caption) + charWidth_ * 4;
    }
    const int checkWidth =
        TextWidth(
            L"Inregistrare de fisiere de vanzari separate pentru fiecare casa de marcat "
            L"conectata") +
        Scaled(30);
    const int width = std::max({Scaled(kDesignedWidth), gridWidth + 2 * margin + Scaled(16),
                                tabsWidth + Scaled(16), checkWidth + 2 * margin + Scaled(16)});
    const int height = std::max(Scaled(kDesignedHeight), Scaled(300));
    const int bar = Scaled(kDesignedBar);

    // The window: its client area as computed, centred at its first showing (aOptionsExecute).
    RECT frame{0, 0, width, height};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_EXSTYLE)));
    ::SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    place(IDC_TABS, gap, gap, width - 2 * gap, height - bar - gap);
    ::SetWindowPos(tabs_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    page = RECT{gap, gap, width - gap, height - bar};
    ::SendMessageW(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&page));
    for (HWND pageWindow : pages_) {
        ::MoveWindow(pageWindow, page.left, page.top, page.right - page.left,
                     page.bottom - page.top, FALSE);
    }
    const int left = page.left + margin;
    const int inner = page.right - page.left - 2 * margin;

    // "Case de Marcat": the grid above its three buttons.
    const int buttonsTop = page.bottom - margin - buttonHeight;
    place(IDC_GRID, left, page.top + margin, inner, buttonsTop - margin - page.top - margin);
    place(IDC_INSERT, left, buttonsTop, buttonWidth, buttonHeight);
    place(IDC_EDIT, left + buttonWidth + gap, buttonsTop, buttonWidth, buttonHeight);
    place(IDC_DELETE, left + 2 * (buttonWidth + gap), buttonsTop, buttonWidth, buttonHeight);

    // "Coduri Cantar": the drawing, the prefix and the two notes, centred.
    const int drawingHeight = lineHeight_ * 6;
    int y = page.top + Scaled(20);
    place(IDC_BARCODE, left, y, inner, drawingHeight);
    y += drawingHeight + lineHeight_;
    const int prefixLabel = TextWidth(L"Prefix Cod de Bare") + charWidth_;
    const int prefixEdit = TextWidth(L"000") + charWidth_ * 3;
    const int prefixLeft = left + (inner - prefixLabel - gap - prefixEdit) / 2;
    place(IDC_PREFIX_LABEL, prefixLeft, y + (editHeight - lineHeight_) / 2, prefixLabel,
          lineHeight_);
    place(IDC_PREFIX, prefixLeft + prefixLabel + gap, y, prefixEdit, editHeight);
    y += editHeight + lineHeight_;
    place(IDC_NOTE_PLU, left, y, inner, lineHeight_);
    place(IDC_NOTE_WEIGHT, left, y + lineHeight_ + gap, inner, lineHeight_);

    // "Interfata BackOffice": each label above its edit with its browse button.
    const int browseWidth = TextWidth(L"...") + charWidth_ * 4;
    y = page.top + margin;
    for (const int label : {IDC_PLUFILE_LABEL, IDC_BONFILE_LABEL, IDC_TRANFILE_LABEL}) {
        place(label, left, y, inner, lineHeight_);
        place(label + 1, left, y + lineHeight_ + 2, inner - browseWidth - gap, editHeight);
        place(label + 2, left + inner - browseWidth, y + lineHeight_ + 2, browseWidth, editHeight);
        y += lineHeight_ + 2 + editHeight + margin + gap;
    }

    // "Alte Setari": the card limits in their group, the four options under it.
    const int groupHeight = lineHeight_ + editHeight + 2 * margin;
    place(IDC_CARD_GROUP, left, page.top + margin, inner, groupHeight);
    const int cardEdit = TextWidth(L"100000000.00") + charWidth_ * 3;
    const int cardLabel = std::max(TextWidth(L"Suma Minima"), TextWidth(L"Suma Maxima")) + gap;
    y = page.top + margin + lineHeight_ + margin / 2;
    int x = left + margin;
    place(IDC_CARDFROM_LABEL, x, y + (editHeight - lineHeight_) / 2, cardLabel, lineHeight_);
    place(IDC_CARDFROM, x + cardLabel, y, cardEdit, editHeight);
    x += cardLabel + cardEdit + Scaled(24);
    place(IDC_CARDTO_LABEL, x, y + (editHeight - lineHeight_) / 2, cardLabel, lineHeight_);
    place(IDC_CARDTO, x + cardLabel, y, cardEdit, editHeight);
    y = page.top + margin + groupHeight + margin;
    for (const int option : {IDC_RECDISCOUNT, IDC_RECDUEMULTIPAY, IDC_RECSEPFILES, IDC_RECDECINFILE,
                             IDC_PARALLELLINES}) {
        place(option, left, y, inner, lineHeight_ + Scaled(6));
        y += lineHeight_ + Scaled(10);
    }

    // "Autor...": the pictures at the left, the texts beside them.
    const int icon = ::GetSystemMetrics(SM_CXICON);
    place(IDC_AUTHOR_ICON1, left + margin, page.top + Scaled(20), icon, icon);
    place(IDC_AUTHOR_ICON2, left + margin, page.top + Scaled(20) + icon + margin, icon, icon);
    const int textLeft = left + margin + icon + Scaled(16);
    const int textWidth = page.right - margin - textLeft;
    place(IDC_AUTHOR_TITLE, textLeft, page.top + Scaled(20), textWidth, lineHeight_ + 4);
    place(IDC_AUTHOR_TEXT, textLeft, page.top + Scaled(20) + lineHeight_ * 2, textWidth,
          lineHeight_ * 4);
    place(IDC_AUTHOR_HELP, textLeft, page.top + Scaled(20) + lineHeight_ * 7, textWidth,
          lineHeight_ + 2);

    // The bottom bar: connect and help at the left, exit at the right.
    const int barTop = height - bar + (bar - buttonHeight) / 2;
    place(IDC_CONNECT, gap, barTop, buttonWidth + Scaled(10), buttonHeight);
    place(IDC_BTHELP, gap + buttonWidth + Scaled(10) + gap, barTop, buttonWidth, buttonHeight);
    place(IDC_CLOSE, width - gap - buttonWidth, barTop, buttonWidth, buttonHeight);
}

void TfMain::ShowPage(int page) {
    for (int index = 0; index < kPageCount; ++index) {
        ::ShowWindow(pages_[static_cast<std::size_t>(index)], index == page ? SW_SHOW : SW_HIDE);
    }
    ::SendMessageW(tabs_, TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
}

// ---- start-up and the view ------------------------------------------------------------------

TConnectionControl::StartupResult TfMain::Startup() {
    const auto result = session_->Startup();
    if (result == TConnectionControl::StartupResult::Running) {
        RefreshStatus();
        ::SetTimer(window_, kStatusTimer, kStatusLookMs, nullptr);
    }
    if (ShowWindowAtStartup(result, tray_->Visible())) {
        aOptionsExecute();
    }
    return result;
}

void TfMain::PrepareStartup() {
    ::ShowWindow(window_, SW_HIDE);
    tray_->SetImage(icons_.Small(kImageDisconnected));
    ShowTrayWhenAvailable();
}

void TfMain::ShowTrayWhenAvailable() {
    // At log-in the notification area often comes after the programs started with it: the icon
    // goes there as soon as it does.
    if (session_ && session_->Control().Ended()) {
        ::KillTimer(window_, kTrayTimer);
        return;
    }
    if (tray_->Show()) {
        ::KillTimer(window_, kTrayTimer);
    } else {
        ::SetTimer(window_, kTrayTimer, kTrayPollMs, nullptr);
    }
}

void TfMain::ShowSettings(const AppSettingsRecord& settings) {
    const SettingsFields fields = ShownSettings(settings);
    SetText(IDC_BARCODE, BarcodeSample(settings));
    ::InvalidateRect(Item(IDC_BARCODE), nullptr, TRUE);
    SetText(IDC_PREFIX, fields.prefix);
    SetText(IDC_PLUFILE, fields.articleFile);
    SetText(IDC_BONFILE, fields.receiptFile);
    SetText(IDC_TRANFILE, fields.transactionFile);
    SetText(IDC_CARDFROM, fields.cardFrom);
    SetText(IDC_CARDTO, fields.cardTo);
    const std::pair<int, bool> options[] = {{IDC_RECDISCOUNT, fields.recDiscount},
                                            {IDC_RECDUEMULTIPAY, fields.recAmount},
                                            {IDC_RECSEPFILES, fields.recSepFiles},
                                            {IDC_RECDECINFILE, fields.recDecimals},
                                            {IDC_PARALLELLINES, fields.parallelLines}};
    for (const auto& [id, ticked] : options) {
        ::SendMessageW(Item(id), BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
}

void TfMain::TakeSettings(AppSettingsRecord& settings) {
    SettingsFields fields;
    fields.prefix = TextOf(IDC_PREFIX);
    fields.articleFile = TextOf(IDC_PLUFILE);
    fields.receiptFile = TextOf(IDC_BONFILE);
    fields.transactionFile = TextOf(IDC_TRANFILE);
    fields.cardFrom = TextOf(IDC_CARDFROM);
    fields.cardTo = TextOf(IDC_CARDTO);
    fields.recDiscount = Checked(Item(IDC_RECDISCOUNT));
    fields.recAmount = Checked(Item(IDC_RECDUEMULTIPAY));
    fields.recSepFiles = Checked(Item(IDC_RECSEPFILES));
    fields.recDecimals = Checked(Item(IDC_RECDECINFILE));
    fields.parallelLines = Checked(Item(IDC_PARALLELLINES));
    TakeSettingsFields(fields, settings);
}

void TfMain::ShowRegisterList() {
    rows_ = session_->GridRows();
    ListView_DeleteAllItems(grid_);
    for (std::size_t index = 0; index < rows_.size(); ++index) {
        const RegisterGridRow& row = rows_[index];
        const std::wstring cells[] = {Wide(row.nrLogic), Wide(row.fiscal), Wide(row.port),
                                      Wide(row.model), Wide(row.remark)};
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(index);
        item.pszText = const_cast<wchar_t*>(cells[0].c_str());
        ::SendMessageW(grid_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        for (int column = 1; column < 5; ++column) {
            item.iSubItem = column;
            item.pszText = const_cast<wchar_t*>(cells[column].c_str());
            ::SendMessageW(grid_, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
        }
    }
    if (!rows_.empty()) {
        ListView_SetItemState(grid_, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
    RefreshGrid();
}

void TfMain::ShowConnectState(bool connected) {
    const ConnectLook look = ConnectLookOf(connected);
    ::EnableMenuItem(trayMenu_, IDM_CONNECT, look.connectEnabled ? MF_ENABLED : MF_GRAYED);
    ::EnableMenuItem(trayMenu_, IDM_DISCONNECT, look.disconnectEnabled ? MF_ENABLED : MF_GRAYED);
    for (const int id : kEditingControls) {
        ::EnableWindow(Item(id), look.settingsEnabled);
    }
    tray_->SetImage(icons_.Small(look.trayShowsConnected ? kImageConnected : kImageDisconnected));
    HWND button = Item(IDC_CONNECT);
    ::SetWindowTextW(button, Wide(look.buttonCaption).c_str());
    ::SendMessageW(button, BM_SETIMAGE, IMAGE_ICON,
                   reinterpret_cast<LPARAM>(icons_.Small(
                       look.buttonShowsConnected ? kImageConnected : kImageDisconnected)));
    if (!session_->Control().Loading()) {
        RefreshStatus();  // a connect or disconnect shows at once, not at the next look
        RefreshGrid();
    }
}

// ---- status ---------------------------------------------------------------------------------

void TfMain::RefreshStatus() {
    tray_->SetTip(Wide(session_->Look()));
}

void TfMain::RefreshGrid() {
    if (!::IsWindowVisible(window_) || !session_) {
        return;
    }
    const std::vector<RegisterStatus> status = session_->CurrentStatus();
    for (std::size_t index = 0; index < rows_.size(); ++index) {
        const std::wstring text = Wide(GridRowStatus(rows_[index], status));
        LVITEMW item{};
        item.iSubItem = 5;
        item.pszText = const_cast<wchar_t*>(text.c_str());
        ::SendMessageW(grid_, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
    }
}

void TfMain::GridTip(NMLVGETINFOTIPW& tip) {
    // A row's tip: why its port does not open (or what else went wrong), in the system's words.
    if (tip.iItem < 0 || static_cast<std::size_t>(tip.iItem) >= rows_.size() ||
        tip.cchTextMax < 1) {
        return;
    }
    const std::wstring text = Wide(
        GridRowStatusTip(rows_[static_cast<std::size_t>(tip.iItem)], session_->CurrentStatus()));
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(tip.cchTextMax - 1));
    std::wmemcpy(tip.pszText, text.data(), n);
    tip.pszText[n] = L'\0';
}

// ---- commands -------------------------------------------------------------------------------

void TfMain::Command(int id, int code) {
    if (code == EN_KILLFOCUS && IsSettingEdit(id)) {
        eParamEditExit();
        return;
    }
    if (code == BN_CLICKED && IsOption(id)) {
        eParamEditExit();
        return;
    }
    if (code != BN_CLICKED && code != 0 && code != 1) {
        return;
    }
    switch (id) {
        case IDM_OPTIONS:
            aOptionsExecute();
            break;
        case IDM_CONNECT:
            session_->Control().ConnectAction();
            break;
        case IDM_DISCONNECT:
            session_->Control().DisconnectAction();
            break;
        case IDM_EXIT:
        case IDC_CLOSE:
            aExitExecute();
            break;
        case IDC_CONNECT:
            session_->Control().ConnectButtonAction();
            break;
        case IDC_BTHELP:
            btHelpClick();
            break;
        case IDC_INSERT:
            OpenRegisterDialog(false);
            break;
        case IDC_EDIT:
            OpenRegisterDialog(true);
            break;
        case IDC_DELETE:
            btDeleteClick();
            break;
        case IDC_BROWSE_PLU:
        case IDC_BROWSE_BON:
        case IDC_BROWSE_TRAN:
            Browse(id - 1);
            break;
        default:
            break;
    }
}

void TfMain::aOptionsExecute() {
    if (::IsIconic(window_)) {
        ::ShowWindow(window_, SW_RESTORE);
    } else {
        ::ShowWindow(window_, SW_SHOW);
    }
    if (!placed_) {
        placed_ = true;
        RECT frame{};
        ::GetWindowRect(window_, &frame);
        RECT work{};
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        const int width = frame.right - frame.left;
        const int height = frame.bottom - frame.top;
        ::SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
                       work.top + (work.bottom - work.top - height) / 2, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER);
    }
    ::SetForegroundWindow(window_);
}

void TfMain::aExitExecute() {
    if (session_->WindowClosing()) {
        EndProgram();
    }
}

void TfMain::EndProgram() {
    ::KillTimer(window_, kStatusTimer);
    ::KillTimer(window_, kGridTimer);
    ::KillTimer(window_, kTrayTimer);
    tray_->Remove();
    ::ShowWindow(window_, SW_HIDE);
    ::PostQuitMessage(0);
}

void TfMain::btHelpClick() {
    // A missing manual gives no message.
    if (const auto manual = FindManual(helpFolder_)) {
        if (const auto path = win32::WideFromAnsi(*manual)) {
            ::ShellExecuteW(window_, L"open", path->c_str(), L"", L"", SW_SHOWNORMAL);
        }
    }
}

std::string TfMain::TextOf(int id) const {
    return Utf8(WindowText(Item(id)));
}

void TfMain::SetText(int id, const std::string& utf8) {
    ::SetWindowTextW(Item(id), Wide(utf8).c_str());
}

std::optional<std::size_t> TfMain::CurrentGridRow() const {
    const int row = ListView_GetNextItem(grid_, -1, LVNI_SELECTED);
    return row >= 0 ? std::optional<std::size_t>(static_cast<std::size_t>(row)) : std::nullopt;
}

void TfMain::OpenRegisterDialog(bool edit) {
    session_->RegisterDialog(edit, CurrentGridRow(), [this](RegisterDialogModel& model) {
        RunCashRegDialog(instance_, window_, model);
    });
}

void TfMain::btDeleteClick() {
    session_->DeleteRegister(CurrentGridRow());
}

void TfMain::Browse(int editId) {
    const auto chosen = dialogs_.ChooseFile(filesFolder_);
    if (!chosen) {
        return;
    }
    const SettingsFile file = editId == IDC_PLUFILE   ? SettingsFile::Articles
                              : editId == IDC_BONFILE ? SettingsFile::Receipts
                                                      : SettingsFile::Transactions;
    TakeChosenFile(session_->Control(), file, *chosen,
                   [this, editId](const std::string& shown) { SetText(editId, shown); });
}

void TfMain::eParamEditExit() {
    if (session_) {
        session_->Control().SettingsChanged();
    }
}

// ---- the tray -------------------------------------------------------------------------------

void TfMain::TrayMessage(UINT mouse) {
    switch (mouse) {
        case WM_LBUTTONDBLCLK:
            aOptionsExecute();
            break;
        case WM_RBUTTONUP:
            // With the newer notification behaviour a right click may bring WM_CONTEXTMENU as
            // well (the keyboard brings it alone): one menu per click.
            menuFromClick_ = true;
            ShowTrayMenu();
            break;
        case WM_CONTEXTMENU:
            if (menuFromClick_) {
                menuFromClick_ = false;
            } else {
                ShowTrayMenu();
            }
            break;
        case WM_RBUTTONDOWN:
        case WM_LBUTTONDOWN:
            menuFromClick_ = false;
            break;
        default:
            break;
    }
}

void TfMain::ShowTrayMenu() {
    POINT at{};
    ::GetCursorPos(&at);
    // The menu closes when the user clicks elsewhere only if the window is in the foreground.
    ::SetForegroundWindow(window_);
    ::TrackPopupMenu(trayMenu_, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0, window_, nullptr);
    ::PostMessageW(window_, WM_NULL, 0, 0);
}

// ---- drawing --------------------------------------------------------------------------------

// ---- the window procedure -------------------------------------------------------------------

LRESULT CALLBACK TfMain::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<TfMain*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        self->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TfMain*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) {
        return ::DefWindowProcW(window, message, w, l);
    }
    return self->Handle(message, w, l);
}

LRESULT TfMain::Handle(UINT message, WPARAM w, LPARAM l) {
    if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        if (tray_->Visible()) {
            tray_->Restore();
        }
        return 0;
    }
    switch (message) {
        case WM_COMMAND:
            Command(LOWORD(w), HIWORD(w));
            return 0;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(l);
            if (header->hwndFrom == tabs_ && header->code == TCN_SELCHANGE) {
                ShowPage(static_cast<int>(::SendMessageW(tabs_, TCM_GETCURSEL, 0, 0)));
            } else if (header->hwndFrom == grid_ && header->code == NM_DBLCLK) {
                OpenRegisterDialog(true);
            } else if (header->hwndFrom == grid_ && header->code == LVN_GETINFOTIPW) {
                GridTip(*reinterpret_cast<NMLVGETINFOTIPW*>(l));
            }
            return 0;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(l);
            if (item->CtlID == IDC_BARCODE) {
                DrawBarcode(*item, bigFont_, font_, lineHeight_);
                return TRUE;
            }
            break;
        }
        case WM_CTLCOLORSTATIC: {
            const int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(l));
            if (id >= IDC_AUTHOR_ICON1 && id <= IDC_AUTHOR_HELP) {
                ::SetBkColor(reinterpret_cast<HDC>(w), RGB(255, 255, 255));
                return reinterpret_cast<LRESULT>(white_);
            }
            break;
        }
        case WM_TIMER:
            if (w == kStatusTimer) {
                RefreshStatus();
            } else if (w == kGridTimer) {
                RefreshGrid();
            } else if (w == kTrayTimer) {
                ShowTrayWhenAvailable();
            }
            return 0;
        case WM_SHOWWINDOW:
            // The grid's status column is refreshed while the window is visible only.
            if (w) {
                ::SetTimer(window_, kGridTimer, kGridStatusMs, nullptr);
                ::PostMessageW(window_, WM_TIMER, kGridTimer, 0);
            } else {
                ::KillTimer(window_, kGridTimer);
            }
            break;
        case WM_SYSCOMMAND:
            // Minimised, the window goes to the tray, where the icon brings it back; while the
            // icon is not shown (no notification area yet) it stays on the task bar.
            if ((w & 0xFFF0) == SC_MINIMIZE && HideWhenMinimised(tray_->Visible())) {
                ::ShowWindow(window_, SW_HIDE);
                return 0;
            }
            break;
        case WM_CLOSE:
            aExitExecute();
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            // Logging off or shutting down cannot wait for open receipts: the journal keeps them.
            if (w && !session_->Control().Ended() &&
                session_->Control().RequestStop(true) == TConnectionControl::StopResult::Ended) {
                EndProgram();
            }
            return 0;
        case kTrayMessage:
            TrayMessage(LOWORD(l));
            return 0;
        case kNoticeMessage:
            tray_->ShowQueued();
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(window_, message, w, l);
}

}  // namespace tallyport::desktop
