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

// The hourglass for as long as it lives; the cursor that was there before comes back on
// every path.
class TBusyCursor {
public:
  TBusyCursor() : fPrevious(ScreenCursor()) { SetScreenCursor(TScreenCursor::crHourGlass); }
  ~TBusyCursor() { SetScreenCursor(fPrevious); }
  TBusyCursor(const TBusyCursor &) = delete;
  TBusyCursor &operator=(const TBusyCursor &) = delete;

private:
  TScreenCursor fPrevious;
};

} // namespace plm
