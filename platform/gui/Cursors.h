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

// The hourglass (or another busy cursor) for as long as it lives; the cursor that was
// there before comes back on every path.
class TBusyCursor {
public:
  explicit TBusyCursor(TScreenCursor busy = TScreenCursor::crHourGlass) : fPrevious(ScreenCursor()) {
    SetScreenCursor(busy);
  }
  ~TBusyCursor() { SetScreenCursor(fPrevious); }
  TBusyCursor(const TBusyCursor &) = delete;
  TBusyCursor &operator=(const TBusyCursor &) = delete;

private:
  TScreenCursor fPrevious;
};

} // namespace plm
