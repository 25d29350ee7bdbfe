#include "frame/KeyIndicators.h"

#include <wx/statusbr.h>
#include <wx/utils.h>

#include "res/ResourceIds.h"
#include "res/StringTable.h"

namespace velomark {
namespace {

struct Indicator {
    unsigned stringId;
    wxKeyCode key;
};

constexpr Indicator kIndicators[KeyIndicators::kPaneCount] = {
    {res::ID_INDICATOR_CAPS, WXK_CAPITAL},
    {res::ID_INDICATOR_NUM, WXK_NUMLOCK},
    {res::ID_INDICATOR_SCRL, WXK_SCROLL},
};

}  // namespace

void KeyIndicators::SetIndicators(wxStatusBar& bar) {
    int widths[1 + kPaneCount] = {-1};
    for (int i = 0; i < kPaneCount; ++i)
        widths[1 + i] = bar.GetTextExtent(res::LoadResourceString(kIndicators[i].stringId)).x + 16;
    bar.SetFieldsCount(1 + kPaneCount, widths);
    bar.SetStatusText(res::LoadResourceString(res::AFX_IDS_IDLEMESSAGE), 0);
}

void KeyIndicators::Update(wxStatusBar& bar) {
    for (int i = 0; i < kPaneCount; ++i) {
        // wxGetKeyState reports the lock state of the three lock keys.
        const int on = wxGetKeyState(kIndicators[i].key) ? 1 : 0;
        if (on == m_shown[i]) continue;
        m_shown[i] = on;
        bar.SetStatusText(on ? res::LoadResourceString(kIndicators[i].stringId) : "",
                          kFirstPane + i);
    }
}

}  // namespace velomark
