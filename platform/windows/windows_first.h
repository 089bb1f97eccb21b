// Read first by every Windows translation unit: the system headers, then our declarations.
// libcurl's header brings in <windows.h>, whose macros (FALSE, GENERIC_READ, MB_OK, ...) would
// rewrite the names in namespace sys wherever they are used; they are dropped here.
#pragma once
// Winsock before the rest of Windows, as libcurl includes them.
#include <winsock2.h>

#include <windows.h>
#include <ws2tcpip.h>

#undef FALSE
#undef TRUE
#undef INVALID_HANDLE_VALUE
#undef GENERIC_READ
#undef GENERIC_WRITE
#undef FILE_WRITE_ATTRIBUTES
#undef DELETE
#undef FILE_SHARE_READ
#undef FILE_SHARE_WRITE
#undef FILE_SHARE_DELETE
#undef CREATE_NEW
#undef CREATE_ALWAYS
#undef OPEN_EXISTING
#undef OPEN_ALWAYS
#undef TRUNCATE_EXISTING
#undef FILE_ATTRIBUTE_READONLY
#undef FILE_ATTRIBUTE_DIRECTORY
#undef FILE_ATTRIBUTE_NORMAL
#undef FILE_ATTRIBUTE_REPARSE_POINT
#undef FILE_FLAG_OPEN_REPARSE_POINT
#undef INVALID_FILE_ATTRIBUTES
#undef MOVEFILE_REPLACE_EXISTING
#undef MOVEFILE_WRITE_THROUGH
#undef FILE_BEGIN
#undef FILE_CURRENT
#undef FILE_END
#undef INVALID_SET_FILE_POINTER
#undef ERROR_FILE_NOT_FOUND
#undef ERROR_PATH_NOT_FOUND
#undef ERROR_ACCESS_DENIED
#undef ERROR_SHARING_VIOLATION
#undef ERROR_LOCK_VIOLATION
#undef HEAP_ZERO_MEMORY
#undef CP_ACP
#undef CP_UTF8
#undef MB_OK
#undef IDOK
#undef GWL_EXSTYLE
#undef WS_EX_TOPMOST
#undef SWP_NOSIZE
#undef SWP_NOMOVE
#undef HWND_TOPMOST
#undef HWND_NOTOPMOST

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/heap.h"
#include "platform/process.h"
#include "platform/sockets.h"
#include "platform/text_codec.h"
#include "platform/types.h"
#include "platform/window.h"
