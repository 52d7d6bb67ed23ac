#pragma once

#include "support/GuiTestSupport.h"

#include "ui/ClipboardReader.h"
#include "ui/NorvikFrame.h"

// Longer than the lookup's own time limit, so a lookup that hangs is the lookup's failure.
constexpr long kLookupLimitMs = 20000;

// Runs the event loop until the frame's lookup, if one runs, has been answered.
inline bool WaitForLookup(NorvikFrame* frame)
{
    return WaitFor([&] { return !frame->IsLookingUp(); }, kLookupLimitMs);
}

// Puts text on the clipboard and runs the frame's clipboard watch until it has taken it in
// and the lookup it started has been answered.
// The clipboard's answer comes from its owner, this very program here, through the event
// loop: runs the watch until the reader has asked about the change and had its answer.
inline void CopyAndCheck(NorvikFrame* frame, const wxString& text)
{
    constexpr long kAnswerLimitMs = 3000;
    CopyToClipboard(text);
    bool asked = false;
    EXPECT_TRUE(WaitFor(
        [&]
        {
            frame->CheckClipboard();
            asked = asked || frame->clipboardReader->IsAsking();
            return asked && !frame->clipboardReader->IsAsking();
        },
        kAnswerLimitMs))
        << "no answer about " << text;
    EXPECT_TRUE(WaitForLookup(frame)) << "no lookup answer for " << text;
}
