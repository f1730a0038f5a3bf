#include "common/show_error.h"

void showError(LPCWSTR text, LPCWSTR caption) { MessageBoxW(nullptr, text, caption, MB_OK); }
