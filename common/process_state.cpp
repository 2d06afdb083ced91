#include "common/process_state.h"

wchar_t WorkFolder[kPathCapacity] = {};
LocaleCodeSet LocaleCodes = {};
