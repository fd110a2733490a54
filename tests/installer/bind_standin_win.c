/* A stand-in bind module for the installer test: records each registration
   call, one word a line, in the file named by QUILLNET_BIND_STANDIN_LOG. */
#include <windows.h>

static HRESULT Record(const char* word) {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("QUILLNET_BIND_STANDIN_LOG", path, sizeof path);
  if (n == 0 || n >= sizeof path) return E_FAIL;
  HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (f == INVALID_HANDLE_VALUE) return E_FAIL;
  DWORD written = 0;
  WriteFile(f, word, (DWORD)lstrlenA(word), &written, NULL);
  WriteFile(f, "\n", 1, &written, NULL);
  CloseHandle(f);
  return S_OK;
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer(void) { return Record("register"); }
__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void) { return Record("unregister"); }
