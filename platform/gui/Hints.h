#pragma once
// How long a hint (tool tip) stays on screen, for the whole application.
namespace plm {

// The framework's starting value.
constexpr int DefaultHintHidePause = 2500;

int HintHidePause();
// Applies to every widget's tool tip from now on. Needs a running QApplication.
void SetHintHidePause(int ms);

} // namespace plm
