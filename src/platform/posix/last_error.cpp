#include "platform/posix/last_error.h"

#include <cerrno>

namespace tarvesk_posix {

DWORD win32Error(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
      return ERROR_ACCESS_DENIED;  // Win32's answer for a port in use
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOTTY:
      return ERROR_INVALID_FUNCTION;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace tarvesk_posix

// The layer keeps no state of its own, so the last error is errno,
// translated. Its functions leave errno describing their failure; it is only
// meaningful right after a call that failed.
DWORD GetLastError() { return tarvesk_posix::win32Error(errno); }
