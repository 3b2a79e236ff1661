#pragma once
// The request to end the application. The start-up code reads it before it shows the
// main window: a program asked to end at start-up ends without ever showing a window.
namespace plm {

void TerminateApplication();
bool ApplicationTerminated();
// Tests start afresh.
void ClearTerminateRequest();

} // namespace plm
