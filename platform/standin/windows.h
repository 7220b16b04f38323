// Linux stand-in for the Win32 subset that the units use. Same names, types
// and constants as <windows.h>; the functions act on the in-memory machine of
// machine.h, which tests arrange and inspect. Test equipment, not a Windows.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK

// ---- basic types ---------------------------------------------------------
using BYTE = unsigned char;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using BOOL = int;
using UINT = unsigned int;
using INT = int;
using CHAR = char;
using WCHAR = wchar_t;
using LPBYTE = BYTE *;
using LPDWORD = DWORD *;
using LPSTR = char *;
using LPCSTR = const char *;
using LPWSTR = wchar_t *;
using LPCWSTR = const wchar_t *;
using LPVOID = void *;
using LPCVOID = const void *;
using HANDLE = void *;
using LPHANDLE = HANDLE *;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using ATOM = WORD;
using LSTATUS = LONG;
using REGSAM = DWORD;

#define TRUE 1
#define FALSE 0

// Handle types named as <windows.h> names them, so that messages and
// debuggers read the same on both platforms.
// NOLINTBEGIN(bugprone-reserved-identifier)
struct HKEY__;
struct SC_HANDLE__;
struct HWND__;
struct HINSTANCE__;
struct HICON__;
struct HFONT__;
struct HDC__;
struct HBRUSH__;
struct HMENU__;
struct HWINSTA__;
// NOLINTEND(bugprone-reserved-identifier)
using HKEY = HKEY__ *;
using PHKEY = HKEY *;
using SC_HANDLE = SC_HANDLE__ *;
using HWND = HWND__ *;
using HINSTANCE = HINSTANCE__ *;
using HMODULE = HINSTANCE;
using HICON = HICON__ *;
using HCURSOR = HICON;
using HFONT = HFONT__ *;
using HDC = HDC__ *;
using HGDIOBJ = void *;  // as in <windows.h>: any GDI object converts to it
using HBRUSH = HBRUSH__ *;
using HMENU = HMENU__ *;
using HWINSTA = HWINSTA__ *;

#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

// ---- errors --------------------------------------------------------------
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MORE_DATA 234L
#define ERROR_SERVICE_DOES_NOT_EXIST 1060L
#define ERROR_SERVICE_MARKED_FOR_DELETE 1072L
#define ERROR_RESOURCE_LANG_NOT_FOUND 1815L

#define ERROR_MR_MID_NOT_FOUND 317L

DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD error);

// Windows' text for an error code; the stand-in knows a few (machine.h), in
// the system's language only.
using LANGID = WORD;
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                            LPSTR buffer, DWORD size, va_list *arguments);

// ---- code pages ----------------------------------------------------------
#define CP_ACP 0
#define CP_OEMCP 1  // the OEM code page, which a new console writes in
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount,
                               LPWSTR wide, int wideCount);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount,
                               LPSTR multiByte, int multiByteCount, LPCSTR defaultChar,
                               BOOL *usedDefaultChar);

// ---- registry ------------------------------------------------------------
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define KEY_READ 0x20019

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD dataSize);
LSTATUS WINAPI RegCloseKey(HKEY key);

// ---- service control manager ---------------------------------------------
#define SC_MANAGER_CONNECT 0x0001
#define SC_MANAGER_CREATE_SERVICE 0x0002
#define GENERIC_READ 0x80000000u
#define SERVICE_ALL_ACCESS 0xF01FF

#define SERVICE_STOPPED 1
#define SERVICE_START_PENDING 2
#define SERVICE_STOP_PENDING 3
#define SERVICE_RUNNING 4
#define SERVICE_CONTINUE_PENDING 5
#define SERVICE_PAUSE_PENDING 6
#define SERVICE_PAUSED 7

#define SERVICE_WIN32_OWN_PROCESS 0x10
#define SERVICE_AUTO_START 2
#define SERVICE_DEMAND_START 3
#define SERVICE_DISABLED 4

struct SERVICE_STATUS {
  DWORD dwServiceType;
  DWORD dwCurrentState;
  DWORD dwControlsAccepted;
  DWORD dwWin32ExitCode;
  DWORD dwServiceSpecificExitCode;
  DWORD dwCheckPoint;
  DWORD dwWaitHint;
};
using LPSERVICE_STATUS = SERVICE_STATUS *;

struct QUERY_SERVICE_CONFIGA {
  DWORD dwServiceType;
  DWORD dwStartType;
  DWORD dwErrorControl;
  LPSTR lpBinaryPathName;
  LPSTR lpLoadOrderGroup;
  DWORD dwTagId;
  LPSTR lpDependencies;
  LPSTR lpServiceStartName;
  LPSTR lpDisplayName;
};
using LPQUERY_SERVICE_CONFIGA = QUERY_SERVICE_CONFIGA *;

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD access);
SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access);
BOOL WINAPI QueryServiceStatus(SC_HANDLE handle, LPSERVICE_STATUS status);
BOOL WINAPI QueryServiceConfigA(SC_HANDLE handle, LPQUERY_SERVICE_CONFIGA config, DWORD bufferSize,
                                LPDWORD bytesNeeded);
BOOL WINAPI DeleteService(SC_HANDLE handle);
BOOL WINAPI CloseServiceHandle(SC_HANDLE handle);

// ---- the process's token: who runs it, and whether elevated ---------------
using PSID = void *;
#define TOKEN_QUERY 0x0008
#define SECURITY_MAX_SID_SIZE 68
// NOLINTNEXTLINE(performance-enum-size): Win32's own, of Windows' size
enum TOKEN_INFORMATION_CLASS { TokenUser = 1, TokenElevation = 20 };
struct SID_AND_ATTRIBUTES {
  PSID Sid;
  DWORD Attributes;
};
struct TOKEN_USER {
  SID_AND_ATTRIBUTES User;
};
struct TOKEN_ELEVATION {
  DWORD TokenIsElevated;
};
HANDLE WINAPI GetCurrentProcess();
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, HANDLE *token);
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass,
                                LPVOID information, DWORD length, LPDWORD returnLength);

// ---- event log -----------------------------------------------------------
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004
HANDLE WINAPI RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName);
BOOL WINAPI ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                         WORD stringCount, DWORD dataSize, LPCSTR *strings, LPVOID data);
BOOL WINAPI DeregisterEventSource(HANDLE eventLog);

// Reading the log back, as the self-test kit does.
#define ERROR_HANDLE_EOF 38L
#define EVENTLOG_SEQUENTIAL_READ 0x0001
#define EVENTLOG_SEEK_READ 0x0002
#define EVENTLOG_FORWARDS_READ 0x0004
#define EVENTLOG_BACKWARDS_READ 0x0008
using PDWORD = DWORD *;
struct EVENTLOGRECORD {
  DWORD Length;
  DWORD Reserved;
  DWORD RecordNumber;
  DWORD TimeGenerated;
  DWORD TimeWritten;
  DWORD EventID;
  WORD EventType;
  WORD NumStrings;
  WORD EventCategory;
  WORD ReservedFlags;
  DWORD ClosingRecordNumber;
  DWORD StringOffset;
  DWORD UserSidLength;
  DWORD UserSidOffset;
  DWORD DataLength;
  DWORD DataOffset;
};
HANDLE WINAPI OpenEventLogA(LPCSTR serverName, LPCSTR sourceName);
BOOL WINAPI ReadEventLogA(HANDLE eventLog, DWORD readFlags, DWORD recordOffset, LPVOID buffer,
                          DWORD bytesToRead, DWORD *bytesRead, DWORD *minNumberOfBytesNeeded);
BOOL WINAPI GetNumberOfEventLogRecords(HANDLE eventLog, PDWORD numberOfRecords);
BOOL WINAPI GetOldestEventLogRecord(HANDLE eventLog, PDWORD oldestRecord);
BOOL WINAPI CloseEventLog(HANDLE eventLog);

// ---- processes, waits, time ----------------------------------------------
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259u
#define STARTF_USESHOWWINDOW 0x00000001
#define STARTF_USESTDHANDLES 0x00000100
#define NORMAL_PRIORITY_CLASS 0x00000020
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES *;

struct STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};
using LPSTARTUPINFOA = STARTUPINFOA *;

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION *;

BOOL WINAPI CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                           LPSECURITY_ATTRIBUTES processAttributes,
                           LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                           DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                           LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION processInformation);
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Files: the null device "NUL", and new files in the temporary folder, which
// children started with them as standard handles write their output to.
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define CREATE_NEW 1
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000
#define ERROR_FILE_EXISTS 80L
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
// A file's attributes: those planted, a directory or a link among them.
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400
#define INVALID_FILE_ATTRIBUTES (static_cast<DWORD>(-1))
DWORD WINAPI GetFileAttributesA(LPCSTR fileName);
// File names compared as Windows compares them: here, ASCII case folded.
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3
int WINAPI CompareStringOrdinal(LPCWSTR string1, int count1, LPCWSTR string2, int count2,
                                BOOL ignoreCase);
HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE templateFile);
DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer);
struct LARGE_INTEGER {
  long long QuadPart;
};
BOOL WINAPI GetFileSizeEx(HANDLE handle, LARGE_INTEGER *size);
// Only what a synchronous read at an offset uses.
struct OVERLAPPED {
  std::uintptr_t Internal;
  std::uintptr_t InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED *;
BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD read,
                     LPOVERLAPPED overlapped);
BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
BOOL WINAPI CloseHandle(HANDLE handle);
void WINAPI Sleep(DWORD milliseconds);
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);
// The process's session, and the version of Windows: major, minor, build.
DWORD WINAPI GetCurrentProcessId();
BOOL WINAPI ProcessIdToSessionId(DWORD processId, DWORD *sessionId);
DWORD WINAPI GetVersion();
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);

// ---- windows, messages, GDI ----------------------------------------------
#define WINUSERAPI
using WNDPROC = LRESULT(CALLBACK *)(HWND, UINT, WPARAM, LPARAM);

struct POINT {
  LONG x;
  LONG y;
};
struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
using LPRECT = RECT *;

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
using LPMSG = MSG *;

struct WNDCLASSEXA {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
  HICON hIconSm;
};

#define LF_FACESIZE 32
struct LOGFONTA {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  CHAR lfFaceName[LF_FACESIZE];
};

struct NONCLIENTMETRICSA {
  UINT cbSize;
  int iBorderWidth;
  int iScrollWidth;
  int iScrollHeight;
  int iCaptionWidth;
  int iCaptionHeight;
  LOGFONTA lfCaptionFont;
  int iSmCaptionWidth;
  int iSmCaptionHeight;
  LOGFONTA lfSmCaptionFont;
  int iMenuWidth;
  int iMenuHeight;
  LOGFONTA lfMenuFont;
  LOGFONTA lfStatusFont;
  LOGFONTA lfMessageFont;
  int iPaddedBorderWidth;
};

#define MAKEINTRESOURCEA(i) \
  (reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(static_cast<WORD>(i))))
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IMAGE_ICON 1
#define LR_DEFAULTCOLOR 0x0000
#define LR_SHARED 0x8000

#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_EX_DLGMODALFRAME 0x00000001L
#define WS_EX_APPWINDOW 0x00040000L
#define WS_EX_CONTROLPARENT 0x00010000L
#define BS_GROUPBOX 0x00000007L
#define SS_LEFT 0x00000000L
#define SS_ICON 0x00000003L
#define SS_NOPREFIX 0x00000080L
#define SS_REALSIZEIMAGE 0x00000800L
#define CW_USEDEFAULT (static_cast<int>(0x80000000u))
#define COLOR_BTNFACE 15

#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_SETFONT 0x0030
#define WM_GETTEXT 0x000D
#define WM_SETICON 0x0080
#define WM_PAINT 0x000F
#define WM_SYSCOMMAND 0x0112
#define WM_APP 0x8000
#define SC_CLOSE 0xF060
#define ICON_SMALL 0
#define ICON_BIG 1
#define STM_SETICON 0x0170
#define STM_SETIMAGE 0x0172
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define RDW_INVALIDATE 0x0001
#define RDW_ERASE 0x0004
#define RDW_ALLCHILDREN 0x0080
#define RDW_UPDATENOW 0x0100
#define RDW_FRAME 0x0400

#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CXICON 11
#define SM_CYICON 12
#define SM_CXSMICON 49
#define SM_CYSMICON 50
#define SPI_GETWORKAREA 0x0030
#define SPI_GETNONCLIENTMETRICS 0x0029
#define LOGPIXELSX 88
#define LOGPIXELSY 90
#define DT_LEFT 0x0000
#define DT_WORDBREAK 0x0010
#define DT_CALCRECT 0x0400
#define DT_NOPREFIX 0x0800

#define MB_OK 0x00000000L
#define MB_ICONHAND 0x00000010L
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONERROR MB_ICONHAND
#define MB_SETFOREGROUND 0x00010000L
#define MB_TASKMODAL 0x00002000L
#define IDOK 1

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA *windowClass);
BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance);
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param);
BOOL WINAPI DestroyWindow(HWND window);
LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI ShowWindow(HWND window, int command);
BOOL WINAPI UpdateWindow(HWND window);
BOOL WINAPI RedrawWindow(HWND window, const RECT *update, void *region, UINT flags);
BOOL WINAPI IsWindow(HWND window);
BOOL WINAPI IsWindowVisible(HWND window);
BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text);
int WINAPI GetWindowTextA(HWND window, LPSTR text, int maxCount);
BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL WINAPI AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD exStyle);
BOOL WINAPI GetClientRect(HWND window, LPRECT rect);
BOOL WINAPI GetWindowRect(HWND window, LPRECT rect);
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL WINAPI TranslateMessage(const MSG *msg);
LRESULT WINAPI DispatchMessageA(const MSG *msg);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// The process's window station: whether anyone sees it.
#define UOI_FLAGS 1
#define WSF_VISIBLE 0x0001
struct USEROBJECTFLAGS {
  BOOL fInherit;
  BOOL fReserved;
  DWORD dwFlags;
};
HWINSTA WINAPI GetProcessWindowStation();
BOOL WINAPI GetUserObjectInformationA(HANDLE object, int index, LPVOID info, DWORD length,
                                      LPDWORD lengthNeeded);
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name);
HANDLE WINAPI LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT flags);
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name);
BOOL WINAPI DestroyIcon(HICON icon);
int WINAPI GetSystemMetrics(int index);
BOOL WINAPI SystemParametersInfoA(UINT action, UINT param, LPVOID data, UINT winIni);
HDC WINAPI GetDC(HWND window);
int WINAPI ReleaseDC(HWND window, HDC dc);
int WINAPI GetDeviceCaps(HDC dc, int index);
HFONT WINAPI CreateFontIndirectA(const LOGFONTA *font);
HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object);
BOOL WINAPI DeleteObject(HGDIOBJ object);
int WINAPI DrawTextA(HDC dc, LPCSTR text, int count, LPRECT rect, UINT format);
int WINAPI MulDiv(int number, int numerator, int denominator);
HBRUSH WINAPI GetSysColorBrush(int index);
