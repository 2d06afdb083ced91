#pragma once
// The runtime's descriptor calls that the shared handle owners name.
#include <unistd.h>

inline int _close(int descriptor) {
    return close(descriptor);
}
