// The server chooser as the main window runs it after a login.
#pragma once
#include "platform/win32.h"

#include <functional>
#include <optional>
#include <string>

#include "app/login_controller.h"

// Modal over `owner`; nothing when the user cancelled. `fullUpdateAndExit`
// is what Yes to the chooser's upgrade question does.
std::optional<ChooserResult> RunServerChooser(HWND owner, const std::wstring& replyPath,
                                              std::function<void()> fullUpdateAndExit);
