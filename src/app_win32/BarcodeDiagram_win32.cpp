#include "app_win32/BarcodeDiagram_win32.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app_win32/WideText_win32.h"

namespace tallyport::desktop {

void DrawBarcode(const DRAWITEMSTRUCT& item, HFONT bigFont, HFONT font, int lineHeight) {
    HDC dc = item.hDC;
    const RECT box = item.rcItem;
    ::FillRect(dc, &box, ::GetSysColorBrush(COLOR_BTNFACE));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    const std::wstring text = WindowText(item.hwndItem);
    // The sample code, its four parts bracketed, a line from each to its label below.
    std::vector<std::wstring> parts;
    for (std::size_t start = 0;;) {
        const std::size_t space = text.find(L' ', start);
        parts.push_back(text.substr(start, space - start));
        if (space == std::wstring::npos) {
            break;
        }
        start = space + 1;
    }
    HGDIOBJ oldFont = ::SelectObject(dc, bigFont);
    SIZE whole{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &whole);
    const int textLeft = box.left + (box.right - box.left - whole.cx) / 2;
    const int textTop = box.top;
    ::TextOutW(dc, textLeft, textTop, text.c_str(), static_cast<int>(text.size()));
    if (parts.size() != 4) {
        ::SelectObject(dc, oldFont);
        return;
    }
    int bounds[4][2] = {};
    std::size_t offset = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        SIZE before{};
        SIZE after{};
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(offset), &before);
        ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(offset + parts[i].size()),
                                &after);
        bounds[i][0] = textLeft + before.cx;
        bounds[i][1] = textLeft + after.cx;
        offset += parts[i].size() + 1;
    }
    ::SelectObject(dc, font);
    const wchar_t* names[4] = {L"Prefix", L"Cod PLU", L"Greutate", L"CRC EAN"};
    const int bracketY = textTop + whole.cy + 3;
    const int labelTop = box.bottom - lineHeight - 2;
    // The labels sit in four slots under the code, twice its width, not across the whole page.
    const int labelsWidth = std::min<int>(box.right - box.left, whole.cx * 2);
    const int labelsLeft = box.left + (box.right - box.left - labelsWidth) / 2;
    const int slot = labelsWidth / 4;
    HPEN pen = ::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_WINDOWTEXT));
    HGDIOBJ oldPen = ::SelectObject(dc, pen);
    for (int i = 0; i < 4; ++i) {
        const int left = bounds[i][0];
        const int right = bounds[i][1];
        ::MoveToEx(dc, left, bracketY - 3, nullptr);
        ::LineTo(dc, left, bracketY);
        ::LineTo(dc, right, bracketY);
        ::LineTo(dc, right, bracketY - 4);
        const int labelCenter = labelsLeft + slot * i + slot / 2;
        const int from = (left + right) / 2;
        const int bend = (bracketY + labelTop) / 2;
        ::MoveToEx(dc, from, bracketY, nullptr);
        ::LineTo(dc, from, bend);
        ::LineTo(dc, labelCenter, bend);
        ::LineTo(dc, labelCenter, labelTop - 2);
        RECT label{labelsLeft + slot * i, labelTop, labelsLeft + slot * (i + 1), box.bottom};
        ::DrawTextW(dc, names[i], -1, &label, DT_CENTER | DT_SINGLELINE | DT_TOP);
    }
    ::SelectObject(dc, oldPen);
    ::DeleteObject(pen);
    ::SelectObject(dc, oldFont);
}

}  // namespace tallyport::desktop
