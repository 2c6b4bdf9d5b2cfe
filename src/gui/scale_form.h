// Fitting a window to its controls. The window's layout holds fixed positions
// (device-independent pixels, which Qt scales with the screen); these helpers
// size the window from the controls that mark its right and bottom edges, and
// widen captions that the user's font draws wider than the layout planned.
#pragma once

class QWidget;

namespace quillet::gui {

// Client width := widthControl's left + width + rightMargin (plus its
// parent's left when the parent is not the form: one level only); client
// height likewise from heightControl's top and height and bottomMargin.
void FitFormToControls(QWidget* form, const QWidget* widthControl, const QWidget* heightControl, int rightMargin,
                       int bottomMargin);

// FitFormToControls with marginControl's left as both margins, so the right
// and bottom margins equal the left margin of the page.
void FitFormToPage(QWidget* form, const QWidget* widthControl, const QWidget* heightControl,
                   const QWidget* marginControl);

// Makes every label, check box and radio button under root at least as wide
// and as high as its caption needs, so that no caption is cut: a control grows
// to the right, and moves left when it would then leave its parent. Labels
// that are empty, word-wrapped or carry the "fixedWidth" property keep their
// size.
void KeepCaptionsWhole(QWidget* root);

// At a fractional scale (QT_SCALE_FACTOR=1.5, a 150% screen) a frame drawn on
// the very edge of a list or memo falls partly outside the device pixels the
// widget covers, and sides of it vanish. Under `root`, every framed list,
// tree and memo then gives up its own frame and shrinks a little, and its
// parent draws the frame in that margin, inside its own area.
// At whole scales nothing changes. Call once the layout is final.
void KeepFramesWhole(QWidget* root);

} // namespace quillet::gui
