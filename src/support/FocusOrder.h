#pragma once
#include <QString>
#include <optional>

namespace fw {

class DebugChannel;

// The states of the keys that steer the Status page's focus order, as 16-bit key states (high byte set while
// the key is down).
struct KeyStates {
    qint16 tab = 0;
    qint16 leftShift = 0;
    qint16 rightShift = 0;

    static constexpr qint16 kDown = -128; // 0xFF80
    static KeyStates none() { return {}; }
    static KeyStates tabDown() { return {kDown, 0, 0}; }
    static KeyStates shiftTabDown() { return {kDown, kDown, 0}; }
};

// 0 when Tab is not down, 2 for Tab with either Shift key, else 1. Writes its reading to the debugger channel:
// "GetTabState() - nIsTab=-128, nMask = -256, Result=-256, Shift=0".
qint16 GetTabState(const KeyStates& keys, DebugChannel& debug);

// Where the focus goes when a control of the Status page's order loses it.
struct FocusMove {
    QString debugLine; // "You just tabbed out of cmdExit"
    int tabMainIndex;  // the new tab-order position of tabMain
    QString target;    // the control that gets the focus
};

// The move for a control losing the focus with the given tab state (1 Tab, 2 Shift+Tab), or none.
// statusShown: the Status page is the shown page; tabMainIndex: tabMain's tab-order position now.
std::optional<FocusMove> statusFocusMove(const QString& control, int tabState, bool statusShown, int tabMainIndex);

// The Status page's controls in their design-time tab order (positions 61 to 72).
QStringList statusPageTabOrder();

} // namespace fw
