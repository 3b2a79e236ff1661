#pragma once
// The screen cursor: one value for the whole application, shown over every window.
namespace plm {

enum class TScreenCursor {
  crDefault,   // each widget's own cursor
  crHourGlass, // busy: the user has to wait
  crAppStart,  // working in the background: the arrow with an hourglass
};

void SetScreenCursor(TScreenCursor cursor);
TScreenCursor ScreenCursor();

} // namespace plm
