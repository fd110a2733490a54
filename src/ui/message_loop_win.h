// The thread's message loop, with keyboard navigation for modeless dialogs.
#pragma once
#include "platform/win32.h"

void AddModelessDialog(HWND dialog);
void RemoveModelessDialog(HWND dialog);
// Runs until WM_QUIT; returns its exit code.
int RunMessageLoop();
// Handles the messages already queued, then returns (tests and benchmarks).
void PumpPendingMessages();
