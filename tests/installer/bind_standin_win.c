/* A stand-in bind module for the installer test: records each registration
   call, one word a line, in the file named by QUILLNET_BIND_STANDIN_LOG,
   followed by " x86" when the 32-bit module lies beside it in x86\, as the
   real module needs it to register into the 32-bit catalog. */
#include <windows.h>

static int HasModule32(void) {
  HMODULE self = NULL;
  char path[MAX_PATH + 32];
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          (LPCSTR)&HasModule32, &self)) return 0;
  DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 0;
  char* slash = path + n;
  while (slash > path && slash[-1] != '\\' && slash[-1] != '/') --slash;
  lstrcpyA(slash, "x86\\QuillnetBind.dll");
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

static HRESULT Record(const char* word) {
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("QUILLNET_BIND_STANDIN_LOG", path, sizeof path);
  if (n == 0 || n >= sizeof path) return E_FAIL;
  HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (f == INVALID_HANDLE_VALUE) return E_FAIL;
  DWORD written = 0;
  WriteFile(f, word, (DWORD)lstrlenA(word), &written, NULL);
  if (HasModule32()) WriteFile(f, " x86", 4, &written, NULL);
  WriteFile(f, "\n", 1, &written, NULL);
  CloseHandle(f);
  return S_OK;
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer(void) { return Record("register"); }
__declspec(dllexport) HRESULT WINAPI DllUnregisterServer(void) { return Record("unregister"); }
