#pragma once
// How the windowing system starts. The browser engine needs OpenGL contexts shared from
// the start; loading the graphics driver for them is most of a start's time. A start that
// will end as soon as its main window is made (another instance runs) can do without.
// Both calls come before the application object is made.
#include <string>
#include <vector>

namespace plm {

// OpenGL contexts shared, as the browser engine needs them; the page drawn into its window
// by Qt Quick's software scene.
void StartWithSharedGraphics();
// No OpenGL at all (and no warning about its absence): windows work, the browser engine
// must not start.
void StartWithoutGraphics();
bool StartedWithoutGraphics();
// Runs the program again from its start with the graphics and environment it was given,
// for a start without graphics that has to go on after all. Returns only on failure.
void RestartWithGraphics(const std::vector<std::string> &args);

} // namespace plm
