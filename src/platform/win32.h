// The one place that includes <windows.h>. Only *_win.cpp files include this.
#pragma once
#ifndef _WIN32
#error "win32.h is for Windows builds only"
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

// Macros that would rename our own methods and types.
#undef GetObject
#undef DrawText
#undef CreateWindow
#undef GetMessage
#undef SendMessage
#undef PostMessage
#undef LoadString
#undef GetUserName
#undef CreateFile
#undef DeleteFile
#undef CopyFile
#undef MoveFile
#undef GetCurrentDirectory
#undef StartService
#undef RegisterClass
#undef LoadIcon
#undef LoadImage
#undef GetClassName
#undef SetWindowText
#undef GetWindowText
#undef min
#undef max
