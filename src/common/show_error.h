#pragma once

#include "platform/platform.h"

// The core's word for what it tells the user is "error".
// Tells the user about a failure they can act on: a modal message box with no
// owner window and only an OK button. Returns once the user has dismissed it.
void showError(LPCWSTR text, LPCWSTR caption);
